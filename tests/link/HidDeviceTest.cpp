#include "link/HidDevice.h"
#include "link/HidDeviceController.h"

#include "FakeHidPlatform.h"

#include <QtTest>

#include <memory>
#include <optional>
#include <string>

using namespace qm45;
using qm45::test::FakeHidPlatform;

using OptionalText = std::optional<std::u16string>;
Q_DECLARE_METATYPE(OptionalText)

namespace {

// One scripted device under a controller; the device starts checked in.
struct Rig {
    explicit Rig(const FakeHidPlatform::Description& description = {}) {
        id = platform->add(description);
        controller = std::make_unique<THidDeviceController>(platform);
    }
    ~Rig() {
        if (lent)
            THidDeviceController::ReleaseDevice(lent);
        controller.reset();
    }
    [[nodiscard]] THidDevice* listed() const { return controller->DeviceAt(0); }
    THidDevice* checkOut() {
        lent = controller->CheckOutDeviceAt(0);
        return lent;
    }

    std::shared_ptr<FakeHidPlatform> platform = std::make_shared<FakeHidPlatform>();
    std::unique_ptr<THidDeviceController> controller;
    THidDevice* lent = nullptr;
    int id = 0;
};

const THidDataEvent ignoreData([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
});

} // namespace

class HidDeviceTest : public QObject {
    Q_OBJECT

private slots:
    void readWaitTimeAcceptsTenToTenThousand_data();
    void readWaitTimeAcceptsTenToTenThousand();
    void serialNumberIsKeptOnlyWhenItDiffersFromTheLanguageString_data();
    void serialNumberIsKeptOnlyWhenItDiffersFromTheLanguageString();
    void stringsAreReadWhileAccessibleAndKept();
    void failedStringReadIsTriedAgain();
    void readerStartsOnlyWhenCheckedOutWithHandlerAndAccess();
    void deviceWithoutReadWriteAccessIsListedButNeverReads();
    void featureReportNeedsAccessAndLeavesTheHandleOpen();
    void inputReportLengthComesFromTheDevice();
};

void HidDeviceTest::readWaitTimeAcceptsTenToTenThousand_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("kept");
    QTest::newRow("9") << 9 << 100;
    QTest::newRow("10") << 10 << 10;
    QTest::newRow("10000") << 10000 << 10000;
    QTest::newRow("10001") << 10001 << 100;
    QTest::newRow("negative") << -5 << 100;
}

void HidDeviceTest::readWaitTimeAcceptsTenToTenThousand() {
    QFETCH(int, value);
    QFETCH(int, kept);
    Rig rig;
    QCOMPARE(rig.listed()->ReadWaitTime(), 100);
    rig.listed()->setReadWaitTime(value);
    QCOMPARE(rig.listed()->ReadWaitTime(), kept);
}

void HidDeviceTest::serialNumberIsKeptOnlyWhenItDiffersFromTheLanguageString_data() {
    QTest::addColumn<OptionalText>("serial");
    QTest::addColumn<OptionalText>("languages");
    QTest::addColumn<QString>("expected");
    const std::u16string english(u"\u0409");
    const std::u16string englishEnded(u"\u0409\0", 2);
    QTest::newRow("differs") << OptionalText(u"A1B2") << OptionalText(english)
                             << QStringLiteral("A1B2");
    QTest::newRow("differs, language ended")
        << OptionalText(u"A1B2") << OptionalText(englishEnded) << QStringLiteral("A1B2");
    QTest::newRow("repeats the language")
        << OptionalText(english) << OptionalText(english) << QString();
    QTest::newRow("starts with the language")
        << OptionalText(english + u"XYZ") << OptionalText(englishEnded) << QString();
    QTest::newRow("languages unreadable") << OptionalText(u"A1B2") << OptionalText() << QString();
    QTest::newRow("languages read as nothing")
        << OptionalText(u"A1B2") << OptionalText(u"") << QString();
    QTest::newRow("languages only a zero")
        << OptionalText(u"A1B2") << OptionalText(std::u16string(1, u'\0')) << QString();
    QTest::newRow("serial unreadable") << OptionalText() << OptionalText(english) << QString();
    QTest::newRow("two languages, serial differs in the second")
        << OptionalText(u"\u0409X") << OptionalText(u"\u0409\u0407") << QStringLiteral("\u0409X");
}

void HidDeviceTest::serialNumberIsKeptOnlyWhenItDiffersFromTheLanguageString() {
    QFETCH(OptionalText, serial);
    QFETCH(OptionalText, languages);
    QFETCH(QString, expected);
    FakeHidPlatform::Description description;
    description.serial = serial;
    description.languages = languages;
    Rig rig(description);
    QCOMPARE(rig.checkOut()->SerialNumberString(), expected);
    QCOMPARE(rig.platform->openHandles(), 0);
}

void HidDeviceTest::stringsAreReadWhileAccessibleAndKept() {
    FakeHidPlatform::Description description = FakeHidPlatform::cable();
    description.serial = u"0042";
    Rig rig(description);

    // Checked in and not in an event: nothing is asked of the device.
    QCOMPARE(rig.listed()->ProductString(), QString());
    QCOMPARE(rig.listed()->SerialNumberString(), QString());

    THidDevice* device = rig.checkOut();
    QCOMPARE(device->ProductString(), QStringLiteral("USB to Serial"));
    QCOMPARE(device->SerialNumberString(), QStringLiteral("0042"));

    FakeHidPlatform::Description renamed = description;
    renamed.product = u"Renamed";
    renamed.serial = u"9999";
    rig.platform->setDescription(rig.id, renamed);
    QCOMPARE(device->ProductString(), QStringLiteral("USB to Serial"));
    QCOMPARE(device->SerialNumberString(), QStringLiteral("0042"));
    QCOMPARE(rig.platform->openHandles(), 0);
}

void HidDeviceTest::failedStringReadIsTriedAgain() {
    FakeHidPlatform::Description description;
    description.product = std::nullopt;
    Rig rig(description);
    THidDevice* device = rig.checkOut();
    QCOMPARE(device->ProductString(), QString());
    description.product = u"Late";
    rig.platform->setDescription(rig.id, description);
    QCOMPARE(device->ProductString(), QStringLiteral("Late"));
}

void HidDeviceTest::readerStartsOnlyWhenCheckedOutWithHandlerAndAccess() {
    Rig rig;
    THidDevice* device = rig.listed();
    device->SetDataHandler(ignoreData);
    QVERIFY(device->DataHandler() == ignoreData);
    QVERIFY(!device->isReading());

    QCOMPARE(rig.checkOut(), device);
    QVERIFY(device->isReading());

    device->SetDataHandler({});
    QVERIFY(!device->isReading());
    QCOMPARE(rig.platform->openHandles(HidAccess::Read), 0);
    device->SetDataHandler(ignoreData);
    QVERIFY(device->isReading());
}

void HidDeviceTest::deviceWithoutReadWriteAccessIsListedButNeverReads() {
    FakeHidPlatform::Description description = FakeHidPlatform::cable();
    description.readWrite = false;
    Rig rig(description);
    THidDevice* device = rig.checkOut();
    QVERIFY(device);
    QVERIFY(!device->ReadWriteAccess());
    QCOMPARE(device->VendorID(), std::uint16_t(0x1A86));
    QCOMPARE(device->ProductString(), QStringLiteral("USB to Serial"));
    device->SetDataHandler(ignoreData);
    QVERIFY(!device->isReading());
    const std::uint8_t report[] = {0, 1};
    QVERIFY(!device->SendFeatureReport(report, sizeof report));
    QVERIFY(rig.platform->featureReports(rig.id).isEmpty());
}

void HidDeviceTest::featureReportNeedsAccessAndLeavesTheHandleOpen() {
    Rig rig;
    const std::uint8_t report[] = {0x00, 0x60, 0x09};
    QVERIFY(!rig.listed()->SendFeatureReport(report, sizeof report));
    QVERIFY(rig.platform->featureReports(rig.id).isEmpty());

    THidDevice* device = rig.checkOut();
    QVERIFY(device->SendFeatureReport(report, sizeof report));
    QCOMPARE(rig.platform->featureReports(rig.id),
             QList<QByteArray>{QByteArray("\x00\x60\x09", 3)});
    QCOMPARE(rig.platform->openHandles(HidAccess::ReadWrite), 1);

    FakeHidPlatform::Description refusing;
    refusing.featureAccepted = false;
    rig.platform->setDescription(rig.id, refusing);
    QVERIFY(!device->SendFeatureReport(report, sizeof report));
}

void HidDeviceTest::inputReportLengthComesFromTheDevice() {
    FakeHidPlatform::Description description;
    description.inputReportByteLength = 65;
    Rig rig(description);
    QCOMPARE(rig.listed()->InputReportByteLength(), std::uint16_t(0)); // not accessible
    QCOMPARE(rig.checkOut()->InputReportByteLength(), std::uint16_t(65));
}

QTEST_GUILESS_MAIN(HidDeviceTest)
#include "HidDeviceTest.moc"
