#include "link/HidDevice.h"
#include "link/HidDeviceController.h"

#include "FakeHidPlatform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

using namespace qm45;
using qm45::test::FakeHidPlatform;

namespace {

constexpr int kSlice = 300;
// Scheduling under a sanitizer can add this much to a stop; a stop that
// waited for the next report instead of the slice would take far longer.
constexpr int kSliceMargin = 1500;

// What the handlers were given: the report ID followed by Data.
struct Received {
    QList<QByteArray> reports;
    QList<THidDevice*> senders;
    QList<std::uint32_t> errors;
    std::function<void()> during; // runs inside each data call

    void onData(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data,
                std::uint16_t size) {
        senders << device;
        QByteArray report(1, char(reportId));
        report.append(reinterpret_cast<const char*>(data), size);
        reports << report;
        if (during)
            during();
    }
    void onError(THidDevice*, std::uint32_t error) { errors << error; }
};

// One scripted device, checked out and reading into `received`.
struct Rig {
    explicit Rig(const FakeHidPlatform::Description& description = {}) {
        id = platform->add(description);
        controller = std::make_unique<THidDeviceController>(platform);
        device = controller->CheckOutDeviceAt(0);
        device->setReadWaitTime(kSlice);
        device->setDataErrorHandler(THidDataErrorEvent(&received, &Received::onError));
        device->SetDataHandler(handler());
    }
    ~Rig() {
        THidDeviceController::ReleaseDevice(device);
        controller.reset();
    }
    THidDataEvent handler() { return THidDataEvent(&received, &Received::onData); }

    std::shared_ptr<FakeHidPlatform> platform = std::make_shared<FakeHidPlatform>();
    std::unique_ptr<THidDeviceController> controller;
    THidDevice* device = nullptr;
    Received received;
    int id = 0;
};

int threadsOfThisProcess() {
    return int(QDir(QStringLiteral("/proc/self/task")).count()) - 2;
}

// Waits without running the event loop, so that nothing is served meanwhile.
bool waitWithoutEvents(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

QString hex(const QList<QByteArray>& reports) {
    QStringList parts;
    for (const QByteArray& r : reports)
        parts << QString::fromLatin1(r.toHex(' '));
    return parts.join(QStringLiteral(" | "));
}

} // namespace

class HidDeviceReadThreadTest : public QObject {
    Q_OBJECT

private slots:
    void reportReachesTheHandlerAsIdDataAndSizeMinusOne_data();
    void reportReachesTheHandlerAsIdDataAndSizeMinusOne();
    void reportsArriveInOrderFromTheirDevice();
    void stopReturnsWithinAboutOneSliceAndNothingReachesTheOldHandler_data();
    void stopReturnsWithinAboutOneSliceAndNothingReachesTheOldHandler();
    void stopDeliversAHandOverUnderWayWithoutRunningOtherEvents();
    void stopFromInsideItsOwnHandlerEndsTheReaderWithoutLosingReports();
    void newHandlerTakesTheNextReportWithoutRestartingTheReader();
    void refusedReadIsReportedAndReadingGoesOn();
    void unpluggedDeviceReportsErrorsUntilStopped();
    void deviceWhoseReadsKeepFailingEndsItsReaderAndAsksForARescan();
    void exceptionFromAHandlerReleasesTheReaderAndReachesTheController_data();
    void exceptionFromAHandlerReleasesTheReaderAndReachesTheController();
    void deviceChangeStormsLeaveNoThreadOrHandleBehind();
    void readersStillRunningAtExitEndWithTheProgram();
};

void HidDeviceReadThreadTest::reportReachesTheHandlerAsIdDataAndSizeMinusOne_data() {
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("delivered"); // empty: nothing
    const QByteArray nine = QByteArray::fromHex("00f3010203a0b0c0d0");
    QTest::newRow("full report") << nine << nine;
    QTest::newRow("report ID only") << QByteArray::fromHex("05") << QByteArray::fromHex("05");
    QTest::newRow("numbered, short")
        << QByteArray::fromHex("07f133") << QByteArray::fromHex("07f133");
    QTest::newRow("longer than the report length")
        << nine + QByteArray::fromHex("eeeeeeee") << nine;
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void HidDeviceReadThreadTest::reportReachesTheHandlerAsIdDataAndSizeMinusOne() {
    QFETCH(QByteArray, report);
    QFETCH(QByteArray, delivered);
    Rig rig;
    const QByteArray marker = QByteArray::fromHex("7e");
    rig.platform->pushReport(rig.id, report);
    rig.platform->pushReport(rig.id, marker);
    QTRY_VERIFY(!rig.received.reports.isEmpty() && rig.received.reports.last() == marker);

    QList<QByteArray> expected;
    if (!delivered.isEmpty())
        expected << delivered;
    expected << marker;
    QVERIFY2(rig.received.reports == expected,
             qPrintable(QStringLiteral("report %1: expected %2, got %3")
                            .arg(QString::fromLatin1(report.toHex(' ')), hex(expected),
                                 hex(rig.received.reports))));
}

void HidDeviceReadThreadTest::reportsArriveInOrderFromTheirDevice() {
    Rig rig;
    QList<QByteArray> sent;
    for (int i = 0; i < 300; ++i) {
        const QByteArray report = QByteArray(1, 0) + QByteArray::number(i);
        sent << report;
        rig.platform->pushReport(rig.id, report);
    }
    QVERIFY(
        qm45::test::runEventLoopUntil([&] { return rig.received.reports.size() >= sent.size(); }));
    QCOMPARE(rig.received.reports, sent);
    QCOMPARE(rig.received.senders.count(rig.device), sent.size());
}

void HidDeviceReadThreadTest::stopReturnsWithinAboutOneSliceAndNothingReachesTheOldHandler_data() {
    QTest::addColumn<bool>("busy");
    QTest::newRow("waiting in a slice") << false;
    QTest::newRow("reports streaming") << true;
}

void HidDeviceReadThreadTest::stopReturnsWithinAboutOneSliceAndNothingReachesTheOldHandler() {
    QFETCH(bool, busy);
    Rig rig;
    if (busy) {
        rig.platform->stream(rig.id, QByteArray::fromHex("00f130"));
        QTRY_VERIFY(rig.received.reports.size() > 20);
    } else {
        QTest::qWait(kSlice / 2);
    }

    QElapsedTimer clock;
    clock.start();
    rig.device->SetDataHandler({});
    const qint64 took = clock.elapsed();
    QVERIFY2(
        took < kSlice + kSliceMargin,
        qPrintable(QStringLiteral("stop took %1 ms with a %2 ms slice").arg(took).arg(kSlice)));
    QVERIFY(!rig.device->isReading());
    QCOMPARE(rig.platform->openHandles(HidAccess::Read), 0);

    const qsizetype before = rig.received.reports.size();
    rig.platform->pushReport(rig.id, QByteArray::fromHex("00f131"));
    QTest::qWait(2 * kSlice);
    QCOMPARE(rig.received.reports.size(), before);
}

void HidDeviceReadThreadTest::stopDeliversAHandOverUnderWayWithoutRunningOtherEvents() {
    Rig rig;
    rig.platform->pushReport(rig.id, QByteArray::fromHex("0001"));
    QTRY_COMPARE(rig.received.reports.size(), 1);

    // The second report is read and handed over while the main thread does
    // not run its event loop: the hand-over waits.
    rig.platform->pushReport(rig.id, QByteArray::fromHex("0002"));
    QVERIFY(waitWithoutEvents([&] { return rig.platform->completedReads(rig.id) == 2; }));
    QThread::msleep(100);

    bool timerRan = false;
    QTimer::singleShot(0, [&timerRan] { timerRan = true; });
    bool timerRanDuringHandler = true;
    rig.received.during = [&] { timerRanDuringHandler = timerRan; };

    rig.device->SetDataHandler({});
    QCOMPARE(rig.received.reports,
             (QList<QByteArray>{QByteArray::fromHex("0001"), QByteArray::fromHex("0002")}));
    QVERIFY2(!timerRanDuringHandler, "a timer ran inside the stop");
    QVERIFY2(!timerRan, "a timer ran inside the stop");
    QTRY_VERIFY(timerRan);
    QCOMPARE(rig.received.reports.size(), 2);
}

void HidDeviceReadThreadTest::stopFromInsideItsOwnHandlerEndsTheReaderWithoutLosingReports() {
    Rig rig;
    rig.received.during = [&rig] {
        if (rig.received.reports.size() == 1)
            rig.device->SetDataHandler({});
    };
    for (char i = 1; i <= 3; ++i)
        rig.platform->pushReport(rig.id, QByteArray(1, 0) + QByteArray(1, i));
    QTRY_COMPARE(rig.received.reports.size(), 1);
    QVERIFY(!rig.device->isReading());
    QTRY_COMPARE(rig.platform->openHandles(HidAccess::Read), 0);
    QTest::qWait(2 * kSlice);
    QCOMPARE(rig.received.reports.size(), 1);

    // The stopped reader took no further report: a new one gets both.
    rig.received.during = nullptr;
    rig.device->SetDataHandler(rig.handler());
    QTRY_COMPARE(rig.received.reports.size(), 3);
    QCOMPARE(rig.received.reports.last(), QByteArray::fromHex("0003"));
}

void HidDeviceReadThreadTest::newHandlerTakesTheNextReportWithoutRestartingTheReader() {
    Rig rig;
    rig.platform->pushReport(rig.id, QByteArray::fromHex("0001"));
    QTRY_COMPARE(rig.received.reports.size(), 1);
    Received other;
    rig.device->SetDataHandler(THidDataEvent(&other, &Received::onData));
    QCOMPARE(rig.platform->openHandles(HidAccess::Read), 1);
    rig.platform->pushReport(rig.id, QByteArray::fromHex("0002"));
    QTRY_COMPARE(other.reports, QList<QByteArray>{QByteArray::fromHex("0002")});
    QCOMPARE(rig.received.reports.size(), 1);
}

void HidDeviceReadThreadTest::refusedReadIsReportedAndReadingGoesOn() {
    Rig rig;
    // Fewer refusals in a row than make a device count as gone.
    rig.platform->pushReadError(rig.id, EIO);
    rig.platform->pushReadError(rig.id, ENODEV);
    rig.platform->pushReport(rig.id, QByteArray::fromHex("00f0"));
    rig.platform->pushReadError(rig.id, EIO);
    rig.platform->pushReadError(rig.id, EPROTO);
    rig.platform->pushReadError(rig.id, EIO);
    rig.platform->pushReport(rig.id, QByteArray::fromHex("00f1"));
    QTRY_COMPARE(rig.received.reports.size(), 2);
    QCOMPARE(rig.received.errors, (QList<std::uint32_t>{EIO, ENODEV, EIO, EPROTO, EIO}));
    QVERIFY(rig.device->isReading());
}

void HidDeviceReadThreadTest::unpluggedDeviceReportsErrorsUntilStopped() {
    Rig rig;
    QElapsedTimer clock;
    clock.start();
    rig.platform->unplug(rig.id);
    QVERIFY(!rig.device->Attached());
    QVERIFY(rig.device->isReading());
    QTRY_VERIFY(rig.received.errors.size() >= 3);
    // One wait slice between two refused requests: no spinning meanwhile.
    QVERIFY2(clock.elapsed() >= 2 * kSlice - 20,
             qPrintable(QStringLiteral("3 errors within %1 ms").arg(clock.elapsed())));
    QCOMPARE(rig.received.errors.count(HidPlatform::NotAccessibleError),
             rig.received.errors.size());

    rig.device->SetDataHandler({});
    const qsizetype reported = rig.received.errors.size();
    QTest::qWait(2 * kSlice);
    QCOMPARE(rig.received.errors.size(), reported);
}

void HidDeviceReadThreadTest::deviceWhoseReadsKeepFailingEndsItsReaderAndAsksForARescan() {
    // Two devices read side by side; one fails every read with EIO while it
    // stays listed and no change is signalled, the other streams.
    auto platform = std::make_shared<FakeHidPlatform>();
    const int dead = platform->add({});
    const int busy = platform->add({});
    THidDeviceController controller(platform);
    int rescans = 0;
    controller.setOnDeviceChange(THidNotifyEvent([&rescans](THidDeviceController*) { ++rescans; }));
    rescans = 0; // the first report comes at once
    Received deadReceived;
    Received busyReceived;
    THidDevice* deadDevice = controller.CheckOutDeviceAt(0);
    THidDevice* busyDevice = controller.CheckOutDeviceAt(1);
    QVERIFY(deadDevice && busyDevice);
    for (THidDevice* d : {deadDevice, busyDevice})
        d->setReadWaitTime(50);
    deadDevice->setDataErrorHandler(THidDataErrorEvent(&deadReceived, &Received::onError));
    platform->failReads(dead, EIO);
    platform->stream(busy, QByteArray::fromHex("00f130"));
    QElapsedTimer clock;
    clock.start();
    deadDevice->SetDataHandler(THidDataEvent(&deadReceived, &Received::onData));
    busyDevice->SetDataHandler(THidDataEvent(&busyReceived, &Received::onData));

    QVERIFY(qm45::test::runEventLoopUntil([&] { return !deadDevice->isReading(); }, 5000));
    const qint64 took = clock.elapsed();
    QVERIFY(qm45::test::runEventLoopUntil([&] { return rescans == 1; }, 5000));
    // Three attempts, a slice apart, then the reader gave up; the device that
    // works was read many times over meanwhile.
    QCOMPARE(platform->readAttempts(dead), 3);
    QCOMPARE(deadReceived.errors, (QList<std::uint32_t>{EIO, EIO, EIO}));
    QVERIFY2(took >= 2 * 50 - 10, qPrintable(QStringLiteral("gave up after %1 ms").arg(took)));
    QVERIFY2(platform->completedReads(busy) > 20,
             qPrintable(QStringLiteral("%1 reads").arg(platform->completedReads(busy))));
    QVERIFY(busyDevice->isReading());
    QCOMPARE(platform->openHandles(HidAccess::Read), 1);
    // The handler stays: the holder decides when to read again.
    QVERIFY(deadDevice->DataHandler());
    QCOMPARE(deadReceived.reports.size(), 0);

    THidDeviceController::ReleaseDevice(deadDevice);
    THidDeviceController::ReleaseDevice(busyDevice);
}

void HidDeviceReadThreadTest::exceptionFromAHandlerReleasesTheReaderAndReachesTheController_data() {
    QTest::addColumn<QString>("thrown");
    QTest::addColumn<QString>("text");
    QTest::newRow("runtime_error from the data handler") << "runtime_error"
                                                         << "bad frame";
    QTest::newRow("bad_alloc from the data handler") << "bad_alloc"
                                                     << "std::bad_alloc";
    QTest::newRow("runtime_error from the error handler") << "error handler"
                                                          << "bad error";
}

void HidDeviceReadThreadTest::exceptionFromAHandlerReleasesTheReaderAndReachesTheController() {
    QFETCH(QString, thrown);
    QFETCH(QString, text);
    Rig rig;
    QStringList failures;
    QList<THidDevice*> failedDevices;
    rig.controller->setOnHandlerFailure([&](THidDevice* device, std::exception_ptr error) {
        failedDevices << device;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            failures << QString::fromLocal8Bit(e.what());
        }
    });
    bool thrownOnce = false;
    if (thrown == QLatin1String("error handler")) {
        rig.device->setDataErrorHandler(THidDataErrorEvent([&](THidDevice*, std::uint32_t) {
            if (!std::exchange(thrownOnce, true))
                throw std::runtime_error("bad error");
        }));
        rig.platform->pushReadError(rig.id, EPROTO);
    } else {
        rig.received.during = [&] {
            if (std::exchange(thrownOnce, true))
                return;
            if (thrown == QLatin1String("bad_alloc"))
                throw std::bad_alloc();
            throw std::runtime_error("bad frame");
        };
    }
    for (char i = 1; i <= 3; ++i)
        rig.platform->pushReport(rig.id, QByteArray(1, 0) + QByteArray(1, i));

    QTRY_COMPARE(rig.received.reports.size(), 3);
    QCOMPARE(failures, QStringList{text});
    QCOMPARE(failedDevices, QList<THidDevice*>{rig.device});
    QVERIFY(rig.device->isReading());
    // Later reports still arrive, and the reader stops as usual.
    rig.platform->pushReport(rig.id, QByteArray::fromHex("0004"));
    QTRY_COMPARE(rig.received.reports.size(), 4);
    rig.device->SetDataHandler({});
    QVERIFY(!rig.device->isReading());
    QCOMPARE(failures.size(), 1);
}

void HidDeviceReadThreadTest::deviceChangeStormsLeaveNoThreadOrHandleBehind() {
    const int threadsBefore = threadsOfThisProcess();
    auto platform = std::make_shared<FakeHidPlatform>();
    {
        THidDeviceController controller(platform);
        QList<THidDevice*> held;
        Received received;
        QList<int> plugged;
        QRandomGenerator random(45);
        // Hold every device with a reader, as the connection control does, and
        // rebuild at every change while devices come and go and stream.
        controller.setOnDeviceChange(THidNotifyEvent([&](THidDeviceController*) {
            for (THidDevice* d : std::as_const(held))
                THidDeviceController::ReleaseDevice(d);
            held.clear();
            for (int i = 0; i < controller.DeviceCount(); ++i) {
                if (THidDevice* d = controller.CheckOutDeviceAt(i)) {
                    d->setReadWaitTime(10);
                    d->SetDataHandler(THidDataEvent(&received, &Received::onData));
                    held << d;
                }
            }
        }));
        for (int round = 0; round < 60; ++round) {
            if (plugged.size() < 4 || random.bounded(2) == 0) {
                FakeHidPlatform::Description description;
                description.inputReportByteLength = std::uint16_t(random.bounded(4));
                const int id = platform->add(description);
                platform->stream(id, QByteArray::fromHex("00f233340000"));
                plugged << id;
            } else {
                platform->unplug(plugged.takeAt(int(random.bounded(plugged.size()))));
            }
            QTest::qWait(int(random.bounded(15)));
        }
        for (THidDevice* d : std::as_const(held))
            THidDeviceController::ReleaseDevice(d);
        held.clear();
        QVERIFY(!received.reports.isEmpty());
    }
    QCOMPARE(platform->openHandles(), 0);
    QTRY_COMPARE(threadsOfThisProcess(), threadsBefore);
}

void HidDeviceReadThreadTest::readersStillRunningAtExitEndWithTheProgram() {
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    // The probe leaks, on purpose, what its holder never released.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("detect_leaks=0"));
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(QM45_HID_EXIT_PROBE), QStringList{});
    QVERIFY2(probe.waitForStarted(), qPrintable(probe.errorString()));
    const bool ended = probe.waitForFinished(60000);
    if (!ended)
        probe.kill();
    const QString output = QString::fromLocal8Bit(probe.readAll());
    QVERIFY2(ended, qPrintable(QStringLiteral("the probe hung:\n%1").arg(output)));
    QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0,
             qPrintable(QStringLiteral("exit code %1:\n%2").arg(probe.exitCode()).arg(output)));
}

QTEST_GUILESS_MAIN(HidDeviceReadThreadTest)
#include "HidDeviceReadThreadTest.moc"
