#include "link/AccessHelp.h"
#include "link/ConnectionControl.h"
#include "link/HidDevice.h"
#include "link/HidDeviceController.h"
#include "link/SerialPortDriver.h"
#include "view/ClickablePanel.h"

#include "../support/FakeDialogs.h"
#include "FakeHidPlatform.h"
#include "FakeSerialPlatform.h"
#include "FixedPortDirectory.h"

#include <QPushButton>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace qm45;
using namespace qm45::test;

namespace {

const QString kNoCable =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");
const QString kMeterSilent = QStringLiteral(
    "USB interface cable is securely connected, please check if the meter is ready.");
const QByteArray kSetupReport = QByteArray::fromHex("00600900000300000000");

FakeHidPlatform::Description named(const char16_t* product) {
    FakeHidPlatform::Description description;
    description.product = product;
    return description;
}

// The tool bar's controls on a plain widget, the USB half attached to a
// controller over scripted devices. The window's hooks are played by the rig.
struct Rig {
    Rig() {
        for (int i = 0; i < 4; ++i) {
            controls.BtCOM[i] = new ClickablePanel(QStringLiteral("COM %1").arg(i + 1), &window);
            controls.BtCOM[i]->setVisible(i == 0);
        }
        controls.COMCon = COMCon = new QPushButton(QStringLiteral("COM Connect"), &window);
        controls.USBCon = USBCon = new QPushButton(QStringLiteral("USB Connect"), &window);
        COMCon->setCheckable(true);
        USBCon->setCheckable(true);
        controls.CONok = new QWidget(&window);
        controls.CONok->setVisible(false);
        controls.CONokN = new QWidget(&window);
        COMM2 = std::make_unique<TSerialPortDriver>(
            nullptr, std::make_unique<FakeSerialPlatform>(serial), ports);
    }
    ~Rig() {
        control.reset();
        HidCtl.reset();
    }
    void start() {
        HidCtl = std::make_unique<THidDeviceController>(hid);
        control = std::make_unique<ConnectionControl>(controls, *COMM2, nullptr, &dialogs);
        ConnectionControl::UsbHooks hooks;
        hooks.HidData45A = [this](std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            reports << QByteArray(1, char(id)) +
                           QByteArray(reinterpret_cast<const char*>(data), size);
        };
        hooks.UsbIdleCount = [this] { return idle; };
        hooks.setUsbIdleCount = [this](std::int32_t count) { idle = count; };
        control->attachUsb(*HidCtl, dialogs, hooks);
    }
    void clickUsb() const { QTest::mouseClick(USBCon, Qt::LeftButton); }
    void tick(int times) const {
        for (int i = 0; i < times; ++i)
            control->ConTimerTimer();
    }
    [[nodiscard]] QStringList texts() const {
        QStringList list;
        for (const auto& entry : control->DeviceList())
            list << entry.text;
        return list;
    }
    [[nodiscard]] THidDevice* selected() const {
        const auto index = control->SelectedDevice();
        return index ? control->DeviceList()[*index].device : nullptr;
    }
    [[nodiscard]] int readers() const {
        int n = 0;
        for (const auto& entry : control->DeviceList())
            n += entry.device && entry.device->isReading() ? 1 : 0;
        return n;
    }
    [[nodiscard]] QList<bool> portsShown() const {
        QList<bool> shown;
        for (ClickablePanel* panel : controls.BtCOM)
            shown << panel->isVisibleTo(&window);
        return shown;
    }

    QWidget window;
    ConnectionControl::Controls controls;
    QPushButton* COMCon = nullptr;
    QPushButton* USBCon = nullptr;
    FakeSerialPlatform::State serial;
    std::shared_ptr<FixedPortDirectory> ports = std::make_shared<FixedPortDirectory>();
    std::unique_ptr<TSerialPortDriver> COMM2;
    std::shared_ptr<FakeHidPlatform> hid = std::make_shared<FakeHidPlatform>();
    std::unique_ptr<THidDeviceController> HidCtl;
    FakeDialogs dialogs;
    std::unique_ptr<ConnectionControl> control;
    QList<QByteArray> reports;
    std::int32_t idle = 0;
};

} // namespace

class HidConnectionControlTest : public QObject {
    Q_OBJECT

private slots:
    void startupHoldsEveryDeviceAndSelectsTheCableWithoutReading();
    void devicesAreDescribedByProductOrIdsAndSerial_data();
    void devicesAreDescribedByProductOrIdsAndSerial();
    void cableWithSerialNumberIsNotSelectedAndConnectSaysNoCable();
    void laterOfTwoCablesIsUsed();
    void connectSendsTheSetupReportAndReceives();
    void disconnectStopsReceivingAndShowsAllFourPorts();
    void cableWithoutReadWriteAccessTellsHowToGrantIt();
    void watchdogLooksOnlyOnTheDarkeningTick_data();
    void watchdogLooksOnlyOnTheDarkeningTick();
    void watchdogStopsReceptionAndOneClickReconnects();
    void anyDeviceChangeWhileConnectedStopsReceptionSilently();
    void unpluggedCableThenClickSaysNoCableAndKeepsTheCaption();
    void cableWhoseReadsKeepFailingEndsReceptionAsAnUnplug();
    void destroyingTheControlHandsEveryDeviceBack();
    void serialPortThatCannotBeOpenedIsNamedWithTheReason_data();
    void serialPortThatCannotBeOpenedIsNamedWithTheReason();
};

void HidConnectionControlTest::startupHoldsEveryDeviceAndSelectsTheCableWithoutReading() {
    Rig rig;
    rig.hid->add(named(u"Keyboard"));
    rig.hid->add(FakeHidPlatform::cable());
    rig.hid->add(named(u"Mouse"));
    rig.start();
    QCOMPARE(rig.texts(), (QStringList{"Keyboard", "USB to Serial", "Mouse"}));
    QCOMPARE(rig.control->SelectedDevice(), std::optional<std::size_t>(1));
    for (const auto& entry : rig.control->DeviceList())
        QVERIFY2(entry.device && entry.device->CheckedOut(), qPrintable(entry.text));
    QCOMPARE(rig.readers(), 0);
    QCOMPARE(rig.control->CurrentDevice(), nullptr);
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Connect"));
}

void HidConnectionControlTest::devicesAreDescribedByProductOrIdsAndSerial_data() {
    QTest::addColumn<QString>("product"); // "-": the device has none
    QTest::addColumn<QString>("serial");  // "-": none
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("productId");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* product, const char* serial, int vendor,
                        int productId, const char* text) {
        QTest::newRow(name) << QString::fromUtf8(product) << QString::fromUtf8(serial) << vendor
                            << productId << QString::fromUtf8(text);
    };
    row("product", "Meter", "-", 0x1A86, 0xE008, "Meter");
    row("ids, padded and upper case", "-", "-", 0x00AB, 0x0C1, "Device VID=00AB PID=00C1");
    row("empty product counts as none", "", "-", 0xFFFF, 0x1, "Device VID=FFFF PID=0001");
    row("serial", "USB to Serial", "A7", 0, 0, "USB to Serial (Serial=A7)");
    row("ids and serial", "-", "0001", 0x1A86, 0xE008, "Device VID=1A86 PID=E008 (Serial=0001)");
}

void HidConnectionControlTest::devicesAreDescribedByProductOrIdsAndSerial() {
    QFETCH(QString, product);
    QFETCH(QString, serial);
    QFETCH(int, vendor);
    QFETCH(int, productId);
    QFETCH(QString, text);
    FakeHidPlatform::Description description;
    description.product = product == "-" ? std::nullopt : std::optional(product.toStdU16String());
    description.serial = serial == "-" ? std::nullopt : std::optional(serial.toStdU16String());
    description.attributes = HidAttributes{std::uint16_t(vendor), std::uint16_t(productId), 0};
    Rig rig;
    rig.hid->add(description);
    rig.start();
    QCOMPARE(rig.texts(), QStringList{text});
}

void HidConnectionControlTest::cableWithSerialNumberIsNotSelectedAndConnectSaysNoCable() {
    Rig rig;
    FakeHidPlatform::Description description = FakeHidPlatform::cable();
    description.serial = u"1234";
    const int cable = rig.hid->add(description);
    rig.start();
    QCOMPARE(rig.control->SelectedDevice(), std::nullopt);

    rig.clickUsb();
    QCOMPARE(rig.dialogs.informations, QStringList{kNoCable});
    QVERIFY(!rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Connect"));
    QVERIFY(rig.COMCon->isVisibleTo(&rig.window));
    QVERIFY(rig.hid->featureReports(cable).isEmpty());
}

void HidConnectionControlTest::laterOfTwoCablesIsUsed() {
    Rig rig;
    const int first = rig.hid->add(FakeHidPlatform::cable());
    const int second = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    QCOMPARE(rig.control->SelectedDevice(), std::optional<std::size_t>(1));
    rig.clickUsb();
    QVERIFY(rig.hid->featureReports(first).isEmpty());
    QCOMPARE(rig.hid->featureReports(second), QList<QByteArray>{kSetupReport});
    rig.hid->pushReport(first, QByteArray::fromHex("00f131"));
    rig.hid->pushReport(second, QByteArray::fromHex("00f132"));
    QTRY_COMPARE(rig.reports, QList<QByteArray>{QByteArray::fromHex("00f132")});
}

void HidConnectionControlTest::connectSendsTheSetupReportAndReceives() {
    Rig rig;
    rig.hid->add(named(u"Keyboard"));
    const int cable = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.idle = 700;

    rig.clickUsb();
    QVERIFY(rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Disconnect"));
    QCOMPARE(rig.portsShown(), (QList<bool>{false, false, false, false}));
    QVERIFY(!rig.COMCon->isVisibleTo(&rig.window));
    QCOMPARE(rig.hid->featureReports(cable), QList<QByteArray>{kSetupReport});
    QCOMPARE(rig.idle, 0);
    QCOMPARE(rig.control->CurrentDevice(), rig.selected());
    QCOMPARE(rig.readers(), 1);
    QVERIFY(rig.dialogs.informations.isEmpty());

    const QByteArray report = QByteArray::fromHex("00f3303132000000ff");
    rig.hid->pushReport(cable, report);
    QTRY_COMPARE(rig.reports, QList<QByteArray>{report});
}

void HidConnectionControlTest::disconnectStopsReceivingAndShowsAllFourPorts() {
    Rig rig;
    const int cable = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    rig.clickUsb();
    QVERIFY(!rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Connection"));
    QCOMPARE(rig.portsShown(), (QList<bool>{true, true, true, true}));
    QVERIFY(rig.COMCon->isVisibleTo(&rig.window));
    QCOMPARE(rig.readers(), 0);
    QCOMPARE(rig.hid->featureReports(cable), (QList<QByteArray>{kSetupReport, kSetupReport}));
    QCOMPARE(rig.hid->openHandles(HidAccess::Read), 0);

    // Stacked, "COM 4" is on top; its click selects COM 1 alone.
    QCOMPARE(rig.COMM2->ComPort(), pnCOM2);
    QTest::mouseClick(rig.controls.BtCOM[3], Qt::LeftButton);
    QCOMPARE(rig.COMM2->ComPort(), pnCOM1);
    QCOMPARE(rig.portsShown(), (QList<bool>{true, false, false, false}));
}

void HidConnectionControlTest::cableWithoutReadWriteAccessTellsHowToGrantIt() {
    Rig rig;
    FakeHidPlatform::Description description = FakeHidPlatform::cable();
    description.readWrite = false;
    const int cable = rig.hid->add(description);
    rig.start();
    QCOMPARE(rig.texts(), QStringList{"USB to Serial"}); // found by its strings all the same

    rig.clickUsb();
    QVERIFY(!rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Connect"));
    QCOMPARE(rig.dialogs.informations.size(), 1);
    const QString told = rig.dialogs.informations.first();
    QCOMPARE(told, qm45::cableAccessHelp());
    QCOMPARE(rig.readers(), 0);
    QVERIFY(rig.hid->featureReports(cable).isEmpty());
}

void HidConnectionControlTest::watchdogLooksOnlyOnTheDarkeningTick_data() {
    QTest::addColumn<int>("idle");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<bool>("fires");
    QTest::newRow("1899 idle, darkening tick") << 1899 << 3 << false;
    QTest::newRow("1900 idle, second tick") << 1900 << 2 << false;
    QTest::newRow("1900 idle, darkening tick") << 1900 << 3 << true;
    QTest::newRow("far beyond, darkening tick") << 50000 << 3 << true;
}

void HidConnectionControlTest::watchdogLooksOnlyOnTheDarkeningTick() {
    QFETCH(int, idle);
    QFETCH(int, ticks);
    QFETCH(bool, fires);
    Rig rig;
    rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    rig.idle = idle;
    rig.tick(ticks);
    QCOMPARE(rig.dialogs.informations, fires ? QStringList{kMeterSilent} : QStringList());
    QCOMPARE(rig.USBCon->isChecked(), !fires);
    QCOMPARE(rig.readers(), fires ? 0 : 1);
    QCOMPARE(rig.idle, fires ? 0 : idle);
}

void HidConnectionControlTest::watchdogStopsReceptionAndOneClickReconnects() {
    Rig rig;
    const int cable = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    rig.idle = ConnectionControl::kUsbIdleLimit;
    rig.tick(3);
    QCOMPARE(rig.dialogs.informations, QStringList{kMeterSilent});
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Disconnect"));
    QVERIFY(!rig.COMCon->isVisibleTo(&rig.window));
    QVERIFY(rig.controls.CONokN->isVisibleTo(&rig.window));
    rig.hid->pushReport(cable, QByteArray::fromHex("00f131"));
    QTest::qWait(300);
    QVERIFY(rig.reports.isEmpty());

    rig.clickUsb();
    QVERIFY(rig.USBCon->isChecked());
    QCOMPARE(rig.readers(), 1);
    QTRY_COMPARE(rig.reports, QList<QByteArray>{QByteArray::fromHex("00f131")});
}

void HidConnectionControlTest::anyDeviceChangeWhileConnectedStopsReceptionSilently() {
    Rig rig;
    const int cable = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    THidDevice* before = rig.control->CurrentDevice();
    QVERIFY(before);

    rig.hid->add(named(u"Keyboard"));
    QCOMPARE(rig.texts(), (QStringList{"USB to Serial", "Keyboard"}));
    QCOMPARE(rig.control->CurrentDevice(), nullptr);
    QCOMPARE(rig.readers(), 0);
    QVERIFY(rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Disconnect"));
    QVERIFY(rig.dialogs.informations.isEmpty());
    rig.hid->pushReport(cable, QByteArray::fromHex("00f131"));
    QTest::qWait(300);
    QVERIFY(rig.reports.isEmpty());

    // The watchdog then has no device to act on; it still tells the user.
    rig.idle = ConnectionControl::kUsbIdleLimit;
    rig.tick(3);
    QCOMPARE(rig.dialogs.informations, QStringList{kMeterSilent});
    QVERIFY(!rig.USBCon->isChecked());
}

void HidConnectionControlTest::unpluggedCableThenClickSaysNoCableAndKeepsTheCaption() {
    Rig rig;
    const int cable = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    rig.hid->unplug(cable);
    QCOMPARE(rig.control->SelectedDevice(), std::nullopt);

    rig.clickUsb();
    QCOMPARE(rig.dialogs.informations, QStringList{kNoCable});
    QVERIFY(!rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Disconnect"));
    QVERIFY(!rig.COMCon->isVisibleTo(&rig.window));
    QCOMPARE(rig.hid->openHandles(), 0);
}

void HidConnectionControlTest::cableWhoseReadsKeepFailingEndsReceptionAsAnUnplug() {
    Rig rig;
    const int cable = rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    rig.hid->pushReport(cable, QByteArray::fromHex("00f131"));
    QTRY_COMPARE(rig.reports.size(), 1);
    rig.control->frameDecoded();

    // The cable stays listed but every read fails, and no change is signalled.
    rig.hid->failReads(cable, EIO);
    QTRY_COMPARE(rig.control->CurrentDevice(), nullptr); // the list was rebuilt
    QCOMPARE(rig.readers(), 0);
    QCOMPARE(rig.hid->readAttempts(cable), 4); // the report, then three refusals
    QCOMPARE(rig.texts(), QStringList{"USB to Serial"});
    QVERIFY(rig.selected());
    // As after an unplug: the buttons keep their state, no message, the lamp
    // goes dark on its third tick.
    QVERIFY(rig.USBCon->isChecked());
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Disconnect"));
    QVERIFY(rig.dialogs.informations.isEmpty() && rig.dialogs.errors.isEmpty());
    rig.tick(3);
    QVERIFY(rig.controls.CONokN->isVisibleTo(&rig.window));
    QVERIFY(!rig.controls.CONok->isVisibleTo(&rig.window));

    // Nothing reads the cable any more; disconnecting and connecting again does.
    rig.hid->failReads(cable, 0);
    rig.hid->pushReport(cable, QByteArray::fromHex("00f132"));
    QCOMPARE(rig.hid->queuedReports(cable), 1);
    rig.clickUsb();
    QCOMPARE(rig.USBCon->text(), QStringLiteral("USB Connection"));
    rig.clickUsb();
    QCOMPARE(rig.readers(), 1);
    QTRY_COMPARE(rig.reports.size(), 2);
    QCOMPARE(rig.reports.last(), QByteArray::fromHex("00f132"));
}

void HidConnectionControlTest::destroyingTheControlHandsEveryDeviceBack() {
    Rig rig;
    rig.hid->add(named(u"Keyboard"));
    rig.hid->add(FakeHidPlatform::cable());
    rig.start();
    rig.clickUsb();
    QCOMPARE(rig.readers(), 1);

    rig.control.reset();
    QCOMPARE(rig.HidCtl->DeviceCount(), 2);
    for (int i = 0; i < rig.HidCtl->DeviceCount(); ++i) {
        QVERIFY(!rig.HidCtl->DeviceAt(i)->CheckedOut());
        QVERIFY(!rig.HidCtl->DeviceAt(i)->isReading());
    }
    QCOMPARE(rig.hid->openHandles(), 0);
    rig.hid->add(named(u"Mouse")); // no handler of the gone control is called
    QCOMPARE(rig.HidCtl->DeviceCount(), 3);
}

void HidConnectionControlTest::serialPortThatCannotBeOpenedIsNamedWithTheReason_data() {
    QTest::addColumn<QString>("device"); // what COM 3 is; empty: not mapped
    QTest::addColumn<int>("reason");
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QString>("expected");
    const QString usb = QStringLiteral("/dev/ttyUSB0");
    const QString head = QStringLiteral("COM 3 (/dev/ttyUSB0) cannot be opened: ");
    QTest::newRow("not mapped") << QString() << int(SerialOpenError::NoSuchDevice) << 0LL
                                << QString() << 0
                                << "COM 3 cannot be opened: there is no COM 3 on this machine.";
    QTest::newRow("not a serial device")
        << usb << int(SerialOpenError::NotSerial) << 0LL << QString() << ENOTTY
        << head + "it is not a serial port.";
    QTest::newRow("in use, holder named")
        << usb << int(SerialOpenError::InUse) << 812LL << "minicom" << 0
        << head + "it is in use by another program (process 812, minicom). Close that program "
                  "and try again.";
    QTest::newRow("in use, holder without a name")
        << usb << int(SerialOpenError::InUse) << 812LL << QString() << 0
        << head + "it is in use by another program (process 812). Close that program and try "
                  "again.";
    QTest::newRow("in use, holder unknown")
        << usb << int(SerialOpenError::InUse) << 0LL << QString() << EBUSY
        << head + "it is in use by another program. Close that program and try again.";
    QTest::newRow("other refusal") << usb << int(SerialOpenError::Other) << 0LL << QString() << EIO
                                   << head + QString::fromLocal8Bit(std::strerror(EIO)) + ".";
}

void HidConnectionControlTest::serialPortThatCannotBeOpenedIsNamedWithTheReason() {
    QFETCH(QString, device);
    QFETCH(int, reason);
    QFETCH(qint64, pid);
    QFETCH(QString, command);
    QFETCH(int, errorCode);
    QFETCH(QString, expected);
    Rig rig;
    if (!device.isEmpty())
        rig.ports->setDevice(3, device);
    rig.serial.openResult = SerialPlatform::InvalidHandle;
    rig.serial.openFailure.reason = SerialOpenError(reason);
    rig.serial.openFailure.pid = pid;
    rig.serial.openFailure.command = command;
    rig.serial.openFailure.errorCode = errorCode;
    rig.start();
    rig.control->COM31Click();
    QTest::mouseClick(rig.COMCon, Qt::LeftButton);
    QCOMPARE(rig.dialogs.errors, QStringList{expected});
    QVERIFY(!rig.COMCon->isChecked());
    QCOMPARE(rig.COMCon->text(), QStringLiteral("COM Connect"));
}

QTEST_MAIN(HidConnectionControlTest)
#include "HidConnectionControlTest.moc"
