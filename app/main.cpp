#include "app/Application.h"
#include "app/TFCOMM.h"

#include <QIcon>

int main(int argc, char* argv[]) {
    // Reports an exception that escapes any event handler and goes on.
    qm45::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm45"));
    // The task-bar entry carries no text of its own; the window caption says it all.
    QApplication::setApplicationDisplayName(QString());
    // Ties the window to its desktop entry (the Wayland app id) and gives it the
    // menu's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.qm45meter.qm45"));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/io.github.qm45meter.qm45.png").arg(size),
                     QSize(size, size));
    QApplication::setWindowIcon(icon);

    // The window hands such errors to its general error report while it lives.
    qm45::TFCOMM window;
    QObject::connect(&window, &qm45::TFCOMM::terminateRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
