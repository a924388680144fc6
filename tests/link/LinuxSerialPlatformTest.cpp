#include "link/LinuxSerialPlatform.h"
#include "PseudoTerminal.h"
#include "link/SerialPortDriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

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

} // namespace

class LinuxSerialPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void termiosFieldsFollowTheSettings_data();
    void termiosFieldsFollowTheSettings();
    void secondOpenerIsRefusedEvenWithoutTheExclusiveFlag();
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
    const SerialPlatform::Handle owner = platform.openExclusive(pty.slavePath());
    QVERIFY(owner != SerialPlatform::InvalidHandle);
    QCOMPARE(pty.exclusiveFlag(), 1);
    pty.clearExclusiveFlag();

    QCOMPARE(platform.openExclusive(pty.slavePath()), SerialPlatform::InvalidHandle);
    QCOMPARE(pty.exclusiveFlag(), 0); // the refused opener did not set it

    platform.close(owner);
    const SerialPlatform::Handle next = platform.openExclusive(pty.slavePath());
    QVERIFY(next != SerialPlatform::InvalidHandle);
    platform.close(next);
}

QTEST_APPLESS_MAIN(LinuxSerialPlatformTest)
#include "LinuxSerialPlatformTest.moc"
