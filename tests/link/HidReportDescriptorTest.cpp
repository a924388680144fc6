#include "link/HidReportDescriptor.h"

#include <QtTest>

using qm45::HidReportDescriptor;

class HidReportDescriptorTest : public QObject {
    Q_OBJECT

private slots:
    void inputReportLengthAndNumbering_data();
    void inputReportLengthAndNumbering();
};

void HidReportDescriptorTest::inputReportLengthAndNumbering_data() {
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<bool>("numbered");
    QTest::addColumn<int>("length");

    // Vendor page, 8 input bytes, 8 output bytes, a 5-byte feature report.
    QTest::newRow("8-byte vendor reports without IDs")
        << QByteArray::fromHex("0600ff0901a101"
                               "0901150026ff00750895088102"
                               "0901750895089102"
                               "0901750895059102"
                               "c0")
        << false << 9;
    QTest::newRow("numbered: the longest input report counts")
        << QByteArray::fromHex("850175089503810285027508951081028503750895409102") << true << 17;
    QTest::newRow("bits round up to whole bytes")
        << QByteArray::fromHex("750195038102") << false << 2;
    QTest::newRow("constant padding counts too")
        << QByteArray::fromHex("75019505810275039501810175089501810a") << false << 3;
    QTest::newRow("no input reports") << QByteArray::fromHex("750895089102") << false << 0;
    QTest::newRow("push and pop restore the globals")
        << QByteArray::fromHex("75089502a4751095048102b48102") << false << 11;
    QTest::newRow("long item skipped")
        << QByteArray::fromHex("fe0200aabb750895018102") << false << 2;
    QTest::newRow("four-byte data") << QByteArray::fromHex("750897020000008102") << false << 3;
    QTest::newRow("truncated item ends the walk")
        << QByteArray::fromHex("75089504810295") << false << 5;
    QTest::newRow("truncated long item") << QByteArray::fromHex("750895018102fe") << false << 2;
    QTest::newRow("absurd sizes are capped")
        << QByteArray::fromHex("77ffffffff97ffffffff8102") << false << 0xFFFF;
    QTest::newRow("empty") << QByteArray() << false << 0;
}

void HidReportDescriptorTest::inputReportLengthAndNumbering() {
    QFETCH(QByteArray, descriptor);
    QFETCH(bool, numbered);
    QFETCH(int, length);
    const HidReportDescriptor parsed =
        HidReportDescriptor::parse(reinterpret_cast<const std::uint8_t*>(descriptor.constData()),
                                   std::size_t(descriptor.size()));
    QCOMPARE(parsed.numberedReports, numbered);
    QCOMPARE(int(parsed.inputReportByteLength), length);
}

QTEST_APPLESS_MAIN(HidReportDescriptorTest)
#include "HidReportDescriptorTest.moc"
