#include "link/LinuxSerialPlatform.h"
#include "PseudoTerminal.h"
#include "link/SerialPortDriver.h"

#include "link/LinuxSerialPortDirectory.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <termios.h>
#include <unistd.h>

using namespace qm45;
using namespace qm45::test;

Q_DECLARE_METATYPE(qm45::SerialLineSettings)

namespace {

// The kernel's BOTHER ("speed in c_ospeed"), which glibc does not name: the
// CBAUDEX bit with no rate bits under it.
constexpr std::uint32_t kCustomSpeed = CBAUDEX;

SerialLineSettings line8N1(std::uint32_t baud) {
    SerialLineSettings s;
    s.baudRate = baud;
    return s;
}

// Two lock directories and a sysfs tty tree of our own, and a platform that
// uses them.
struct LockRig {
    LockRig() {
        QDir root(scratch.path());
        root.mkpath(QStringLiteral("var-lock"));
        root.mkpath(QStringLiteral("run-lock"));
        root.mkpath(QStringLiteral("sys/console"));
        paths.lockDirs = {root.filePath(QStringLiteral("var-lock")),
                          root.filePath(QStringLiteral("run-lock"))};
        paths.sysfsTtyRoot = root.filePath(QStringLiteral("sys"));
    }
    [[nodiscard]] QString lockName() const {
        QString name = pty.slavePath().mid(5); // after "/dev/"
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        return QStringLiteral("LCK..") + name;
    }
    [[nodiscard]] QString lockPath(int dir) const {
        return QDir(paths.lockDirs.at(dir)).filePath(lockName());
    }
    [[nodiscard]] bool writeLock(int dir, const QByteArray& content) const {
        QFile file(lockPath(dir));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    [[nodiscard]] bool writeSysfs(const QString& file, const QString& text) const {
        const QString path = QDir(paths.sysfsTtyRoot).filePath(file);
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        return out.open(QIODevice::WriteOnly) && out.write(text.toUtf8() + '\n') > 0;
    }

    QTemporaryDir scratch;
    LinuxSerialPlatform::Paths paths;
    PseudoTerminal pty;
};

QByteArray asciiPid(qint64 pid) {
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

QByteArray binaryPid(qint64 pid) {
    const std::int32_t value = std::int32_t(pid);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

QString commandOf(qint64 pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                          : QString();
}

// No process can have this pid: it is above any pid_max Linux allows.
constexpr qint64 kDeadPid = 2147483646;

} // namespace

class LinuxSerialPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void termiosFieldsFollowTheSettings_data();
    void termiosFieldsFollowTheSettings();
    void secondOpenerIsRefusedEvenWithoutTheExclusiveFlag();
    void lockOfALiveProcessRefusesThePort_data();
    void lockOfALiveProcessRefusesThePort();
    void lockOfAProcessThatEndedIsTakenOver();
    void lockIsHeldWhileOpenAndGoneAfterClose();
    void portOpenedThroughALinkIsLockedUnderItsOwnName();
    void noWritableLockDirectoryOpensWithoutALock();
    void consoleIsRefusedBeforeItIsOpened_data();
    void consoleIsRefusedBeforeItIsOpened();
    void thisMachinesConsoleOnCom1IsRefused();
    void vanishedPortReadsAsGoneAndQuietPortAsNothing();
};

void LinuxSerialPlatformTest::termiosFieldsFollowTheSettings_data() {
    QTest::addColumn<SerialLineSettings>("settings");
    QTest::addColumn<std::uint32_t>("cflagMask");
    QTest::addColumn<std::uint32_t>("cflag");
    QTest::addColumn<std::uint32_t>("iflag");

    const std::uint32_t frame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    auto with = [](auto change) {
        SerialLineSettings s = line8N1(2400);
        change(s);
        return s;
    };
    QTest::newRow("8N1") << line8N1(2400) << frame << std::uint32_t(CS8) << 0u;
    QTest::newRow("5 data bits") << with([](SerialLineSettings& s) { s.byteSize = 5; }) << frame
                                 << std::uint32_t(CS5) << 0u;
    QTest::newRow("6 data bits") << with([](SerialLineSettings& s) { s.byteSize = 6; }) << frame
                                 << std::uint32_t(CS6) << 0u;
    QTest::newRow("7 data bits") << with([](SerialLineSettings& s) { s.byteSize = 7; }) << frame
                                 << std::uint32_t(CS7) << 0u;
    QTest::newRow("odd parity") << with([](SerialLineSettings& s) { s.parity = ptODD; }) << frame
                                << std::uint32_t(CS8 | PARENB | PARODD) << 0u;
    QTest::newRow("even parity") << with([](SerialLineSettings& s) { s.parity = ptEVEN; }) << frame
                                 << std::uint32_t(CS8 | PARENB) << 0u;
    QTest::newRow("mark parity") << with([](SerialLineSettings& s) { s.parity = ptMARK; }) << frame
                                 << std::uint32_t(CS8 | PARENB | CMSPAR | PARODD) << 0u;
    QTest::newRow("space parity") << with([](SerialLineSettings& s) { s.parity = ptSPACE; })
                                  << frame << std::uint32_t(CS8 | PARENB | CMSPAR) << 0u;
    QTest::newRow("1.5 stop bits become 2")
        << with([](SerialLineSettings& s) { s.stopBits = sb1HALFBITS; }) << frame
        << std::uint32_t(CS8 | CSTOPB) << 0u;
    QTest::newRow("2 stop bits") << with([](SerialLineSettings& s) { s.stopBits = sb2BITS; })
                                 << frame << std::uint32_t(CS8 | CSTOPB) << 0u;
    QTest::newRow("RTS/CTS") << with([](SerialLineSettings& s) { s.rtsCtsHandshake = true; })
                             << frame << std::uint32_t(CS8 | CRTSCTS) << 0u;
    QTest::newRow("XON/XOFF") << with([](SerialLineSettings& s) { s.xonXoffHandshake = true; })
                              << frame << std::uint32_t(CS8) << std::uint32_t(IXON | IXOFF);
    QTest::newRow("2400 baud has its own code")
        << line8N1(2400) << std::uint32_t(CBAUD) << std::uint32_t(B2400) << 0u;
    QTest::newRow("115200 baud has its own code")
        << line8N1(115200) << std::uint32_t(CBAUD) << std::uint32_t(B115200) << 0u;
    QTest::newRow("14400 baud goes by number")
        << line8N1(14400) << std::uint32_t(CBAUD) << kCustomSpeed << 0u;
    QTest::newRow("56000 baud goes by number")
        << line8N1(56000) << std::uint32_t(CBAUD) << kCustomSpeed << 0u;
}

void LinuxSerialPlatformTest::termiosFieldsFollowTheSettings() {
    QFETCH(SerialLineSettings, settings);
    QFETCH(std::uint32_t, cflagMask);
    QFETCH(std::uint32_t, cflag);
    QFETCH(std::uint32_t, iflag);
    const LinuxSerialPlatform::TermiosFields f = LinuxSerialPlatform::termiosFieldsFor(settings);
    QCOMPARE(f.cflag & cflagMask, cflag);
    QCOMPARE(f.iflag, iflag);
    QCOMPARE(f.speed, settings.baudRate);
    // Raw whatever else is asked: no output processing, no echo, no line
    // editing, no signals; receiver on, modem status lines ignored.
    QCOMPARE(f.oflag, 0u);
    QCOMPARE(f.lflag, 0u);
    QCOMPARE(f.cflag & std::uint32_t(CREAD | CLOCAL), std::uint32_t(CREAD | CLOCAL));
}

void LinuxSerialPlatformTest::secondOpenerIsRefusedEvenWithoutTheExclusiveFlag() {
    // Root passes TIOCEXCL; the flock must still keep a second opener out.
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), "no pseudo-terminal available");
    LinuxSerialPlatform platform;
    const SerialPlatform::Handle owner = platform.openExclusive(pty.slavePath()).handle;
    QVERIFY(owner != SerialPlatform::InvalidHandle);
    QCOMPARE(pty.exclusiveFlag(), 1);
    pty.clearExclusiveFlag();

    const SerialPlatform::OpenResult second = platform.openExclusive(pty.slavePath());
    QCOMPARE(second.handle, SerialPlatform::InvalidHandle);
    QCOMPARE(second.failure.reason, SerialOpenError::InUse);
    QCOMPARE(pty.exclusiveFlag(), 0); // the refused opener did not set it

    platform.close(owner);
    const SerialPlatform::Handle next = platform.openExclusive(pty.slavePath()).handle;
    QVERIFY(next != SerialPlatform::InvalidHandle);
    platform.close(next);
}

void LinuxSerialPlatformTest::lockOfALiveProcessRefusesThePort_data() {
    QTest::addColumn<int>("dir");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("pid");
    const qint64 parent = ::getppid();
    QTest::newRow("ASCII pid in the first directory") << 0 << asciiPid(parent) << parent;
    QTest::newRow("ASCII pid in the second directory") << 1 << asciiPid(parent) << parent;
    QTest::newRow("binary pid") << 0 << binaryPid(parent) << parent;
    QTest::newRow("unpadded pid") << 1 << QByteArray::number(parent) << parent;
    // Four bytes, as a binary pid is, but digits.
    QTest::newRow("short ASCII pid of init") << 0 << QByteArray("  1\n") << qint64(1);
}

void LinuxSerialPlatformTest::lockOfALiveProcessRefusesThePort() {
    QFETCH(int, dir);
    QFETCH(QByteArray, content);
    QFETCH(qint64, pid);
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.writeLock(dir, content));
    LinuxSerialPlatform platform(rig.paths);

    const SerialPlatform::OpenResult result = platform.openExclusive(rig.pty.slavePath());
    QCOMPARE(result.handle, SerialPlatform::InvalidHandle);
    QCOMPARE(result.failure.reason, SerialOpenError::InUse);
    QCOMPARE(result.failure.device, rig.pty.slavePath());
    QCOMPARE(qint64(result.failure.pid), pid);
    QCOMPARE(result.failure.command, commandOf(pid));
    QCOMPARE(rig.pty.exclusiveFlag(), 0); // never opened
    // The other program's lock is left as it was.
    QFile lock(rig.lockPath(dir));
    QVERIFY(lock.open(QIODevice::ReadOnly));
    QCOMPARE(lock.readAll(), content);
}

void LinuxSerialPlatformTest::lockOfAProcessThatEndedIsTakenOver() {
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(child.waitForStarted());
    QVERIFY(rig.writeLock(1, asciiPid(child.processId())));
    LinuxSerialPlatform platform(rig.paths);

    const SerialPlatform::OpenResult whileAlive = platform.openExclusive(rig.pty.slavePath());
    QCOMPARE(whileAlive.handle, SerialPlatform::InvalidHandle);
    QCOMPARE(qint64(whileAlive.failure.pid), child.processId());
    QCOMPARE(whileAlive.failure.command, QStringLiteral("sleep"));

    child.kill();
    QVERIFY(child.waitForFinished());
    const SerialPlatform::OpenResult afterEnd = platform.openExclusive(rig.pty.slavePath());
    QVERIFY(afterEnd.handle != SerialPlatform::InvalidHandle);
    QCOMPARE(afterEnd.failure.reason, SerialOpenError::None);
    // The stale lock is gone; ours sits in the first directory.
    QVERIFY(!QFile::exists(rig.lockPath(1)));
    QCOMPARE(platform.lockFileOf(afterEnd.handle), rig.lockPath(0));
    platform.close(afterEnd.handle);

    // A pid no process can have counts as ended as well.
    QVERIFY(rig.writeLock(0, asciiPid(kDeadPid)));
    const SerialPlatform::OpenResult overDead = platform.openExclusive(rig.pty.slavePath());
    QVERIFY(overDead.handle != SerialPlatform::InvalidHandle);
    platform.close(overDead.handle);
}

void LinuxSerialPlatformTest::lockIsHeldWhileOpenAndGoneAfterClose() {
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    {
        LinuxSerialPlatform platform(rig.paths);
        const SerialPlatform::Handle handle = platform.openExclusive(rig.pty.slavePath()).handle;
        QVERIFY(handle != SerialPlatform::InvalidHandle);
        QCOMPARE(platform.lockFileOf(handle), rig.lockPath(0));
        QFile lock(rig.lockPath(0));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), asciiPid(::getpid()));
        QVERIFY(!QFile::exists(rig.lockPath(1)));
        // Only the lock itself is left in the directory, no temporary file.
        QCOMPARE(QDir(rig.paths.lockDirs.at(0)).entryList(QDir::Files),
                 QStringList{rig.lockName()});

        platform.close(handle);
        QVERIFY(!QFile::exists(rig.lockPath(0)));
        QCOMPARE(platform.lockFileOf(handle), QString());

        // Left open: the platform's end removes it.
        QVERIFY(platform.openExclusive(rig.pty.slavePath()).handle !=
                SerialPlatform::InvalidHandle);
        QVERIFY(QFile::exists(rig.lockPath(0)));
    }
    QVERIFY(!QFile::exists(rig.lockPath(0)));
}

// /dev/ttyV0, /dev/serial/by-id/...: the lock must be the one a program
// opening the device itself looks for, and its lock must stop us.
void LinuxSerialPlatformTest::portOpenedThroughALinkIsLockedUnderItsOwnName() {
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    const QString link = QDir(rig.scratch.path()).filePath(QStringLiteral("ttyV0"));
    QVERIFY(QFile::link(rig.pty.slavePath(), link));

    LinuxSerialPlatform platform(rig.paths);
    const SerialPlatform::Handle handle = platform.openExclusive(link).handle;
    QVERIFY(handle != SerialPlatform::InvalidHandle);
    QCOMPARE(platform.lockFileOf(handle), rig.lockPath(0));
    platform.close(handle);

    QVERIFY(rig.writeLock(0, asciiPid(::getppid())));
    const SerialPlatform::OpenResult held = platform.openExclusive(link);
    QCOMPARE(held.handle, SerialPlatform::InvalidHandle);
    QCOMPARE(held.failure.reason, SerialOpenError::InUse);
}

void LinuxSerialPlatformTest::noWritableLockDirectoryOpensWithoutALock() {
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    rig.paths.lockDirs = {QDir(rig.scratch.path()).filePath(QStringLiteral("no-such-dir"))};
    LinuxSerialPlatform platform(rig.paths);
    const SerialPlatform::Handle handle = platform.openExclusive(rig.pty.slavePath()).handle;
    QVERIFY(handle != SerialPlatform::InvalidHandle);
    QCOMPARE(platform.lockFileOf(handle), QString());
    QCOMPARE(rig.pty.exclusiveFlag(), 1);
    platform.close(handle);
}

void LinuxSerialPlatformTest::consoleIsRefusedBeforeItIsOpened_data() {
    QTest::addColumn<QString>("active"); // "PTY" stands for the pty's name
    QTest::addColumn<QString>("tty0Active");
    QTest::addColumn<bool>("console");
    QTest::newRow("named among the consoles") << "tty1 PTY"
                                              << "tty1" << true;
    QTest::newRow("the virtual console in front") << "tty0"
                                                  << "PTY" << true;
    QTest::newRow("another port is the console") << "ttyS3 tty0"
                                                 << "tty1" << false;
    QTest::newRow("no console list") << QString() << QString() << false;
}

void LinuxSerialPlatformTest::consoleIsRefusedBeforeItIsOpened() {
    QFETCH(QString, active);
    QFETCH(QString, tty0Active);
    QFETCH(bool, console);
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    const QString name = rig.pty.slavePath().mid(5);
    if (!active.isEmpty())
        QVERIFY(rig.writeSysfs(QStringLiteral("console/active"),
                               QString(active).replace(QStringLiteral("PTY"), name)));
    if (!tty0Active.isEmpty())
        QVERIFY(rig.writeSysfs(QStringLiteral("tty0/active"),
                               QString(tty0Active).replace(QStringLiteral("PTY"), name)));
    LinuxSerialPlatform platform(rig.paths);

    const SerialPlatform::OpenResult result = platform.openExclusive(rig.pty.slavePath());
    if (console) {
        QCOMPARE(result.handle, SerialPlatform::InvalidHandle);
        QCOMPARE(result.failure.reason, SerialOpenError::Console);
        QCOMPARE(result.failure.device, rig.pty.slavePath());
        QCOMPARE(rig.pty.exclusiveFlag(), 0);
        QVERIFY(!QFile::exists(rig.lockPath(0)));
    } else {
        QVERIFY(result.handle != SerialPlatform::InvalidHandle);
        QCOMPARE(rig.pty.exclusiveFlag(), 1);
        platform.close(result.handle);
    }
}

void LinuxSerialPlatformTest::thisMachinesConsoleOnCom1IsRefused() {
    // Asked only when the machine's COM 1 is the console: the refusal then
    // comes before any open, and the console's line stays as it is.
    const QString com1 = LinuxSerialPortDirectory().devicePathFor(1);
    LinuxSerialPlatform platform;
    if (com1.isEmpty() || !platform.consoleNames().contains(QFileInfo(com1).fileName()))
        QSKIP("COM 1 of this machine is not its console");
    const SerialPlatform::OpenResult result = platform.openExclusive(com1);
    QCOMPARE(result.handle, SerialPlatform::InvalidHandle);
    QCOMPARE(result.failure.reason, SerialOpenError::Console);
    QCOMPARE(result.failure.device, com1);
}

void LinuxSerialPlatformTest::vanishedPortReadsAsGoneAndQuietPortAsNothing() {
    LockRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    LinuxSerialPlatform platform(rig.paths);
    const SerialPlatform::Handle handle = platform.openExclusive(rig.pty.slavePath()).handle;
    QVERIFY(handle != SerialPlatform::InvalidHandle);
    platform.setLineState(handle, line8N1(2400));
    platform.setTimeouts(handle, {});
    std::uint8_t buffer[16];
    QCOMPARE(platform.read(handle, buffer, sizeof buffer), 0); // quiet
    QVERIFY(rig.pty.writeToMaster("ab"));
    QTRY_COMPARE(rig.pty.queuedInput(), 2);
    QCOMPARE(platform.read(handle, buffer, sizeof buffer), 2);
    QCOMPARE(platform.read(handle, buffer, sizeof buffer), 0);

    rig.pty.closeMaster();
    QCOMPARE(platform.read(handle, buffer, sizeof buffer), SerialPlatform::PortGone);
    platform.close(handle);
}

QTEST_GUILESS_MAIN(LinuxSerialPlatformTest)
#include "LinuxSerialPlatformTest.moc"
