#include "tools/VirtualMeter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qm45::sim {

namespace {

constexpr long kNanosPerSecond = 1000000000L;
constexpr std::size_t kFrameBytes = 11;
// The line discipline holds 4095 unread bytes; the backlog must be noticed below that.
constexpr std::size_t kMaxBacklog = 4000;

[[nodiscard]] std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

[[nodiscard]] bool setCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    return flags >= 0 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

} // namespace

VirtualMeter::VirtualMeter(double framesPerSecond)
    : periodNs_(std::max(1L, std::lround(kNanosPerSecond / framesPerSecond))),
      backlogLimit_(std::clamp<std::size_t>(std::lround(framesPerSecond) * kFrameBytes, kFrameBytes,
                                            kMaxBacklog)) {}

VirtualMeter::~VirtualMeter() {
    if (slave_ >= 0) {
        ::close(slave_);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool VirtualMeter::open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = systemError("grantpt/unlockpt");
        return false;
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = systemError("ptsname_r");
        return false;
    }
    portPath_ = name;

    // Holding the slave open ourselves keeps the line up while no program has it
    // open; otherwise every close by the program would hang the pty up, and the
    // settings below would be lost with it.
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error = systemError(name);
        return false;
    }

    // A pseudo-terminal belongs to whoever opened it. Made by root, it is handed
    // to the dialout group like a real serial port, so that a user who may open
    // serial ports may open this one too.
    if (geteuid() == 0) {
        if (const group* dialout = getgrnam("dialout")) {
            if (fchown(slave_, static_cast<uid_t>(-1), dialout->gr_gid) != 0 || fchmod(slave_, 0660) != 0) {
                error = systemError("handing the port to the dialout group");
                return false;
            }
        }
    }

    // A cooked line would turn the frame's CR into LF and echo the frames back.
    termios line{};
    if (tcgetattr(slave_, &line) != 0) {
        error = systemError("tcgetattr");
        return false;
    }
    cfmakeraw(&line);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (cfsetispeed(&line, B2400) != 0 || cfsetospeed(&line, B2400) != 0 ||
        tcsetattr(slave_, TCSANOW, &line) != 0) {
        error = systemError("tcsetattr");
        return false;
    }

    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = systemError("fcntl O_NONBLOCK");
        return false;
    }
    if (!setCloseOnExec(master_) || !setCloseOnExec(slave_)) {
        error = systemError("fcntl FD_CLOEXEC");
        return false;
    }
    return true;
}

void VirtualMeter::discardIncoming() {
    // A meter has no receiver. Whatever the program writes to the port is read and
    // dropped here so that its writes never stall on a full pty.
    char sink[256];
    for (;;) {
        const ssize_t n = ::read(master_, sink, sizeof sink);
        if (n > 0) {
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return;
    }
}

VirtualMeter::SendResult VirtualMeter::send(const std::vector<std::uint8_t>& frame) {
    SendResult result;
    discardIncoming();

    // Since we keep the slave open, the kernel queues every frame nobody reads:
    // some 20 KB, a minute and a half of stale readings that a program would get
    // the moment it opens the port. A real serial port has no such memory, so a
    // backlog of more than a second's worth of frames is thrown away.
    int pending = 0;
    if (ioctl(slave_, FIONREAD, &pending) == 0 && pending > 0 &&
        static_cast<std::size_t>(pending) > backlogLimit_) {
        if (tcflush(slave_, TCIFLUSH) == 0) {
            result.staleDiscarded = static_cast<std::size_t>(pending);
        }
    }

    for (;;) {
        const ssize_t n = ::write(master_, frame.data(), frame.size());
        if (n >= 0) {
            result.written = static_cast<std::size_t>(n);
            break;
        }
        if (errno != EINTR) {
            break;
        }
    }
    return result;
}

bool VirtualMeter::waitForNextFrame(const volatile std::sig_atomic_t& stop) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!clockStarted_) {
        due_ = now;
        clockStarted_ = true;
    }
    due_.tv_nsec += periodNs_;
    due_.tv_sec += due_.tv_nsec / kNanosPerSecond;
    due_.tv_nsec %= kNanosPerSecond;

    // After a stall (suspended with ^Z, a loaded machine) carry on from now
    // instead of sending the missed frames in a burst.
    const long long lateNs = (static_cast<long long>(now.tv_sec) - due_.tv_sec) * kNanosPerSecond +
                             (now.tv_nsec - due_.tv_nsec);
    if (lateNs > periodNs_) {
        due_ = now;
    }

    while (!stop) {
        const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due_, nullptr);
        if (rc != EINTR) {
            break;
        }
    }
    return !stop;
}

bool VirtualMeter::waitUntilRead(long timeoutMs, const volatile std::sig_atomic_t& stop) {
    constexpr long kPollMs = 10;
    for (long waited = 0; !stop; waited += kPollMs) {
        int pending = 0;
        if (ioctl(slave_, FIONREAD, &pending) != 0 || pending == 0) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        const timespec pause{0, kPollMs * 1000000L};
        nanosleep(&pause, nullptr);
    }
    return false;
}

} // namespace qm45::sim
