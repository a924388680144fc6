#include "link/HidDeviceController.h"
#include "link/LinuxHidPlatform.h"

#include <QDir>
#include <QtTest>

#include <memory>

using namespace qm45;

namespace {

bool machineHasHidDevices() {
    return !QDir(QStringLiteral("/sys/class/hidraw"))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                .isEmpty();
}

// A character device that exists on every Linux machine and is no HID interface.
const HidInterface kNull{QStringLiteral("/dev/null"),
                         QStringLiteral("/sys/devices/virtual/mem/null")};

} // namespace

class HidLinuxPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void machineWithoutHidDevicesListsNothing();
    void controllerOnTheRealPlatformStartsEmptyAndReportsOnce();
    void interfaceThatIsNotThereDoesNotOpen_data();
    void interfaceThatIsNotThereDoesNotOpen();
    void nodeThatIsNoHidInterfaceAnswersNoHidQuestion();
    void unknownHandleIsRefused();
};

void HidLinuxPlatformTest::machineWithoutHidDevicesListsNothing() {
    if (machineHasHidDevices())
        QSKIP("this machine has hidraw devices");
    LinuxHidPlatform platform;
    QVERIFY(platform.presentInterfaces().empty());
}

void HidLinuxPlatformTest::controllerOnTheRealPlatformStartsEmptyAndReportsOnce() {
    if (machineHasHidDevices())
        QSKIP("this machine has hidraw devices");
    THidDeviceController controller;
    QCOMPARE(controller.DeviceCount(), 0);
    int reports = 0;
    controller.setOnDeviceChange(THidNotifyEvent([&reports](THidDeviceController*) { ++reports; }));
    QCOMPARE(reports, 1);
    QCOMPARE(controller.EnumerateDevices(), 0);
    QCOMPARE(controller.CheckOutDeviceAt(0), nullptr);
}

void HidLinuxPlatformTest::interfaceThatIsNotThereDoesNotOpen_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("identity");
    QTest::addColumn<int>("access");
    const struct {
        const char* name;
        HidAccess access;
    } accesses[] = {{"read/write", HidAccess::ReadWrite},
                    {"read", HidAccess::Read},
                    {"no data", HidAccess::NoData}};
    for (const auto& a : accesses) {
        QTest::addRow("missing node, %s", a.name)
            << QStringLiteral("/dev/hidraw-none") << QStringLiteral("/sys/class/hidraw/hidraw-none")
            << int(a.access);
        // The node's number now belongs to another device than the one listed.
        QTest::addRow("node of another device, %s", a.name)
            << QStringLiteral("/dev/zero") << kNull.identity << int(a.access);
    }
}

void HidLinuxPlatformTest::interfaceThatIsNotThereDoesNotOpen() {
    QFETCH(QString, path);
    QFETCH(QString, identity);
    QFETCH(int, access);
    LinuxHidPlatform platform;
    const HidOpenResult opened = platform.open({path, identity}, HidAccess(access));
    QCOMPARE(opened.handle, HidPlatform::InvalidHandle);
    QCOMPARE(opened.error, std::uint32_t(ENODEV));
}

void HidLinuxPlatformTest::nodeThatIsNoHidInterfaceAnswersNoHidQuestion() {
    LinuxHidPlatform platform;
    const HidOpenResult opened = platform.open(kNull, HidAccess::ReadWrite);
    QVERIFY2(opened.handle != HidPlatform::InvalidHandle,
             qPrintable(QString::number(opened.error)));
    HidString text{};
    QVERIFY(!platform.attributes(opened.handle));
    QVERIFY(!platform.productString(opened.handle, text));
    QVERIFY(!platform.serialNumberString(opened.handle, text));
    QVERIFY(!platform.indexedString(opened.handle, 0, text));
    QCOMPARE(platform.inputReportByteLength(opened.handle).value_or(1), std::uint16_t(0));
    const std::uint8_t setup[] = {0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    QVERIFY(!platform.sendFeatureReport(opened.handle, setup, sizeof setup));
    platform.close(opened.handle);
}

void HidLinuxPlatformTest::unknownHandleIsRefused() {
    LinuxHidPlatform platform;
    std::uint8_t buffer[9] = {};
    const HidReadResult result = platform.readInputReport(4242, buffer, sizeof buffer, 10);
    QCOMPARE(int(result.status), int(HidReadResult::Status::Refused));
    QVERIFY(!platform.sendFeatureReport(4242, buffer, sizeof buffer));
    platform.close(4242);
}

QTEST_GUILESS_MAIN(HidLinuxPlatformTest)
#include "HidLinuxPlatformTest.moc"
