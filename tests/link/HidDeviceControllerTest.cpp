#include "link/HidDeviceController.h"
#include "link/HidControllerError.h"
#include "link/HidDevice.h"

#include "FakeHidPlatform.h"

#include <QtTest>

#include <memory>

using namespace qm45;
using qm45::test::FakeHidPlatform;

namespace {

FakeHidPlatform::Description named(const char16_t* product) {
    FakeHidPlatform::Description description;
    description.product = product;
    return description;
}

// The fake's device number and plug count, e.g. "2:1".
QString nameOf(const THidDevice* device) {
    return device->PnPInfo().identity.section(':', 1);
}
QString inEvent(const THidDevice* device) {
    return device->InEvent() ? QString() : QStringLiteral(" (not in event)");
}

// A controller over scripted devices, with every event written to one log.
struct Rig {
    std::shared_ptr<FakeHidPlatform> platform = std::make_shared<FakeHidPlatform>();
    std::unique_ptr<THidDeviceController> controller;
    QStringList log;

    void create() { controller = std::make_unique<THidDeviceController>(platform); }
    // Arrival, removal, unplug and change events, each noting whether the
    // device was in an event while it was reported.
    void logEverything() {
        controller->setOnArrival(
            THidPlugEvent([this](THidDevice* d) { log << "arrival " + nameOf(d) + inEvent(d); }));
        controller->setOnRemoval(
            THidPlugEvent([this](THidDevice* d) { log << "removal " + nameOf(d) + inEvent(d); }));
        controller->setOnDeviceUnplug(THidPlugEvent(
            [this](THidDevice* d) { log << QStringLiteral("unplug %1").arg(nameOf(d)); }));
        controller->setOnDeviceChange(THidNotifyEvent([this](THidDeviceController* sender) {
            log << (sender == controller.get() ? QStringLiteral("change")
                                               : QStringLiteral("change from?"));
        }));
    }
    [[nodiscard]] QStringList listed() const {
        QStringList names;
        for (int i = 0; i < controller->DeviceCount(); ++i)
            names << nameOf(controller->DeviceAt(i)) +
                         (controller->DeviceAt(i)->Attached() ? "" : " detached");
        return names;
    }
    ~Rig() { controller.reset(); }
};

struct DataSink {
    int calls = 0;
    void onData(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++calls; }
    void onOtherData(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++calls; }
};

} // namespace

class HidDeviceControllerTest : public QObject {
    Q_OBJECT

private slots:
    void handlersAreTheSameWhenTheirRoutineIs();
    void firstOnDeviceChangeReportsOnceThenOnlyChanges();
    void devicePresentBeforeAndAfterKeepsObjectIndexFlagsAndReader();
    void removalsComeBeforeArrivalsAndChangeComesLast();
    void checkedInDeviceLeavesTheListAndLaterOnesMoveDown();
    void detachedCheckedOutDeviceIsReportedAgainUntilReleased();
    void replugWhileOldObjectIsCheckedOutArrivesAsNewObject();
    void enumerateSkipsDetachedDevicesButPassesListIndices_data();
    void enumerateSkipsDetachedDevicesButPassesListIndices();
    void enumerateWithoutHandlerCountsOneAttachedDevice();
    void checkOutRefusesBadIndicesAndCheckedOutDevices_data();
    void checkOutRefusesBadIndicesAndCheckedOutDevices();
    void releasedAttachedDeviceIsReplacedAtItsIndex();
    void releasedDeviceThatNoLongerOpensLeavesTheList();
    void releaseAfterTheControllerIsGoneDestroysTheDevice();
    void onlyOneControllerPerProgram();
    void unopenableAndUnidentifiableDevicesAreLeftOutAndRetried();
    void unavailablePlatformListsNothingAndNeverReportsAChange();
    void newDefaultHandlersReachOnlyDevicesWithTheOldDefault();
    void devThreadSleepTimeReachesOnlyDevicesWithTheOldValue();
    void changeSignalDuringAHandlerIsServedAfterIt();
};

void HidDeviceControllerTest::handlersAreTheSameWhenTheirRoutineIs() {
    DataSink a;
    DataSink b;
    QVERIFY(THidDataEvent(&a, &DataSink::onData) == THidDataEvent(&b, &DataSink::onData));
    QVERIFY(THidDataEvent(&a, &DataSink::onData) != THidDataEvent(&a, &DataSink::onOtherData));
    QVERIFY(THidDataEvent() == THidDataEvent());
    QVERIFY(THidDataEvent(&a, &DataSink::onData) != THidDataEvent());
    const auto fromLambda = [](int capture) {
        return THidPlugEvent([capture](THidDevice*) { (void)capture; });
    };
    QVERIFY(fromLambda(1) == fromLambda(2));
    QVERIFY(fromLambda(1) != THidPlugEvent([](THidDevice*) {}));
}

void HidDeviceControllerTest::firstOnDeviceChangeReportsOnceThenOnlyChanges() {
    Rig rig;
    rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.create();
    QCOMPARE(rig.listed(), (QStringList{"1:1", "2:1"}));

    rig.logEverything();
    QCOMPARE(rig.log, QStringList{"change"});

    rig.controller->DeviceChange();
    rig.platform->notifyChange();
    rig.logEverything(); // the same routines again: nothing is rerun
    QCOMPARE(rig.log, QStringList{"change"});

    rig.platform->add(named(u"c"));
    QCOMPARE(rig.log, (QStringList{"change", "arrival 3:1", "change"}));
}

void HidDeviceControllerTest::devicePresentBeforeAndAfterKeepsObjectIndexFlagsAndReader() {
    Rig rig;
    const int kept = rig.platform->add(named(u"kept"));
    rig.create();
    rig.logEverything();
    THidDevice* device = rig.controller->CheckOutDeviceAt(0);
    QVERIFY(device);
    DataSink sink;
    device->SetDataHandler(THidDataEvent(&sink, &DataSink::onData));
    QVERIFY(device->isReading());
    rig.log.clear();

    rig.platform->add(named(u"new"));
    QCOMPARE(rig.log, (QStringList{"arrival 2:1", "change"}));
    QCOMPARE(rig.controller->DeviceAt(0), device);
    QVERIFY(device->Attached() && device->CheckedOut() && device->isReading());

    rig.platform->pushReport(kept, QByteArray("\x00\x01", 2));
    QTRY_COMPARE(sink.calls, 1);
    THidDeviceController::ReleaseDevice(device);
}

void HidDeviceControllerTest::removalsComeBeforeArrivalsAndChangeComesLast() {
    Rig rig;
    const int a = rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    const int c = rig.platform->add(named(u"c"));
    rig.create();
    rig.logEverything();
    rig.log.clear();

    rig.platform->unplug(a, false);
    rig.platform->unplug(c, false);
    rig.platform->add(named(u"d"), false);
    rig.platform->add(named(u"e"), false);
    rig.platform->notifyChange();
    QCOMPARE(rig.log, (QStringList{"unplug 3:1", "removal 3:1", "unplug 1:1", "removal 1:1",
                                   "arrival 4:1", "arrival 5:1", "change"}));
    QCOMPARE(rig.listed(), (QStringList{"2:1", "4:1", "5:1"}));
    for (int i = 0; i < rig.controller->DeviceCount(); ++i)
        QVERIFY2(!rig.controller->DeviceAt(i)->InEvent(), qPrintable(rig.listed().at(i)));
}

void HidDeviceControllerTest::checkedInDeviceLeavesTheListAndLaterOnesMoveDown() {
    Rig rig;
    const int a = rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.platform->add(named(u"c"));
    rig.create();
    THidDevice* b = rig.controller->DeviceAt(1);
    THidDevice* c = rig.controller->DeviceAt(2);

    rig.platform->unplug(a);
    QCOMPARE(rig.controller->DeviceCount(), 2);
    QCOMPARE(rig.controller->DeviceAt(0), b);
    QCOMPARE(rig.controller->DeviceAt(1), c);
}

void HidDeviceControllerTest::detachedCheckedOutDeviceIsReportedAgainUntilReleased() {
    Rig rig;
    rig.platform->add(named(u"a"));
    const int b = rig.platform->add(named(u"b"));
    rig.create();
    rig.logEverything();
    THidDevice* held = rig.controller->CheckOutDeviceAt(1);
    QVERIFY(held);
    rig.log.clear();

    rig.platform->unplug(b);
    QCOMPARE(rig.log, (QStringList{"unplug 2:1", "removal 2:1", "change"}));
    QCOMPARE(rig.listed(), (QStringList{"1:1", "2:1 detached"}));
    QVERIFY(held->CheckedOut());

    // Its unplug handler is gone; the removal is reported at every scan.
    rig.log.clear();
    rig.controller->DeviceChange();
    rig.controller->DeviceChange();
    QCOMPARE(rig.log, (QStringList{"removal 2:1", "change", "removal 2:1", "change"}));

    THidDeviceController::ReleaseDevice(held);
    QCOMPARE(rig.listed(), QStringList{"1:1"});
    rig.log.clear();
    rig.controller->DeviceChange();
    QCOMPARE(rig.log, QStringList());
}

void HidDeviceControllerTest::replugWhileOldObjectIsCheckedOutArrivesAsNewObject() {
    Rig rig;
    const int cable = rig.platform->add(FakeHidPlatform::cable());
    rig.platform->add(named(u"other"));
    rig.create();
    rig.logEverything();
    THidDevice* old = rig.controller->CheckOutDeviceAt(0);
    rig.platform->unplug(cable);
    rig.log.clear();

    rig.platform->replug(cable);
    QCOMPARE(rig.log, (QStringList{"removal 1:1", "arrival 1:2", "change"}));
    QCOMPARE(rig.listed(), (QStringList{"1:1 detached", "2:1", "1:2"}));
    QVERIFY(rig.controller->DeviceAt(2) != old);
    THidDeviceController::ReleaseDevice(old);
    QCOMPARE(rig.listed(), (QStringList{"2:1", "1:2"}));
}

void HidDeviceControllerTest::enumerateSkipsDetachedDevicesButPassesListIndices_data() {
    QTest::addColumn<int>("falseOnCall"); // the call whose handler returns false; 0: none
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<int>("count");
    QTest::newRow("all") << 0 << QList<int>{0, 2, 3} << 3;
    QTest::newRow("stops at first") << 1 << QList<int>{0} << 1;
    QTest::newRow("stops after the gap") << 2 << QList<int>{0, 2} << 2;
}

void HidDeviceControllerTest::enumerateSkipsDetachedDevicesButPassesListIndices() {
    QFETCH(int, falseOnCall);
    QFETCH(QList<int>, indices);
    QFETCH(int, count);
    Rig rig;
    rig.platform->add(named(u"a"));
    const int b = rig.platform->add(named(u"b"));
    rig.platform->add(named(u"c"));
    rig.platform->add(named(u"d"));
    rig.create();
    THidDevice* held = rig.controller->CheckOutDeviceAt(1);
    rig.platform->unplug(b);

    QList<int> seen;
    QStringList products;
    rig.controller->setOnEnumerate(THidEnumerateEvent([&](THidDevice* d, std::int32_t idx) {
        seen << idx;
        products << d->ProductString(); // readable while in the event
        return seen.size() != falseOnCall;
    }));
    QCOMPARE(rig.controller->EnumerateDevices(), count);
    QCOMPARE(seen, indices);
    const QStringList all{"a", "c", "d"};
    QCOMPARE(products, all.mid(0, count));
    QCOMPARE(rig.platform->openHandles(), 0); // closed again after each call
    THidDeviceController::ReleaseDevice(held);
}

void HidDeviceControllerTest::enumerateWithoutHandlerCountsOneAttachedDevice() {
    Rig rig;
    rig.create();
    QCOMPARE(rig.controller->EnumerateDevices(), 0);
    rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.controller->DeviceChange();
    QCOMPARE(rig.controller->EnumerateDevices(), 1);
}

void HidDeviceControllerTest::checkOutRefusesBadIndicesAndCheckedOutDevices_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("lent");
    QTest::newRow("-1") << -1 << false;
    QTest::newRow("list length") << 2 << false;
    QTest::newRow("already checked out") << 1 << false;
    QTest::newRow("free") << 0 << true;
}

void HidDeviceControllerTest::checkOutRefusesBadIndicesAndCheckedOutDevices() {
    QFETCH(int, index);
    QFETCH(bool, lent);
    Rig rig;
    rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.create();
    THidDevice* first = rig.controller->CheckOutDeviceAt(1);
    QVERIFY(first);

    THidDevice* got = rig.controller->CheckOutDeviceAt(index);
    QCOMPARE(got != nullptr, lent);
    if (got) {
        QCOMPARE(got, rig.controller->DeviceAt(index));
        QVERIFY(got->CheckedOut());
        THidDeviceController::ReleaseDevice(got);
    }
    THidDeviceController::ReleaseDevice(first);
}

void HidDeviceControllerTest::releasedAttachedDeviceIsReplacedAtItsIndex() {
    Rig rig;
    rig.platform->add(named(u"a"));
    const int b = rig.platform->add(named(u"b"));
    rig.platform->add(named(u"c"));
    rig.create();
    THidDevice* held = rig.controller->CheckOutDeviceAt(1);
    DataSink sink;
    const THidDataEvent data(&sink, &DataSink::onData);
    const THidPlugEvent unplug([](THidDevice*) {});
    held->SetDataHandler(data);
    held->setUnplugHandler(unplug);
    held->setDataErrorHandler(THidDataErrorEvent([](THidDevice*, std::uint32_t) {}));
    held->setReadWaitTime(250);
    QVERIFY(held->isReading());

    THidDeviceController::ReleaseDevice(held);
    THidDevice* fresh = rig.controller->DeviceAt(1);
    QVERIFY(fresh != held);
    QCOMPARE(rig.listed(), (QStringList{"1:1", "2:1", "3:1"}));
    QVERIFY(!fresh->CheckedOut());
    QVERIFY(!fresh->isReading());
    QVERIFY(fresh->DataHandler() == data);
    QVERIFY(fresh->UnplugHandler() == unplug);
    QVERIFY(!fresh->DataErrorHandler());
    QCOMPARE(fresh->ReadWaitTime(), 250);
    QCOMPARE(rig.platform->openHandles(), 0);

    // Checked out again, it reads with the handler it kept.
    QCOMPARE(rig.controller->CheckOutDeviceAt(1), fresh);
    QVERIFY(fresh->isReading());
    rig.platform->pushReport(b, QByteArray("\x00\x01", 2));
    QTRY_COMPARE(sink.calls, 1);
    THidDeviceController::ReleaseDevice(fresh);
}

void HidDeviceControllerTest::releasedDeviceThatNoLongerOpensLeavesTheList() {
    Rig rig;
    const int a = rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.create();
    THidDevice* held = rig.controller->CheckOutDeviceAt(0);
    FakeHidPlatform::Description locked = named(u"a");
    locked.opens = false;
    rig.platform->setDescription(a, locked);

    THidDeviceController::ReleaseDevice(held);
    QCOMPARE(rig.listed(), QStringList{"2:1"});
}

void HidDeviceControllerTest::releaseAfterTheControllerIsGoneDestroysTheDevice() {
    Rig rig;
    rig.platform->add(named(u"a"));
    rig.create();
    rig.logEverything();
    THidDevice* held = rig.controller->CheckOutDeviceAt(0);
    DataSink sink;
    held->SetDataHandler(THidDataEvent(&sink, &DataSink::onData));
    rig.log.clear();

    rig.controller.reset();
    QVERIFY(!held->Attached());
    QCOMPARE(rig.log, QStringList{"unplug 1:1"});
    QVERIFY(held->isReading());

    THidDeviceController::ReleaseDevice(held);
    QCOMPARE(rig.platform->openHandles(), 0);
}

void HidDeviceControllerTest::onlyOneControllerPerProgram() {
    auto platform = std::make_shared<FakeHidPlatform>();
    auto first = std::make_unique<THidDeviceController>(platform);
    QString message;
    try {
        THidDeviceController second(platform);
    } catch (const EControllerError& e) {
        message = QString::fromStdString(e.what());
    }
    QCOMPARE(message, QStringLiteral("Only one THidDeviceController allowed per program"));

    first.reset();
    THidDeviceController again(platform); // the failed one did not count
    QCOMPARE(again.DeviceCount(), 0);
}

void HidDeviceControllerTest::unopenableAndUnidentifiableDevicesAreLeftOutAndRetried() {
    Rig rig;
    FakeHidPlatform::Description closed = named(u"closed");
    closed.opens = false;
    FakeHidPlatform::Description anonymous = named(u"anonymous");
    anonymous.attributes = std::nullopt;
    const int c = rig.platform->add(closed);
    const int n = rig.platform->add(anonymous);
    rig.platform->add(named(u"fine"));
    rig.create();
    QCOMPARE(rig.listed(), QStringList{"3:1"});
    QCOMPARE(rig.platform->openHandles(), 0);

    rig.logEverything();
    rig.log.clear();
    rig.platform->setDescription(c, named(u"closed"));
    rig.platform->setDescription(n, named(u"anonymous"));
    rig.platform->notifyChange();
    QCOMPARE(rig.log, (QStringList{"arrival 1:1", "arrival 2:1", "change"}));
}

void HidDeviceControllerTest::unavailablePlatformListsNothingAndNeverReportsAChange() {
    Rig rig;
    rig.platform->isAvailable = false;
    rig.platform->add(named(u"a"));
    rig.create();
    QCOMPARE(rig.controller->DeviceCount(), 0);
    rig.logEverything();
    QCOMPARE(rig.log, QStringList{"change"}); // the first report, with nothing in it
    rig.platform->add(named(u"b"));
    QCOMPARE(rig.log, QStringList{"change"});
    QCOMPARE(rig.controller->DeviceCount(), 0);
}

void HidDeviceControllerTest::newDefaultHandlersReachOnlyDevicesWithTheOldDefault() {
    Rig rig;
    rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.create();
    THidDevice* a = rig.controller->DeviceAt(0);
    THidDevice* b = rig.controller->DeviceAt(1);
    DataSink sink;
    const THidDataEvent first(&sink, &DataSink::onData);
    rig.controller->setOnDeviceData(first);
    QVERIFY(a->DataHandler() == first && b->DataHandler() == first);

    const THidDataEvent own([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    a->SetDataHandler(own);
    const THidDataEvent second(&sink, &DataSink::onOtherData);
    rig.controller->setOnDeviceData(second);
    QVERIFY(a->DataHandler() == own);
    QVERIFY(b->DataHandler() == second);

    const THidPlugEvent unplug([](THidDevice*) {});
    rig.controller->setOnDeviceUnplug(unplug);
    const THidDataErrorEvent error([](THidDevice*, std::uint32_t) {});
    rig.controller->setOnDeviceDataError(error);
    QVERIFY(a->UnplugHandler() == unplug && b->UnplugHandler() == unplug);
    QVERIFY(a->DataErrorHandler() == error && b->DataErrorHandler() == error);

    // New objects start with the data and unplug defaults, not the error one.
    rig.platform->add(named(u"c"));
    THidDevice* c = rig.controller->DeviceAt(2);
    QVERIFY(c->DataHandler() == second);
    QVERIFY(c->UnplugHandler() == unplug);
    QVERIFY(!c->DataErrorHandler());
}

void HidDeviceControllerTest::devThreadSleepTimeReachesOnlyDevicesWithTheOldValue() {
    Rig rig;
    rig.platform->add(named(u"a"));
    rig.platform->add(named(u"b"));
    rig.create();
    THidDevice* a = rig.controller->DeviceAt(0);
    THidDevice* b = rig.controller->DeviceAt(1);
    a->setReadWaitTime(300);

    rig.controller->setDevThreadSleepTime(50);
    QCOMPARE(a->ReadWaitTime(), 300);
    QCOMPARE(b->ReadWaitTime(), 50);

    // Out of the devices' range: they keep 50, the controller stores 5, and
    // then no device has "the old value" any more.
    rig.controller->setDevThreadSleepTime(5);
    QCOMPARE(rig.controller->DevThreadSleepTime(), 5);
    QCOMPARE(b->ReadWaitTime(), 50);
    rig.controller->setDevThreadSleepTime(20);
    QCOMPARE(b->ReadWaitTime(), 50);
    QCOMPARE(a->ReadWaitTime(), 300);
}

void HidDeviceControllerTest::changeSignalDuringAHandlerIsServedAfterIt() {
    Rig rig;
    rig.platform->add(named(u"a"));
    rig.create();
    rig.logEverything();
    bool nested = false;
    rig.controller->setOnArrival(THidPlugEvent([&](THidDevice* d) {
        rig.log << QStringLiteral("arrival %1").arg(nameOf(d));
        if (!nested) {
            nested = true;
            rig.platform->add(named(u"c")); // signals while the list is being walked
        }
    }));
    rig.log.clear();

    rig.platform->add(named(u"b"));
    QCOMPARE(rig.log, (QStringList{"arrival 2:1", "change", "arrival 3:1", "change"}));
    QCOMPARE(rig.listed(), (QStringList{"1:1", "2:1", "3:1"}));
}

QTEST_GUILESS_MAIN(HidDeviceControllerTest)
#include "HidDeviceControllerTest.moc"
