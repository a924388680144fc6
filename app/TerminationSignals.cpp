#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace qm45 {

namespace {
// The write end of the signal socket. A signal handler may do little more
// than write(2); the event loop reads the byte.
volatile std::sig_atomic_t gSignalFd = -1;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    const int fd = gSignalFd;
    if (fd >= 0) {
        const char byte = static_cast<char>(signal);
        if (::write(fd, &byte, 1) < 0) {
            // The socket is full: an end is pending already.
        }
    }
    errno = saved;
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
        std::perror("no signal socket; SIGTERM will end the program without cleaning up");
        fds_[0] = fds_[1] = -1;
        return;
    }
    auto* notifier = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::take);
    gSignalFd = fds_[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        // A hang-up ignored when the program started stays ignored: that is
        // how nohup keeps a run going after logout. SIGINT and SIGTERM always
        // end the run in order, also in a background job of a script, whose
        // shell starts it with SIGINT ignored.
        struct sigaction before {};
        if (kSignals[i] == SIGHUP && sigaction(SIGHUP, nullptr, &before) == 0 &&
            before.sa_handler == SIG_IGN)
            continue;
        if (sigaction(kSignals[i], &action, nullptr) == 0)
            caught_[i] = true;
    }
}

TerminationSignals::~TerminationSignals() {
    if (fds_[0] < 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (caught_[i])
            sigaction(kSignals[i], &action, nullptr);
    }
    gSignalFd = -1;
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TerminationSignals::take() {
    char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(fds_[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit received(static_cast<unsigned char>(bytes[i]));
    }
}

} // namespace qm45
