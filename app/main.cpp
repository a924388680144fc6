#include "app/Application.h"
#include "app/TFCOMM.h"

int main(int argc, char* argv[]) {
    // Reports an exception that escapes any event handler and goes on.
    qm45::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm45"));
    // The task-bar entry carries no text of its own; the window caption says it all.
    QApplication::setApplicationDisplayName(QString());

    // The window hands such errors to its general error report while it lives.
    qm45::TFCOMM window;
    QObject::connect(&window, &qm45::TFCOMM::terminateRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
