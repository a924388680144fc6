#include "link/LinuxSerialPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

// The kernel's termios2 (for speeds outside the Bnnn set such as 14400 and
// 56000) cannot share a translation unit with <termios.h>, so this file uses
// ioctls throughout instead of the termios library calls.
#include <asm/termbits.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

// The device's name below /dev, "ttyS0" or "pts/3", after following links
// (the virtual meter's /dev/ttyV0 is a link to its pty).
QString ttyNameOf(const QString& device) {
    QString path = QFileInfo(device).canonicalFilePath();
    if (path.isEmpty())
        path = device;
    const QString dev = QStringLiteral("/dev/");
    return path.startsWith(dev) ? path.mid(dev.size()) : QFileInfo(path).fileName();
}

// The UUCP lock name: LCK.. and the device's own name, "/" made "_". Taken
// after following links, so that a port opened as /dev/ttyV0 or through
// /dev/serial/by-id is locked under the name every other program sees.
QString lockNameOf(const QString& device) {
    QString name = ttyNameOf(device);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

QStringList wordsOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.read(4096))
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// A lock file holds its owner's pid as ten padded ASCII digits and a newline,
// or, from old programs, as a binary int. 0 when it names none.
std::int64_t pidInLock(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray content = file.read(64);
    // Digits first: "123\n" is four bytes as well.
    bool ok = false;
    const qlonglong pid = content.trimmed().toLongLong(&ok);
    if (ok)
        return pid > 0 ? pid : 0;
    if (content.size() == qsizetype(sizeof(std::int32_t))) {
        std::int32_t binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

bool processIsAlive(std::int64_t pid) {
    if (pid <= 0 || pid > std::int64_t(INT32_MAX))
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

SerialOpenError reasonForErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return SerialOpenError::NoSuchDevice;
    case EACCES:
    case EPERM:
        return SerialOpenError::NoPermission;
    case EBUSY:
        return SerialOpenError::InUse;
    default:
        return SerialOpenError::Other;
    }
}

SerialPlatform::OpenResult refused(const QString& device, SerialOpenError reason, int error = 0) {
    SerialPlatform::OpenResult result;
    result.failure.reason = reason;
    result.failure.device = device;
    result.failure.errorCode = error;
    return result;
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

LinuxSerialPlatform::LinuxSerialPlatform() : LinuxSerialPlatform(Paths{}) {}

LinuxSerialPlatform::LinuxSerialPlatform(Paths paths) : paths_(std::move(paths)) {}

LinuxSerialPlatform::~LinuxSerialPlatform() {
    // Ports left open are closed, so that no lock of ours outlives us.
    while (!locks_.empty())
        close(locks_.begin()->first);
}

QStringList LinuxSerialPlatform::consoleNames() const {
    const QDir sysfs(paths_.sysfsTtyRoot);
    QStringList names;
    for (const QString& name : wordsOf(sysfs.filePath(QStringLiteral("console/active")))) {
        names << name;
        // tty0 is whichever virtual console is in front.
        if (name == QLatin1String("tty0"))
            names << wordsOf(sysfs.filePath(QStringLiteral("tty0/active")));
    }
    if (!names.isEmpty())
        names << QStringLiteral("console");
    return names;
}

QString LinuxSerialPlatform::lockFileOf(Handle handle) const {
    const auto at = locks_.find(handle);
    return at == locks_.end() ? QString() : at->second;
}

std::optional<LinuxSerialPlatform::LockHolder>
LinuxSerialPlatform::liveLockHolder(const QString& lockName) const {
    for (const QString& dir : paths_.lockDirs) {
        const std::int64_t pid = pidInLock(QDir(dir).filePath(lockName));
        if (pid == 0 || pid == std::int64_t(::getpid()) || !processIsAlive(pid))
            continue;
        LockHolder holder;
        holder.pid = pid;
        QFile comm(QDir(paths_.procRoot).filePath(QStringLiteral("%1/comm").arg(pid)));
        if (comm.open(QIODevice::ReadOnly))
            holder.command = QString::fromLocal8Bit(comm.readAll()).trimmed();
        return holder;
    }
    return std::nullopt;
}

QString LinuxSerialPlatform::createLock(const QString& lockName, std::optional<LockHolder>& taken) {
    static unsigned counter = 0;
    const QByteArray content =
        QByteArray::number(qlonglong(::getpid())).rightJustified(10, ' ') + '\n';
    QStringList seen;
    for (const QString& dir : paths_.lockDirs) {
        // /var/lock is usually a link to /run/lock: one lock is enough.
        const QString real = QFileInfo(dir).canonicalFilePath();
        if (real.isEmpty() || seen.contains(real))
            continue;
        seen << real;
        // The classic scheme: a private file, then a hard link to the lock
        // name, which either creates the lock whole or fails because it exists.
        const QByteArray temp = QFile::encodeName(
            QDir(real).filePath(QStringLiteral("LTMP.%1.%2").arg(::getpid()).arg(++counter)));
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            continue; // not ours to write to
        const bool written =
            ::write(fd, content.constData(), size_t(content.size())) == content.size();
        ::close(fd);
        const QString lockPath = QDir(real).filePath(lockName);
        const QByteArray lock = QFile::encodeName(lockPath);
        bool linked = false;
        for (int attempt = 0; written && attempt < 2 && !linked; ++attempt) {
            if (::link(temp.constData(), lock.constData()) == 0) {
                linked = true;
                break;
            }
            if (errno != EEXIST)
                break;
            // A lock appeared since we looked, or a stale one is in the way.
            const std::int64_t pid = pidInLock(lockPath);
            if (pid != std::int64_t(::getpid()) && processIsAlive(pid)) {
                taken = liveLockHolder(lockName);
                if (!taken)
                    taken = LockHolder{pid, {}};
                break;
            }
            (void)::unlink(lock.constData());
        }
        (void)::unlink(temp.constData());
        if (linked)
            return lockPath;
        if (taken)
            return {};
    }
    return {};
}

SerialPlatform::OpenResult LinuxSerialPlatform::openExclusive(const QString& device) {
    // The console is refused before anything touches the line: opening it
    // and setting 2400 baud raw would take the machine's console away.
    const QString ttyName = ttyNameOf(device);
    if (consoleNames().contains(ttyName))
        return refused(device, SerialOpenError::Console);

    const QString lockName = lockNameOf(device);
    if (const std::optional<LockHolder> holder = liveLockHolder(lockName)) {
        OpenResult result = refused(device, SerialOpenError::InUse);
        result.failure.pid = holder->pid;
        result.failure.command = holder->command;
        return result;
    }

    const QByteArray path = QFile::encodeName(device);
    // O_NONBLOCK: neither the open (carrier detect) nor any read may wait.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return refused(device, reasonForErrno(error), error);
    }
    if (::isatty(fd) == 0) {
        ::close(fd);
        return refused(device, SerialOpenError::NotSerial, ENOTTY);
    }
    // TIOCEXCL does not stop root, so a port another program holds with it
    // counts as busy here. The flock covers openers in this process and other
    // programs of ours; it is taken before TIOCEXCL so that a losing opener
    // never touches the winner's flag.
    int heldExclusively = 0;
    if (::ioctl(fd, TIOCGEXCL, &heldExclusively) == 0 && heldExclusively != 0) {
        ::close(fd);
        return refused(device, SerialOpenError::InUse, EBUSY);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return refused(device, SerialOpenError::InUse, EBUSY);
    }
    // Locks of processes that have ended are taken over: removed, wherever
    // they lie, before ours is written.
    for (const QString& dir : paths_.lockDirs) {
        const QString stale = QDir(dir).filePath(lockName);
        if (QFileInfo::exists(stale) && !processIsAlive(pidInLock(stale)))
            (void)::unlink(QFile::encodeName(stale).constData());
    }
    // Without a writable lock directory (an ordinary user on some systems) the
    // port is opened all the same, only without a lock file.
    std::optional<LockHolder> taken;
    const QString lockPath = createLock(lockName, taken);
    if (taken) {
        ::close(fd);
        OpenResult result = refused(device, SerialOpenError::InUse);
        result.failure.pid = taken->pid;
        result.failure.command = taken->command;
        return result;
    }
    (void)::ioctl(fd, TIOCEXCL);
    if (!lockPath.isEmpty())
        locks_[fd] = lockPath;
    OpenResult result;
    result.handle = fd;
    return result;
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
    const int fd = fdOf(handle);
    const ssize_t n = ::read(fd, buffer, static_cast<std::size_t>(capacity));
    if (n > 0)
        return static_cast<std::int32_t>(n);
    if (n == 0) {
        // Nothing arrived, or the line was hung up (a USB adapter pulled out:
        // the kernel hangs the tty up and every read returns 0). Only poll
        // tells the two apart.
        pollfd watch{fd, POLLIN, 0};
        if (::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return PortGone;
        return 0;
    }
    switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
        return 0;
    case EIO: // a pty whose master has closed, a device unbound from its driver
    case ENXIO:
    case ENODEV:
    case EBADF:
        return PortGone;
    default:
        return ReadFailed;
    }
}

void LinuxSerialPlatform::close(Handle handle) {
    const int fd = fdOf(handle);
    // The exclusive flag belongs to the tty, not to this descriptor. On a pty
    // whose master stays open (the virtual meter) it would outlive the close
    // and make the next open by a normal user fail with EBUSY.
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    const auto lock = locks_.find(handle);
    if (lock != locks_.end()) {
        // Removed only while it is still ours.
        if (pidInLock(lock->second) == std::int64_t(::getpid()))
            (void)::unlink(QFile::encodeName(lock->second).constData());
        locks_.erase(lock);
    }
}

} // namespace qm45
