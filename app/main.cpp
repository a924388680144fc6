#include "app/TFCOMM.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm45"));
    // The task-bar entry carries no text of its own; the window caption says it all.
    QApplication::setApplicationDisplayName(QString());

    qm45::TFCOMM window;
    QObject::connect(&window, &qm45::TFCOMM::terminateRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
