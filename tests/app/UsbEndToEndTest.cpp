#include "app/TFCOMM.h"
#include "link/ConnectionControl.h"
#include "record/SystemLocale.h"
#include "view/LcdPanel.h"

#include "WindowFixture.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace qm45;
using qm45::test::FakeHidPlatform;
using qm45::test::frame;
using qm45::test::runEventLoopUntil;
using qm45::test::WindowFixture;

namespace {

const QString kMeterSilent = QStringLiteral(
    "USB interface cable is securely connected, please check if the meter is ready.");

QByteArray report(const QByteArray& meterBytes) {
    return FakeHidPlatform::cableReport(meterBytes);
}
const QByteArray kIdle = report({});

struct Fixture : WindowFixture {
    Fixture() {
        keyboard = hid->add(FakeHidPlatform::Description{});
        cable = hid->add(FakeHidPlatform::cable());
        open();
    }

    QPushButton* USBCon() const { return child<QPushButton>("USBCon"); }
    bool lampLit() const { return child<QWidget>("CONok")->isVisibleTo(window.get()); }
    QString value() const { return QString::fromStdString(window->currentReading().ValueText); }
    std::int32_t idleCount() const { return window->protocol().frames().usbIdleCount(); }
    void connectUsb() const { QTest::mouseClick(USBCon(), Qt::LeftButton); }
    void tick(int times) const {
        for (int i = 0; i < times; ++i)
            window->ConTimerTimer();
    }

    // The frame cut into reports of three and seven meter bytes, then an idle
    // report that hands it to the decoder.
    void sendFrame(const char* payload) const {
        const QByteArray bytes = frame(payload);
        hid->pushReport(cable, report(bytes.left(3)));
        hid->pushReport(cable, report(bytes.mid(3, 7)));
        hid->pushReport(cable, report(bytes.mid(10)));
        hid->pushReport(cable, kIdle);
    }
    bool everythingRead() const {
        return runEventLoopUntil([this] { return hid->queuedReports(cable) == 0; });
    }

    int keyboard = 0;
    int cable = 0;
};

} // namespace

class UsbEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void meterOnTheCableShowsLiveAsOnASerialPort();
    void watchdogEndsASilentConnectionAfter1900IdleReports();
    void pluggingInAnotherDeviceStopsReceptionWithoutAMessage();
    void noiseReportsOfAnyLengthNeverStopTheStream();
};

void UsbEndToEndTest::meterOnTheCableShowsLiveAsOnASerialPort() {
    Fixture f;
    int scaleChanges = 0;
    f.window->ShowSeries = [&scaleChanges](int) { ++scaleChanges; };
    f.connectUsb();
    QCOMPARE(f.USBCon()->text(), QStringLiteral("USB Disconnect"));
    QCOMPARE(f.hid->featureReports(f.cable),
             QList<QByteArray>{QByteArray::fromHex("00600900000300000000")});

    f.hid->pushReport(f.cable, kIdle);
    f.sendFrame("399991101");
    QVERIFY(runEventLoopUntil([&f] { return f.value() == QStringLiteral("3.9999"); }));
    f.checkShowsThreeVoltsNinetyNineNinetyNine();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(f.lampLit());
    QCOMPARE(scaleChanges, 1);

    // Negative k-ohm reading, then an overload: the bar pins at its maximum.
    f.sendFrame("123453401");
    f.sendFrame("A00001101");
    QVERIFY(runEventLoopUntil([&f] { return f.value() == QStringLiteral(".0L"); }));
    QCOMPARE(f.window->currentReading().NumericValue, 40000.0);
    QCOMPARE(f.child<QProgressBar>("PBar2")->value(), 40);
    QCOMPARE(scaleChanges, 3);
    QVERIFY(f.dialogs->errors.isEmpty());
}

void UsbEndToEndTest::watchdogEndsASilentConnectionAfter1900IdleReports() {
    Fixture f;
    f.connectUsb();
    for (int i = 0; i < ConnectionControl::kUsbIdleLimit - 1; ++i)
        f.hid->pushReport(f.cable, kIdle);
    QVERIFY(f.everythingRead());
    QVERIFY(
        runEventLoopUntil([&f] { return f.idleCount() == ConnectionControl::kUsbIdleLimit - 1; }));
    f.tick(3);
    QVERIFY(f.dialogs->informations.isEmpty());
    QVERIFY(f.USBCon()->isChecked());

    f.hid->pushReport(f.cable, kIdle);
    QVERIFY(runEventLoopUntil([&f] { return f.idleCount() == ConnectionControl::kUsbIdleLimit; }));
    f.tick(2);
    QVERIFY(f.dialogs->informations.isEmpty());
    f.tick(1);
    QTRY_COMPARE(f.dialogs->informations, QStringList{kMeterSilent});
    QVERIFY(!f.USBCon()->isChecked());
    QCOMPARE(f.USBCon()->text(), QStringLiteral("USB Disconnect"));
    QCOMPARE(f.idleCount(), 0);

    // Reception has stopped; one click starts it again.
    f.sendFrame("399991101");
    QTest::qWait(300);
    QVERIFY(f.value() != QStringLiteral("3.9999"));
    f.connectUsb();
    QVERIFY(f.USBCon()->isChecked());
    QVERIFY(runEventLoopUntil([&f] { return f.value() == QStringLiteral("3.9999"); }));
}

void UsbEndToEndTest::pluggingInAnotherDeviceStopsReceptionWithoutAMessage() {
    Fixture f;
    f.connectUsb();
    f.sendFrame("399991101");
    QVERIFY(runEventLoopUntil([&f] { return f.lampLit(); }));

    f.hid->add(FakeHidPlatform::Description{});
    f.sendFrame("123452101");
    QTest::qWait(300);
    QCOMPARE(f.value(), QStringLiteral("3.9999"));
    f.tick(3);
    QVERIFY(!f.lampLit());
    QVERIFY(f.dialogs->informations.isEmpty());
    QVERIFY(f.dialogs->errors.isEmpty());
    QVERIFY(f.USBCon()->isChecked());
    QCOMPARE(f.USBCon()->text(), QStringLiteral("USB Disconnect"));
}

void UsbEndToEndTest::noiseReportsOfAnyLengthNeverStopTheStream() {
    Fixture f;
    f.connectUsb();
    // Empty reports, the report ID alone, any status nibble, reports longer
    // than the cable's nine bytes (cut to them).
    QRandomGenerator random(45);
    for (int i = 0; i < 500; ++i) {
        QByteArray noise(int(random.bounded(20)), 0);
        for (char& c : noise)
            c = char(random.bounded(256));
        f.hid->pushReport(f.cable, noise);
    }
    f.hid->pushReport(f.cable, kIdle);
    f.sendFrame("123452101");
    QVERIFY(runEventLoopUntil([&f] { return f.value() == QStringLiteral("12.345"); }));
    QCOMPARE(f.child<QProgressBar>("PBar2")->value(), 12);
    QVERIFY(f.USBCon()->isChecked());
}

QTEST_MAIN(UsbEndToEndTest)
#include "UsbEndToEndTest.moc"
