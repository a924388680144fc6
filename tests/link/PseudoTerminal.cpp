#include "PseudoTerminal.h"

#include <QFile>

// Kernel termios2 reports the exact speed (14400, 56000) but cannot share a
// translation unit with <termios.h>; everything here goes through ioctls.
#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qm45::test {

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return;
    char name[128] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        closeMaster();
        return;
    }
    slavePath_ = QFile::decodeName(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

bool PseudoTerminal::writeToMaster(const QByteArray& bytes) {
    if (master_ < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

int PseudoTerminal::queuedInput() const {
    int count = 0;
    return ::ioctl(slave_, FIONREAD, &count) == 0 ? count : -1;
}

PseudoTerminal::LineState PseudoTerminal::lineState() const {
    termios2 tio{};
    LineState state;
    if (::ioctl(slave_, TCGETS2, &tio) != 0)
        return state;
    state.valid = true;
    state.iflag = tio.c_iflag;
    state.oflag = tio.c_oflag;
    state.cflag = tio.c_cflag;
    state.lflag = tio.c_lflag;
    state.ispeed = tio.c_ispeed;
    state.ospeed = tio.c_ospeed;
    state.vmin = tio.c_cc[VMIN];
    state.vtime = tio.c_cc[VTIME];
    return state;
}

int PseudoTerminal::exclusiveFlag() const {
    int flag = 0;
    return ::ioctl(slave_, TIOCGEXCL, &flag) == 0 ? (flag != 0 ? 1 : 0) : -1;
}

void PseudoTerminal::clearExclusiveFlag() {
    (void)::ioctl(slave_, TIOCNXCL);
}

} // namespace qm45::test
