#include "link/LinuxSerialPlatform.h"

#include <QFile>

// The kernel's termios2 (for speeds outside the Bnnn set such as 14400 and
// 56000) cannot share a translation unit with <termios.h>, so this file uses
// ioctls throughout instead of the termios library calls.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qm45 {

namespace {

struct StandardSpeed {
    std::uint32_t baud;
    tcflag_t bits;
};

// Speeds with their own Bnnn code. Drivers have understood these far longer
// than BOTHER, so BOTHER is kept for the rest.
constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

tcflag_t speedBits(std::uint32_t baud) {
    for (const StandardSpeed& s : kStandardSpeeds) {
        if (s.baud == baud)
            return s.bits;
    }
    return BOTHER;
}

tcflag_t sizeBits(std::uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t parityBits(std::uint8_t parity) {
    switch (parity) {
    case 1: // odd
        return PARENB | PARODD;
    case 2: // even
        return PARENB;
    case 3: // mark: CMSPAR turns the odd/even choice into a fixed 1 / 0
        return PARENB | CMSPAR | PARODD;
    case 4: // space
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

int fdOf(SerialPlatform::Handle handle) {
    return static_cast<int>(handle);
}

} // namespace

LinuxSerialPlatform::TermiosFields
LinuxSerialPlatform::termiosFieldsFor(const SerialLineSettings& settings) {
    TermiosFields f;
    // Raw input: no CR/LF translation, no stripping of bit 7, no break or
    // parity marking. The meter ends each frame with 0x0D, and ICRNL would turn
    // it into 0x0A and the frame would never end. Parity errors are not checked
    // (INPCK off), so the byte goes through as received.
    f.iflag = settings.xonXoffHandshake ? (IXON | IXOFF) : 0;
    f.oflag = 0;
    // No echo (it would send the meter's bytes back down the line), no
    // canonical line editing, no signals from control characters.
    f.lflag = 0;
    // CLOCAL: a cable without carrier detect must neither block nor hang up the
    // port. HUPCL drops DTR on the last close, as the line was before opening.
    f.cflag = CREAD | CLOCAL | HUPCL | sizeBits(settings.byteSize) | parityBits(settings.parity);
    // Linux has no 1.5 stop bits; CSTOPB selects 2, which a UART turns into
    // 1.5 with 5 data bits, the only size where 1.5 is defined anyway.
    if (settings.stopBits != 0)
        f.cflag |= CSTOPB;
    if (settings.rtsCtsHandshake)
        f.cflag |= CRTSCTS;
    f.cflag |= speedBits(settings.baudRate);
    f.speed = settings.baudRate;
    return f;
}

SerialPlatform::Handle LinuxSerialPlatform::openExclusive(const QString& device) {
    const QByteArray path = QFile::encodeName(device);
    // O_NONBLOCK: neither the open (carrier detect) nor any read may wait.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return InvalidHandle;
    if (::isatty(fd) == 0) {
        ::close(fd);
        return InvalidHandle;
    }
    // TIOCEXCL does not stop root, so a port another program holds with it
    // counts as busy here. The flock covers openers in this process and other
    // programs of ours; it is taken before TIOCEXCL so that a losing opener
    // never touches the winner's flag.
    int heldExclusively = 0;
    if (::ioctl(fd, TIOCGEXCL, &heldExclusively) == 0 && heldExclusively != 0) {
        ::close(fd);
        return InvalidHandle;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return InvalidHandle;
    }
    (void)::ioctl(fd, TIOCEXCL);
    return fd;
}

void LinuxSerialPlatform::setLineState(Handle handle, const SerialLineSettings& settings) {
    const int fd = fdOf(handle);
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return;
    const TermiosFields f = termiosFieldsFor(settings);
    tio.c_iflag = f.iflag;
    tio.c_oflag = f.oflag;
    tio.c_cflag = f.cflag;
    tio.c_lflag = f.lflag;
    tio.c_ispeed = f.speed;
    tio.c_ospeed = f.speed;
    if (settings.xonXoffHandshake) {
        tio.c_cc[VSTART] = 0x11;
        tio.c_cc[VSTOP] = 0x13;
    }
    // The XON/XOFF limits have no counterpart: the line discipline throttles at
    // fixed fill levels of its own buffer.
    (void)::ioctl(fd, TCSETS2, &tio);

    // A pseudo-terminal refuses modem-line ioctls; that must not matter.
    int dtr = TIOCM_DTR;
    (void)::ioctl(fd, settings.dtrEnabled ? TIOCMBIS : TIOCMBIC, &dtr);
    if (!settings.rtsCtsHandshake) {
        // The kernel raised RTS when the port was opened; it has to be lowered
        // explicitly.
        int rts = TIOCM_RTS;
        (void)::ioctl(fd, TIOCMBIC, &rts);
    }
}

void LinuxSerialPlatform::purge(Handle handle, bool input, bool output) {
    if (!input && !output)
        return;
    const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    (void)::ioctl(fdOf(handle), TCFLSH, queue);
}

void LinuxSerialPlatform::setQueueSizes(Handle, std::uint32_t, std::uint32_t) {
    // Nothing to do: the tty layer's buffers have fixed sizes (4 KiB in the
    // line discipline plus the driver's own), and no call resizes them. 2048
    // bytes would hold 8.5 s of the meter's stream anyway.
}

void LinuxSerialPlatform::setTimeouts(Handle handle, const SerialTimeouts&) {
    // VTIME counts tenths of a second, so 1 ms cannot be expressed. VMIN = 0,
    // VTIME = 0 on a non-blocking descriptor makes every read return at once
    // with what has arrived, which is as close as it gets; the polling interval
    // does the waiting. Nothing is ever written, so write timeouts do not apply.
    const int fd = fdOf(handle);
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    (void)::ioctl(fd, TCSETS2, &tio);
}

std::int32_t LinuxSerialPlatform::read(Handle handle, std::uint8_t* buffer, std::int32_t capacity) {
    if (capacity <= 0)
        return 0;
    const ssize_t n = ::read(fdOf(handle), buffer, static_cast<std::size_t>(capacity));
    if (n >= 0)
        return static_cast<std::int32_t>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    // EIO after an unplugged adapter or a closed pty master, among others.
    return -1;
}

void LinuxSerialPlatform::close(Handle handle) {
    const int fd = fdOf(handle);
    // The exclusive flag belongs to the tty, not to this descriptor. On a pty
    // whose master stays open (the virtual meter) it would outlive the close
    // and make the next open by a normal user fail with EBUSY.
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

} // namespace qm45
