#include "app/Application.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qm45 {

namespace {
// The write end of the running application's signal socket. A signal handler
// may do little more than write(2); the event loop reads the byte.
volatile std::sig_atomic_t gSignalFd = -1;

extern "C" void onTerminationSignal(int) {
    const int saved = errno;
    const int fd = gSignalFd;
    if (fd >= 0) {
        const char byte = 1;
        if (::write(fd, &byte, 1) < 0) {
            // The socket is full: a quit is pending already.
        }
    }
    errno = saved;
}

UncaughtErrorHandler& handlerSlot() {
    static UncaughtErrorHandler handler;
    return handler;
}
} // namespace

void setUncaughtErrorHandler(UncaughtErrorHandler handler) {
    handlerSlot() = std::move(handler);
}

bool hasUncaughtErrorHandler() {
    return bool(handlerSlot());
}

QString describeException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory.");
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        return text.isEmpty() ? QStringLiteral("An unknown error occurred.") : text;
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}

void reportCurrentException() noexcept {
    try {
        const QString text = describeException(std::current_exception());
        // A copy: the handler may replace itself.
        const UncaughtErrorHandler handler = handlerSlot();
        if (handler)
            handler(text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    } catch (...) {
        // Out of memory while reporting: nothing more can be done.
    }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalFds_) != 0) {
        std::perror("qm45: no signal socket; SIGTERM will end the program without cleaning up");
        signalFds_[0] = signalFds_[1] = -1;
        return;
    }
    auto* notifier = new QSocketNotifier(signalFds_[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Application::takeTerminationSignal);
    gSignalFd = signalFds_[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

Application::~Application() {
    if (signalFds_[0] < 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    gSignalFd = -1;
    ::close(signalFds_[0]);
    ::close(signalFds_[1]);
}

void Application::takeTerminationSignal() {
    char bytes[16];
    while (::read(signalFds_[0], bytes, sizeof bytes) > 0) {
    }
    quit();
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentException();
        return false;
    }
}

} // namespace qm45
