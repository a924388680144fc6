#include "link/SerialPortDriver.h"
#include "FakeSerialPlatform.h"
#include "FixedPortDirectory.h"
#include "PseudoTerminal.h"
#include "link/SerialPlatform.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <functional>
#include <memory>
#include <termios.h>

using namespace qm45;
using namespace qm45::test;

using DriverSetup = std::function<void(TSerialPortDriver&)>;
Q_DECLARE_METATYPE(DriverSetup)
Q_DECLARE_METATYPE(qm45::SerialOpenError)
Q_DECLARE_METATYPE(qm45::SerialOpenFailure)

namespace {

constexpr std::uint16_t kNeverFires = 60000; // the test polls by hand

// Collects what OnReceiveData delivers.
struct Receiver {
    QByteArray bytes;
    QList<int> chunkSizes;
    QSet<const std::uint8_t*> buffers;
    QSet<TSerialPortDriver*> senders;

    [[nodiscard]] TComPortReceiveDataEvent handler() {
        return [this](TSerialPortDriver* sender, const std::uint8_t* data, std::int32_t size) {
            senders.insert(sender);
            buffers.insert(data);
            chunkSizes.append(size);
            bytes.append(reinterpret_cast<const char*>(data), size);
        };
    }
    [[nodiscard]] int largestChunk() const {
        return chunkSizes.isEmpty() ? 0 : *std::max_element(chunkSizes.cbegin(), chunkSizes.cend());
    }
    [[nodiscard]] int smallestChunk() const {
        return chunkSizes.isEmpty() ? 0 : *std::min_element(chunkSizes.cbegin(), chunkSizes.cend());
    }
};

// Collects what OnPortLost reports, and whether the port was closed by then.
struct LossReceiver {
    QStringList devices;
    QList<bool> openWhenTold;

    [[nodiscard]] TComPortLostEvent handler() {
        return [this](TSerialPortDriver* sender, const QString& device) {
            devices << device;
            openWhenTold << sender->IsOpen();
        };
    }
};

QTimer* pollTimer(TSerialPortDriver& driver) {
    return driver.findChild<QTimer*>();
}

// A driver on COM1 = the slave of a fresh pseudo-terminal, at 2400 baud, with
// the real Linux platform.
struct PtyRig {
    PseudoTerminal pty;
    std::shared_ptr<FixedPortDirectory> ports = std::make_shared<FixedPortDirectory>();
    std::unique_ptr<TSerialPortDriver> driver;
    Receiver received;

    explicit PtyRig(std::uint16_t pollingDelay = 5) {
        ports->setDevice(1, pty.slavePath());
        driver = std::make_unique<TSerialPortDriver>(nullptr, nullptr, ports);
        driver->setComPort(pnCOM1);
        driver->setComPortSpeed(br2400);
        driver->setComPortPollingDelay(pollingDelay);
        driver->setOnReceiveData(received.handler());
    }
    // One poll by hand; returns all bytes received so far, for QTRY_COMPARE to retry.
    [[nodiscard]] QByteArray pollOnce() {
        driver->PollReceive();
        return received.bytes;
    }
};

// A driver on COM1 = "/dev/fakeA" with the recording platform.
struct FakeRig {
    FakeSerialPlatform::State platform;
    std::shared_ptr<FixedPortDirectory> ports = std::make_shared<FixedPortDirectory>();
    std::unique_ptr<TSerialPortDriver> driver;
    Receiver received;

    FakeRig() {
        ports->setDevice(1, QStringLiteral("/dev/fakeA"));
        driver = std::make_unique<TSerialPortDriver>(
            nullptr, std::make_unique<FakeSerialPlatform>(platform), ports);
        driver->setComPort(pnCOM1);
        driver->setOnReceiveData(received.handler());
    }
};

QString describe(const SerialLineSettings& s) {
    return QStringLiteral("baud=%1 bits=%2 parity=%3 stop=%4 rtscts=%5 xonxoff=%6 dtr=%7 "
                          "xonLimit=%8 xoffLimit=%9")
        .arg(s.baudRate)
        .arg(s.byteSize)
        .arg(int(s.parity))
        .arg(int(s.stopBits))
        .arg(s.rtsCtsHandshake)
        .arg(s.xonXoffHandshake)
        .arg(s.dtrEnabled)
        .arg(s.xonLimit)
        .arg(s.xoffLimit);
}

// What a driver with all defaults writes: 9600 8N1, no handshaking, DTR on,
// XON limit a quarter of the 2048-byte receive queue.
SerialLineSettings defaultLine() {
    SerialLineSettings s;
    s.baudRate = 9600;
    s.byteSize = 8;
    s.parity = ptNONE;
    s.stopBits = sb1BITS;
    s.rtsCtsHandshake = false;
    s.xonXoffHandshake = false;
    s.dtrEnabled = true;
    s.xonLimit = 512;
    s.xoffLimit = 1;
    return s;
}

QString defaultLineWith(const std::function<void(SerialLineSettings&)>& change) {
    SerialLineSettings s = defaultLine();
    change(s);
    return describe(s);
}

QByteArray everyByteValue() {
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    return all;
}

} // namespace

class SerialPortDriverTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir scratch_;

    static void addLineSetterRows();

private slots:
    void init();

    // Against a real pseudo-terminal.
    void openPutsTheLineIntoRawModeAt2400();
    void speedSetWhileOpenReachesTheLine_data();
    void speedSetWhileOpenReachesTheLine();
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void pollReceiveDeliversWhatHasArrivedAndNothingElse();
    void bytesReadWithoutHandlerAreDropped();
    void speedChangeWhileOpenDiscardsQueuedInput();
    void secondOpenPortChangesNothing();
    void comPortChangeTakesEffectOnlyWhileClosed();
    void receiveBufferSizeLimitsEachChunkAndIgnoresChangesWhileOpen();
    void closePortReleasesThePortAndIsHarmlessWhenClosed();
    void destroyingAnOpenDriverReleasesThePort();
    void missingPortFailsQuietly_data();
    void missingPortFailsQuietly();
    void secondDriverOnTheSamePortIsRefused();
    void vanishedPortIsClosedAndReportedOnce();

    // Against the recording platform.
    void openCallsThePlatformInOrder();
    void lineSettingsRecordFollowsTheSettings_data();
    void lineSettingsRecordFollowsTheSettings();
    void lineSetterWhileOpenAppliesAtOnce_data();
    void lineSetterWhileOpenAppliesAtOnce();
    void pollDeliversOnlyReadsThatReturnedBytes();
    void failedOpenLeavesThePlatformAlone();
    void failedOpenKeepsThePlatformsReason_data();
    void failedOpenKeepsThePlatformsReason();
    void portGoneClosesThePortAndTellsOnce();
    void handleIsClosedExactlyOncePerOpen();
    void pollingTimerRunsExactlyWhileOpen();
    void unchangedPollingDelayDoesNotRestartTheTimer();
};

void SerialPortDriverTest::init() {
    // The driver reports nothing on its own: not a missing port, not a failed read.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void SerialPortDriverTest::openPutsTheLineIntoRawModeAt2400() {
    PtyRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.driver->IsOpen());

    const PseudoTerminal::LineState line = rig.pty.lineState();
    QVERIFY(line.valid);
    QCOMPARE(line.ospeed, 2400u);
    QCOMPARE(line.ispeed, 2400u);
    QCOMPARE(line.cflag & std::uint32_t(CREAD | CLOCAL), std::uint32_t(CREAD | CLOCAL));
    QCOMPARE(line.cflag & std::uint32_t(CSTOPB | CRTSCTS), 0u);
    QCOMPARE(line.iflag & std::uint32_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | INPCK),
             0u);
    QCOMPARE(line.oflag & std::uint32_t(OPOST), 0u);
    QCOMPARE(line.lflag & std::uint32_t(ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    QCOMPARE(int(line.vmin), 0);
    QCOMPARE(int(line.vtime), 0);
    QCOMPARE(rig.pty.exclusiveFlag(), 1);

    QTimer* timer = pollTimer(*rig.driver);
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5);
}

void SerialPortDriverTest::speedSetWhileOpenReachesTheLine_data() {
    QTest::addColumn<int>("speed");
    QTest::addColumn<std::uint32_t>("baud");
    const std::uint32_t table[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                   14400, 19200, 38400, 56000, 57600, 115200};
    for (int speed = br110; speed <= br115200; ++speed)
        QTest::addRow("%u baud", table[speed]) << speed << table[speed];
}

void SerialPortDriverTest::speedSetWhileOpenReachesTheLine() {
    QFETCH(int, speed);
    QFETCH(std::uint32_t, baud);
    PtyRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    rig.driver->setComPortSpeed(TComPortBaudRate(speed));
    QCOMPARE(rig.driver->ComPortSpeed(), TComPortBaudRate(speed));
    const PseudoTerminal::LineState line = rig.pty.lineState();
    QVERIFY(line.valid);
    QCOMPARE(line.ospeed, baud);
    QCOMPARE(line.ispeed, baud);
}

void SerialPortDriverTest::bytesArriveUnchanged_data() {
    QTest::addColumn<QByteArray>("bytes");
    // CR ends a meter frame; XON/XOFF, ^C, ^D, ^Z, ^\, DEL are what a cooked tty acts on.
    QTest::newRow("line-control bytes")
        << QByteArray("\x0D\x0A\x11\x13\x00\x03\x04\x08\x1A\x1C\x7F\xFF\x0D", 13);
    QTest::newRow("every byte value") << everyByteValue();
}

void SerialPortDriverTest::bytesArriveUnchanged() {
    QFETCH(QByteArray, bytes);
    PtyRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.pty.writeToMaster(bytes));
    QTRY_COMPARE(rig.received.bytes, bytes);
    QCOMPARE(rig.received.senders, QSet<TSerialPortDriver*>{rig.driver.get()});
    QVERIFY2(rig.received.smallestChunk() >= 1,
             qPrintable(QStringLiteral("smallest chunk %1").arg(rig.received.smallestChunk())));
    QCOMPARE(rig.received.buffers.size(), 1); // every chunk from the one ReceiveBuffer
}

void SerialPortDriverTest::pollReceiveDeliversWhatHasArrivedAndNothingElse() {
    PtyRig rig(kNeverFires);
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    for (int i = 0; i < 3; ++i)
        rig.driver->PollReceive();
    QCOMPARE(rig.received.chunkSizes, QList<int>{});

    const QByteArray frame("\x31\x32\x33\x34\x35\x36\x37\x38\x39\x0D\x0A", 11);
    QVERIFY(rig.pty.writeToMaster(frame));
    QTRY_COMPARE(rig.pty.queuedInput(), int(frame.size()));
    rig.driver->PollReceive();
    QCOMPARE(rig.received.bytes, frame);
    QCOMPARE(rig.received.chunkSizes, QList<int>{int(frame.size())});
    rig.driver->PollReceive();
    QCOMPARE(rig.received.chunkSizes.size(), 1);
}

void SerialPortDriverTest::bytesReadWithoutHandlerAreDropped() {
    PtyRig rig(kNeverFires);
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    rig.driver->setOnReceiveData({});
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.pty.writeToMaster("dropped"));
    QTRY_COMPARE(rig.pty.queuedInput(), 7);
    rig.driver->PollReceive();
    QCOMPARE(rig.pty.queuedInput(), 0);

    rig.driver->setOnReceiveData(rig.received.handler());
    rig.driver->PollReceive();
    QCOMPARE(rig.received.bytes, QByteArray());
    QVERIFY(rig.pty.writeToMaster("kept"));
    QTRY_COMPARE(rig.pollOnce(), QByteArray("kept"));
}

void SerialPortDriverTest::speedChangeWhileOpenDiscardsQueuedInput() {
    PtyRig rig(kNeverFires);
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.pty.writeToMaster("stale"));
    QTRY_COMPARE(rig.pty.queuedInput(), 5);

    rig.driver->setComPortSpeed(br4800);
    QCOMPARE(rig.pty.queuedInput(), 0);
    QCOMPARE(rig.pty.lineState().ospeed, 4800u);
    rig.driver->PollReceive();
    QCOMPARE(rig.received.bytes, QByteArray());

    QVERIFY(rig.pty.writeToMaster("fresh"));
    QTRY_COMPARE(rig.pollOnce(), QByteArray("fresh"));
}

void SerialPortDriverTest::secondOpenPortChangesNothing() {
    PtyRig rig(kNeverFires);
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.pty.writeToMaster("abc"));
    QTRY_COMPARE(rig.pty.queuedInput(), 3);

    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.driver->IsOpen());
    QCOMPARE(rig.pty.queuedInput(), 3); // line settings were not applied (and purged) again
    QVERIFY(pollTimer(*rig.driver)->isActive());
    QCOMPARE(pollTimer(*rig.driver)->interval(), int(kNeverFires));
    rig.driver->PollReceive();
    QCOMPARE(rig.received.bytes, QByteArray("abc"));
}

void SerialPortDriverTest::comPortChangeTakesEffectOnlyWhileClosed() {
    PtyRig rig;
    PseudoTerminal second;
    QVERIFY2(rig.pty.isValid() && second.isValid(), "no pseudo-terminal available");
    rig.ports->setDevice(2, second.slavePath());
    QVERIFY(rig.driver->OpenPort());

    rig.driver->setComPort(pnCOM2);
    QCOMPARE(rig.driver->ComPort(), pnCOM1);
    QCOMPARE(rig.pty.exclusiveFlag(), 1);
    QCOMPARE(second.exclusiveFlag(), 0);
    QVERIFY(rig.pty.writeToMaster("A1"));
    QTRY_COMPARE(rig.received.bytes, QByteArray("A1"));

    rig.driver->ClosePort();
    rig.driver->setComPort(pnCOM2);
    QCOMPARE(rig.driver->ComPort(), pnCOM2);
    QVERIFY(rig.driver->OpenPort());
    QCOMPARE(rig.pty.exclusiveFlag(), 0);
    QCOMPARE(second.exclusiveFlag(), 1);
    QVERIFY(rig.pty.writeToMaster("A2"));
    QVERIFY(second.writeToMaster("B1"));
    QTRY_COMPARE(rig.received.bytes, QByteArray("A1B1"));
}

void SerialPortDriverTest::receiveBufferSizeLimitsEachChunkAndIgnoresChangesWhileOpen() {
    PtyRig rig(kNeverFires);
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    rig.driver->setComPortInBufSize(16);
    QVERIFY(rig.driver->OpenPort());
    rig.driver->setComPortInBufSize(4096);
    QCOMPARE(rig.driver->ComPortInBufSize(), std::uint16_t(16));

    const QByteArray payload = everyByteValue().left(100);
    QVERIFY(rig.pty.writeToMaster(payload));
    QTRY_COMPARE(rig.pty.queuedInput(), 100);
    QTRY_COMPARE(rig.pollOnce(), payload);
    QCOMPARE(rig.received.largestChunk(), 16);

    rig.driver->ClosePort();
    rig.driver->setComPortInBufSize(8);
    QCOMPARE(rig.driver->ComPortInBufSize(), std::uint16_t(8));
    QVERIFY(rig.driver->OpenPort());
    rig.received = Receiver();
    rig.driver->setOnReceiveData(rig.received.handler());
    QVERIFY(rig.pty.writeToMaster(payload.left(20)));
    QTRY_COMPARE(rig.pty.queuedInput(), 20);
    QTRY_COMPARE(rig.pollOnce(), payload.left(20));
    QCOMPARE(rig.received.largestChunk(), 8);
}

void SerialPortDriverTest::closePortReleasesThePortAndIsHarmlessWhenClosed() {
    PtyRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    rig.driver->ClosePort();
    QVERIFY(!rig.driver->IsOpen());

    QVERIFY(rig.driver->OpenPort());
    rig.driver->ClosePort();
    QVERIFY(!rig.driver->IsOpen());
    QVERIFY(!pollTimer(*rig.driver)->isActive());
    QCOMPARE(rig.pty.exclusiveFlag(), 0);
    rig.driver->ClosePort();
    QVERIFY(!rig.driver->IsOpen());

    QVERIFY(rig.pty.writeToMaster("x"));
    QTRY_COMPARE(rig.pty.queuedInput(), 1);
    rig.driver->PollReceive();
    QCOMPARE(rig.pty.queuedInput(), 1);
    QCOMPARE(rig.received.bytes, QByteArray());

    TSerialPortDriver next(nullptr, nullptr, rig.ports);
    next.setComPort(pnCOM1);
    QVERIFY(next.OpenPort());
}

void SerialPortDriverTest::destroyingAnOpenDriverReleasesThePort() {
    PtyRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());
    rig.driver.reset();
    QCOMPARE(rig.pty.exclusiveFlag(), 0);

    TSerialPortDriver next(nullptr, nullptr, rig.ports);
    next.setComPort(pnCOM1);
    QVERIFY(next.OpenPort());
}

void SerialPortDriverTest::missingPortFailsQuietly_data() {
    QVERIFY(scratch_.isValid());
    QFile plain(scratch_.filePath(QStringLiteral("plain-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    QTest::addColumn<QString>("device");
    QTest::addColumn<SerialOpenError>("reason");
    QTest::newRow("no such COM number") << QString() << SerialOpenError::NoSuchDevice;
    QTest::newRow("device node gone")
        << scratch_.filePath(QStringLiteral("ttyUSB9")) << SerialOpenError::NoSuchDevice;
    QTest::newRow("regular file") << plain.fileName() << SerialOpenError::NotSerial;
    QTest::newRow("character device that is no tty")
        << QStringLiteral("/dev/null") << SerialOpenError::NotSerial;
}

void SerialPortDriverTest::missingPortFailsQuietly() {
    QFETCH(QString, device);
    QFETCH(SerialOpenError, reason);
    auto ports = std::make_shared<FixedPortDirectory>();
    if (!device.isEmpty())
        ports->setDevice(1, device);
    Receiver received;
    TSerialPortDriver driver(nullptr, nullptr, ports);
    driver.setComPort(pnCOM1);
    driver.setOnReceiveData(received.handler());

    QVERIFY(!driver.OpenPort());
    QVERIFY(!driver.IsOpen());
    QCOMPARE(driver.LastOpenFailure().reason, reason);
    QCOMPARE(driver.LastOpenFailure().device, device);
    QVERIFY(!pollTimer(driver)->isActive());
    driver.PollReceive();
    QCOMPARE(received.chunkSizes, QList<int>{});
    QVERIFY(!driver.OpenPort());
    driver.ClosePort();
    QVERIFY(!driver.IsOpen());
}

void SerialPortDriverTest::secondDriverOnTheSamePortIsRefused() {
    PtyRig rig;
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    QVERIFY(rig.driver->OpenPort());

    TSerialPortDriver intruder(nullptr, nullptr, rig.ports);
    intruder.setComPort(pnCOM1);
    QVERIFY(!intruder.OpenPort());
    QVERIFY(!intruder.IsOpen());
    QCOMPARE(rig.pty.exclusiveFlag(), 1); // the refused opener left the owner's flag alone

    QVERIFY(rig.pty.writeToMaster("still mine"));
    QTRY_COMPARE(rig.received.bytes, QByteArray("still mine"));

    rig.driver->ClosePort();
    QVERIFY(intruder.OpenPort());
}

void SerialPortDriverTest::vanishedPortIsClosedAndReportedOnce() {
    PtyRig rig(kNeverFires);
    QVERIFY2(rig.pty.isValid(), "no pseudo-terminal available");
    LossReceiver lost;
    rig.driver->setOnPortLost(lost.handler());
    QVERIFY(rig.driver->OpenPort());

    // A port that is merely quiet stays open.
    for (int i = 0; i < 5; ++i)
        rig.driver->PollReceive();
    QVERIFY(rig.driver->IsOpen());
    QCOMPARE(lost.devices, QStringList{});

    rig.pty.closeMaster();
    rig.driver->PollReceive();
    QCOMPARE(lost.devices, QStringList{rig.pty.slavePath()});
    QCOMPARE(lost.openWhenTold, QList<bool>{false});
    QVERIFY(!rig.driver->IsOpen());
    QVERIFY(!pollTimer(*rig.driver)->isActive());
    QCOMPARE(rig.driver->OpenDevice(), rig.pty.slavePath());
    // Told once: later polls of the closed port do nothing.
    for (int i = 0; i < 5; ++i)
        rig.driver->PollReceive();
    QCOMPARE(lost.devices.size(), 1);
    QCOMPARE(rig.received.chunkSizes, QList<int>{});
}

void SerialPortDriverTest::openCallsThePlatformInOrder() {
    FakeRig rig;
    QVERIFY(rig.driver->OpenPort());
    const QStringList expected = {
        QStringLiteral("open /dev/fakeA"),
        QStringLiteral("line 7"),
        QStringLiteral("purge 7 in=true out=true"),
        QStringLiteral("queues 7 2048 2048"),
        QStringLiteral("timeouts 7"),
    };
    QCOMPARE(rig.platform.calls, expected);
    QVERIFY(rig.platform.lastTimeouts.has_value());
    const SerialTimeouts& t = *rig.platform.lastTimeouts;
    const QList<std::uint32_t> timeouts = {t.readIntervalMs, t.readTotalMultiplierMs,
                                           t.readTotalConstantMs, t.writeTotalMultiplierMs,
                                           t.writeTotalConstantMs};
    QCOMPARE(timeouts, (QList<std::uint32_t>{1, 0, 1, 0, 0}));

    QVERIFY(rig.driver->OpenPort());
    QCOMPARE(rig.platform.calls, expected);
}

void SerialPortDriverTest::addLineSetterRows() {
    QTest::addColumn<DriverSetup>("setup");
    QTest::addColumn<QString>("expected");
    QTest::newRow("2400 baud") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortSpeed(br2400);
    }) << defaultLineWith([](SerialLineSettings& s) { s.baudRate = 2400; });
    QTest::newRow("56000 baud") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortSpeed(br56000);
    }) << defaultLineWith([](SerialLineSettings& s) { s.baudRate = 56000; });
    QTest::newRow("5 data bits") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortDataBits(db5BITS);
    }) << defaultLineWith([](SerialLineSettings& s) { s.byteSize = 5; });
    QTest::newRow("7 data bits") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortDataBits(db7BITS);
    }) << defaultLineWith([](SerialLineSettings& s) { s.byteSize = 7; });
    QTest::newRow("1.5 stop bits")
        << DriverSetup([](TSerialPortDriver& d) { d.setComPortStopBits(sb1HALFBITS); })
        << defaultLineWith([](SerialLineSettings& s) { s.stopBits = sb1HALFBITS; });
    QTest::newRow("2 stop bits") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortStopBits(sb2BITS);
    }) << defaultLineWith([](SerialLineSettings& s) { s.stopBits = sb2BITS; });
    QTest::newRow("odd parity") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortParity(ptODD);
    }) << defaultLineWith([](SerialLineSettings& s) { s.parity = ptODD; });
    QTest::newRow("space parity") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortParity(ptSPACE);
    }) << defaultLineWith([](SerialLineSettings& s) { s.parity = ptSPACE; });
    QTest::newRow("RTS/CTS") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortHwHandshaking(hhRTSCTS);
    }) << defaultLineWith([](SerialLineSettings& s) { s.rtsCtsHandshake = true; });
    QTest::newRow("XON/XOFF") << DriverSetup([](TSerialPortDriver& d) {
        d.setComPortSwHandshaking(shXONXOFF);
    }) << defaultLineWith([](SerialLineSettings& s) { s.xonXoffHandshake = true; });
}

void SerialPortDriverTest::lineSettingsRecordFollowsTheSettings_data() {
    addLineSetterRows();
    QTest::newRow("defaults") << DriverSetup([](TSerialPortDriver&) {}) << describe(defaultLine());
    QTest::newRow("DTR off") << DriverSetup([](TSerialPortDriver& d) {
        d.setEnableDTROnOpen(false);
    }) << defaultLineWith([](SerialLineSettings& s) { s.dtrEnabled = false; });
    QTest::newRow("100-byte receive queue")
        << DriverSetup([](TSerialPortDriver& d) { d.setComPortInBufSize(100); })
        << defaultLineWith([](SerialLineSettings& s) { s.xonLimit = 25; });
}

void SerialPortDriverTest::lineSettingsRecordFollowsTheSettings() {
    QFETCH(DriverSetup, setup);
    QFETCH(QString, expected);
    FakeRig rig;
    setup(*rig.driver);
    QCOMPARE(rig.platform.calls, QStringList{}); // a closed port is left alone
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(rig.platform.lastSettings.has_value());
    QCOMPARE(describe(*rig.platform.lastSettings), expected);
}

void SerialPortDriverTest::lineSetterWhileOpenAppliesAtOnce_data() {
    addLineSetterRows();
}

void SerialPortDriverTest::lineSetterWhileOpenAppliesAtOnce() {
    QFETCH(DriverSetup, setup);
    QFETCH(QString, expected);
    FakeRig rig;
    QVERIFY(rig.driver->OpenPort());
    rig.platform.calls.clear();
    setup(*rig.driver);
    const QStringList applied = {QStringLiteral("line 7"),
                                 QStringLiteral("purge 7 in=true out=true"),
                                 QStringLiteral("queues 7 2048 2048")};
    QCOMPARE(rig.platform.calls, applied);
    QCOMPARE(describe(*rig.platform.lastSettings), expected);
}

void SerialPortDriverTest::pollDeliversOnlyReadsThatReturnedBytes() {
    FakeRig rig;
    rig.platform.reads = {{-1, {}}, {0, {}}, {3, "abc"}, {-1, {}}, {1, "d"}};
    QVERIFY(rig.driver->OpenPort());
    for (int i = 0; i < 6; ++i)
        rig.driver->PollReceive();
    QCOMPARE(rig.received.bytes, QByteArray("abcd"));
    QCOMPARE(rig.received.chunkSizes, (QList<int>{3, 1}));
    QCOMPARE(rig.received.buffers.size(), 1);
    QCOMPARE(rig.platform.readCapacities,
             (QList<std::int32_t>{2048, 2048, 2048, 2048, 2048, 2048}));
    QVERIFY(rig.driver->IsOpen());
}

void SerialPortDriverTest::failedOpenLeavesThePlatformAlone() {
    FakeRig rig;
    rig.platform.openResult = SerialPlatform::InvalidHandle;
    QVERIFY(!rig.driver->OpenPort());
    rig.driver->PollReceive();
    rig.driver->ApplyLineSettings();
    rig.driver->PurgeBuffers(true, true);
    rig.driver->setComPortSpeed(br4800);
    rig.driver->ClosePort();
    rig.driver.reset();
    QCOMPARE(rig.platform.calls, QStringList{QStringLiteral("open /dev/fakeA")});
    QCOMPARE(rig.platform.readCapacities, QList<std::int32_t>{});

    FakeRig unmapped;
    unmapped.driver->setComPort(pnCOM3);
    QVERIFY(!unmapped.driver->OpenPort());
    QCOMPARE(unmapped.platform.calls, QStringList{});
}

void SerialPortDriverTest::failedOpenKeepsThePlatformsReason_data() {
    QTest::addColumn<SerialOpenFailure>("failure");
    SerialOpenFailure busy;
    busy.reason = SerialOpenError::InUse;
    busy.pid = 4242;
    busy.command = QStringLiteral("minicom");
    QTest::newRow("in use") << busy;
    SerialOpenFailure console;
    console.reason = SerialOpenError::Console;
    QTest::newRow("console") << console;
    SerialOpenFailure forbidden;
    forbidden.reason = SerialOpenError::NoPermission;
    forbidden.errorCode = EACCES;
    QTest::newRow("no permission") << forbidden;
    QTest::newRow("no reason given") << SerialOpenFailure{};
}

void SerialPortDriverTest::failedOpenKeepsThePlatformsReason() {
    QFETCH(SerialOpenFailure, failure);
    FakeRig rig;
    rig.platform.openResult = SerialPlatform::InvalidHandle;
    rig.platform.openFailure = failure;
    QVERIFY(!rig.driver->OpenPort());
    const SerialOpenFailure& got = rig.driver->LastOpenFailure();
    // A platform that gives no reason still yields one.
    QCOMPARE(got.reason,
             failure.reason == SerialOpenError::None ? SerialOpenError::Other : failure.reason);
    QCOMPARE(got.device, QStringLiteral("/dev/fakeA"));
    QCOMPARE(got.pid, failure.pid);
    QCOMPARE(got.command, failure.command);
    QCOMPARE(got.errorCode, failure.errorCode);

    // A later open that works clears it.
    rig.platform.openResult = 7;
    QVERIFY(rig.driver->OpenPort());
    QCOMPARE(rig.driver->LastOpenFailure().reason, SerialOpenError::None);
}

void SerialPortDriverTest::portGoneClosesThePortAndTellsOnce() {
    FakeRig rig;
    LossReceiver lost;
    rig.driver->setOnPortLost(lost.handler());
    rig.platform.reads = {{3, "abc"},
                          {SerialPlatform::ReadFailed, {}},
                          {0, {}},
                          {SerialPlatform::PortGone, {}},
                          {1, "d"}};
    QVERIFY(rig.driver->OpenPort());
    for (int i = 0; i < 3; ++i)
        rig.driver->PollReceive();
    // A failed read and a quiet one keep the port.
    QVERIFY(rig.driver->IsOpen());
    QCOMPARE(lost.devices, QStringList{});

    rig.driver->PollReceive();
    QCOMPARE(lost.devices, QStringList{QStringLiteral("/dev/fakeA")});
    QCOMPARE(lost.openWhenTold, QList<bool>{false});
    QVERIFY(!pollTimer(*rig.driver)->isActive());
    QCOMPARE(rig.platform.calls.count(QStringLiteral("close 7")), 1);
    for (int i = 0; i < 3; ++i)
        rig.driver->PollReceive();
    QCOMPARE(rig.platform.readCapacities.size(), 4);
    QCOMPARE(lost.devices.size(), 1);
    QCOMPARE(rig.received.bytes, QByteArray("abc"));

    // Opened again, the port reads on.
    QVERIFY(rig.driver->OpenPort());
    rig.driver->PollReceive();
    QCOMPARE(rig.received.bytes, QByteArray("abcd"));
}

void SerialPortDriverTest::handleIsClosedExactlyOncePerOpen() {
    FakeRig rig;
    QVERIFY(rig.driver->OpenPort());
    rig.driver->ClosePort();
    rig.driver->ClosePort();
    QCOMPARE(rig.platform.calls.count(QStringLiteral("close 7")), 1);
    QVERIFY(rig.driver->OpenPort());
    rig.driver.reset();
    QCOMPARE(rig.platform.calls.count(QStringLiteral("close 7")), 2);
    QCOMPARE(rig.platform.calls.last(), QStringLiteral("close 7"));
}

void SerialPortDriverTest::pollingTimerRunsExactlyWhileOpen() {
    FakeRig rig;
    QTimer* timer = pollTimer(*rig.driver);
    QVERIFY(timer);
    QVERIFY(!timer->isActive());
    rig.driver->setComPortPollingDelay(30);
    QVERIFY(!timer->isActive());
    QVERIFY(rig.driver->OpenPort());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30);

    rig.driver->setComPortPollingDelay(20);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 20);
    QTRY_VERIFY(rig.platform.readCapacities.size() >= 2); // the restarted timer polls

    rig.driver->setComPortPollingDelay(0);
    QCOMPARE(rig.driver->ComPortPollingDelay(), std::uint16_t(0));
    QCOMPARE(timer->interval(), 1); // never a zero timer spinning the event loop

    rig.driver->ClosePort();
    QVERIFY(!timer->isActive());
}

void SerialPortDriverTest::unchangedPollingDelayDoesNotRestartTheTimer() {
    FakeRig rig;
    rig.driver->setComPortPollingDelay(kNeverFires);
    QVERIFY(rig.driver->OpenPort());
    QTimer* timer = pollTimer(*rig.driver);
    // Long coarse timers are rounded to whole seconds, which hides a restart.
    timer->setTimerType(Qt::PreciseTimer);
    rig.driver->ClosePort();
    QVERIFY(rig.driver->OpenPort());
    QTest::qWait(30);
    const int before = timer->remainingTime();
    QVERIFY2(before < kNeverFires, qPrintable(QStringLiteral("remaining %1 ms").arg(before)));
    rig.driver->setComPortPollingDelay(kNeverFires);
    const int after = timer->remainingTime();
    QVERIFY2(
        after <= before,
        qPrintable(QStringLiteral("remaining before %1 ms, after %2 ms").arg(before).arg(after)));
}

QTEST_GUILESS_MAIN(SerialPortDriverTest)
#include "SerialPortDriverTest.moc"
