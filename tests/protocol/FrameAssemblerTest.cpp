#include "protocol/FrameAssembler.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QtTest>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <string_view>

using qm45::FrameAssembler;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Meter bytes carry a hex digit in their low nibble; the meter sets 0x3 above it.
QByteArray payloadBytes(const char* nineDigits) {
    QByteArray out;
    for (const char* c = nineDigits; *c != 0; ++c) {
        const int value = (*c >= 'A') ? (*c - 'A' + 10) : (*c - '0');
        out.append(char(0x30 | value));
    }
    return out;
}

// A serial frame as it appears after the previous frame's carriage return:
// the line feed that closed the previous frame, nine payload bytes, carriage return.
QByteArray serialFrame(const char* nineDigits) {
    return bytes({0x0A}) + payloadBytes(nineDigits) + bytes({0x0D});
}

// The eleven meter bytes of one frame in wire order.
QByteArray wireFrame(const char* nineDigits) {
    return payloadBytes(nineDigits) + bytes({0x0D, 0x0A});
}

QByteArray usbReport(const QByteArray& meterBytes, int status = -1) {
    const int s = status >= 0 ? status : (0xF0 | int(meterBytes.size()));
    return bytes({s}) + meterBytes;
}

QString toQString(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString hexDump(const QByteArray& data) {
    return QString::fromLatin1(data.toHex(' '));
}

QString hexDump(const QList<QByteArray>& chunks) {
    QStringList parts;
    for (const QByteArray& c : chunks)
        parts << "[" + hexDump(c) + "]";
    return parts.join(' ');
}

class RecordingSink final : public qm45::FrameSink {
public:
    explicit RecordingSink(const FrameAssembler& assembler) : assembler_(assembler) {}

    bool onFrame(std::string_view frameText) override {
        frames << toQString(frameText);
        assemblerTexts << toQString(assembler_.frameText());
        return !rejectCalls.contains(int(frames.size()));
    }

    QStringList frames;
    QStringList assemblerTexts; // FrameText as the assembler holds it during each call
    QList<int> rejectCalls;     // 1-based call numbers answered with "rejected"

private:
    const FrameAssembler& assembler_;
};

void feedSerial(FrameAssembler& assembler, const QByteArray& data, qm45::FrameSink& sink) {
    assembler.feedSerial(reinterpret_cast<const std::uint8_t*>(data.constData()),
                         std::int32_t(data.size()), sink);
}

void feedUsb(FrameAssembler& assembler, const QByteArray& report, qm45::FrameSink& sink) {
    assembler.feedUsbReport(reinterpret_cast<const std::uint8_t*>(report.constData()),
                            std::uint16_t(report.size()), sink);
}

} // namespace

class FrameAssemblerTest : public QObject {
    Q_OBJECT

private slots:
    void serialBuffersYieldFramesPassingTheTest_data();
    void serialBuffersYieldFramesPassingTheTest();
    void serialFramesSurviveEverySplit();
    void serialRejectionDropsRestOfBufferAndNextFrameStartsFresh();
    void usbReportsYieldFramesPassingTheTest_data();
    void usbReportsYieldFramesPassingTheTest();
    void usbRejectionEmptiesAccumulatorAndNextFrameStartsFresh();
    void serialNoiseWithoutCarriageReturnIsBoundedAndRecovers();
    void usbNoiseWithoutIdleReportIsBoundedAndRecovers();
};

void FrameAssemblerTest::serialBuffersYieldFramesPassingTheTest_data() {
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("expectedFrames");
    QTest::addColumn<QString>("expectedFrameText");

    const QByteArray f1 = serialFrame("399991101");
    const QByteArray f2 = serialFrame("123454401");

    QTest::newRow("eleven bytes give one frame")
        << QList<QByteArray>{bytes(
               {0x0A, 0x33, 0x39, 0x39, 0x39, 0x39, 0x31, 0x31, 0x30, 0x31, 0x0D})}
        << QStringList{"399991101DA"} << "399991101DA";
    QTest::newRow("two frames in one buffer, in order")
        << QList<QByteArray>{f1 + f2} << QStringList{"399991101DA", "123454401DA"} << "123454401DA";
    QTest::newRow("first frame without its leading line feed is dropped")
        << QList<QByteArray>{payloadBytes("399991101") + bytes({0x0D}) + f2}
        << QStringList{"123454401DA"} << "123454401DA";
    QTest::newRow("only the low nibble of the leading byte counts")
        << QList<QByteArray>{bytes({0xBA}) + payloadBytes("399991101") + bytes({0x0D})}
        << QStringList{"399991101DA"} << "399991101DA";
    QTest::newRow("0x8D is payload, not an end of frame")
        << QList<QByteArray>{bytes(
               {0x0A, 0x33, 0x39, 0x39, 0x39, 0x8D, 0x31, 0x31, 0x30, 0x31, 0x0D})}
        << QStringList{"3999D1101DA"} << "3999D1101DA";
    QTest::newRow("0x8D in place of the carriage return forms no FrameText")
        << QList<QByteArray>{bytes({0x0A}) + payloadBytes("399991101") + bytes({0x8D})}
        << QStringList{} << "";
    QTest::newRow("a lost payload byte fails the test but FrameText is written")
        << QList<QByteArray>{bytes({0x0A}) + payloadBytes("39999110") + bytes({0x0D})}
        << QStringList{} << "39999110DDA";
    QTest::newRow("a short frame after a good one does not reuse its end")
        << QList<QByteArray>{f1 + bytes({0x0A}) + payloadBytes("39999110") + bytes({0x0D})}
        << QStringList{"399991101DA"} << "39999110DDA";
    QTest::newRow("a lone carriage return writes a bare DA")
        << QList<QByteArray>{bytes({0x0D})} << QStringList{} << "DA";
    QTest::newRow("a lost line feed drops the following frame too")
        << QList<QByteArray>{f1 + payloadBytes("555551101") + bytes({0x0D}) + f2}
        << QStringList{"399991101DA", "123454401DA"} << "123454401DA";
    QTest::newRow("bytes after the eleventh before the carriage return are ignored")
        << QList<QByteArray>{bytes({0x0A}) + payloadBytes("399991101") + bytes({0x8D, 0x37, 0x0D})}
        << QStringList{"399991101DA"} << "399991101DA";
    QTest::newRow("an empty buffer does nothing")
        << QList<QByteArray>{QByteArray()} << QStringList{} << "";
    QTest::newRow("a half frame waits for the next buffer")
        << QList<QByteArray>{f1.left(5)} << QStringList{} << "";
}

void FrameAssemblerTest::serialBuffersYieldFramesPassingTheTest() {
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, expectedFrames);
    QFETCH(QString, expectedFrameText);

    FrameAssembler assembler;
    RecordingSink sink(assembler);
    for (const QByteArray& chunk : chunks)
        feedSerial(assembler, chunk, sink);

    QVERIFY2(
        sink.frames == expectedFrames,
        qPrintable(QString("input %1: expected frames %2, got %3")
                       .arg(hexDump(chunks), expectedFrames.join(','), sink.frames.join(','))));
    QCOMPARE(sink.assemblerTexts, sink.frames);
    QCOMPARE(toQString(assembler.frameText()), expectedFrameText);
}

void FrameAssemblerTest::serialFramesSurviveEverySplit() {
    const QByteArray stream = serialFrame("399991101") + serialFrame("1234A2101");
    const QStringList expected{"399991101DA", "1234A2101DA"};

    for (int i = 0; i <= stream.size(); ++i) {
        for (int j = i; j <= stream.size(); ++j) {
            FrameAssembler assembler;
            RecordingSink sink(assembler);
            feedSerial(assembler, stream.left(i), sink);
            feedSerial(assembler, stream.mid(i, j - i), sink);
            feedSerial(assembler, stream.mid(j), sink);
            QVERIFY2(
                sink.frames == expected && sink.assemblerTexts == expected,
                qPrintable(QString("split at %1 and %2 of %3: expected %4, got %5 (FrameText %6)")
                               .arg(i)
                               .arg(j)
                               .arg(hexDump(stream), expected.join(','), sink.frames.join(','),
                                    sink.assemblerTexts.join(','))));
        }
    }

    FrameAssembler assembler;
    RecordingSink sink(assembler);
    for (char byte : stream)
        feedSerial(assembler, QByteArray(1, byte), sink);
    QCOMPARE(sink.frames, expected);
}

void FrameAssemblerTest::serialRejectionDropsRestOfBufferAndNextFrameStartsFresh() {
    FrameAssembler assembler;
    RecordingSink sink(assembler);
    sink.rejectCalls = {1};

    // The rejected frame's own line feed goes with the dropped rest, so the first
    // frame of the next buffer lacks its leading 'A' and must not decode.
    feedSerial(assembler, serialFrame("12A451101") + serialFrame("399991101") + bytes({0x0A}),
               sink);
    QCOMPARE(sink.frames, QStringList{"12A451101DA"});

    feedSerial(assembler, payloadBytes("555551101") + bytes({0x0D}) + serialFrame("123454401"),
               sink);
    QCOMPARE(sink.frames, (QStringList{"12A451101DA", "123454401DA"}));
    QCOMPARE(toQString(assembler.frameText()), QString("123454401DA"));
}

void FrameAssemblerTest::usbReportsYieldFramesPassingTheTest_data() {
    QTest::addColumn<int>("initialIdleCount");
    QTest::addColumn<QList<QByteArray>>("reports");
    QTest::addColumn<QStringList>("expectedFrames");
    QTest::addColumn<QString>("expectedFrameText");
    QTest::addColumn<int>("expectedIdleCount");
    QTest::addColumn<bool>("expectedPending");

    const QByteArray w = wireFrame("399991101");
    // The cable packs a frame into data reports of up to seven meter bytes.
    const QList<QByteArray> dataReports{usbReport(w.left(3)), usbReport(w.mid(3, 3)),
                                        usbReport(w.mid(6, 3)), usbReport(w.mid(9))};
    const QByteArray idleF0 = bytes({0xF0});
    const QByteArray idleFA = bytes({0xFA});
    const QByteArray empty;

    QTest::newRow("eleven bytes then an idle report give one frame")
        << 0 << dataReports + QList<QByteArray>{idleF0} << QStringList{"399991101DA"}
        << "399991101DA" << 1 << false;
    QTest::newRow("count digit A is idle and hands the frame over")
        << 0 << dataReports + QList<QByteArray>{idleFA} << QStringList{"399991101DA"}
        << "399991101DA" << 1 << false;
    QTest::newRow("a report without data bytes hands the frame over, idle count unchanged")
        << 0 << dataReports + QList<QByteArray>{empty} << QStringList{"399991101DA"}
        << "399991101DA" << 0 << false;
    QTest::newRow("data reports alone leave the frame pending")
        << 0 << dataReports << QStringList{} << "" << 0 << true;
    QTest::newRow("status high nibble is ignored")
        << 0 << QList<QByteArray>{usbReport(w.left(7), 0x07), usbReport(w.mid(7), 0x54), idleF0}
        << QStringList{"399991101DA"} << "399991101DA" << 1 << false;
    QTest::newRow("ten bytes form a short FrameText and no frame")
        << 0 << QList<QByteArray>{usbReport(w.left(7)), usbReport(w.mid(8)), idleF0}
        << QStringList{} << "39999111DA" << 1 << false;
    QTest::newRow("a frame without its line feed after a good one does not reuse its end")
        << 0
        << dataReports +
               QList<QByteArray>{idleF0, usbReport(w.left(7)), usbReport(w.mid(7, 3)), idleF0}
        << QStringList{"399991101DA"} << "399991101D" << 1 << false;
    QTest::newRow("eleven bytes not ending in D A give no frame")
        << 0
        << QList<QByteArray>{usbReport(w.left(7)), usbReport(w.mid(7, 3) + bytes({0x0B})), idleF0}
        << QStringList{} << "399991101DB" << 1 << false;
    QTest::newRow("0x8D 0x3A end a frame on this link")
        << 0
        << QList<QByteArray>{usbReport(payloadBytes("3999911")),
                             usbReport(payloadBytes("01") + bytes({0x8D, 0x3A})), idleF0}
        << QStringList{"399991101DA"} << "399991101DA" << 1 << false;
    QTest::newRow("two frames without an idle report: only the first decodes")
        << 0
        << QList<QByteArray>{usbReport(w.left(7)), usbReport(w.mid(7) + w.left(3)),
                             usbReport(w.mid(3, 7)), usbReport(w.mid(10)), idleF0}
        << QStringList{"399991101DA"} << "399991101DA" << 1 << false;
    QTest::newRow("a frame split by an idle report arrives as two short frames")
        << 0 << QList<QByteArray>{usbReport(w.left(7)), idleF0, usbReport(w.mid(7)), idleF0}
        << QStringList{} << "01DA" << 1 << false;
    QTest::newRow("a count beyond the end of the report takes what is there")
        << 0 << QList<QByteArray>{usbReport(w.left(7)), usbReport(w.mid(7), 0xF9), idleF0}
        << QStringList{"399991101DA"} << "399991101DA" << 1 << false;
    QTest::newRow("idle reports count up and an empty report leaves the count")
        << 0 << QList<QByteArray>{idleF0, bytes({0xFF}), empty, idleFA} << QStringList{} << "" << 3
        << false;
    QTest::newRow("a data report sets the idle count back to zero")
        << 7 << QList<QByteArray>{idleF0, usbReport(w.left(2))} << QStringList{} << "" << 0 << true;
    QTest::newRow("the idle count stops at its maximum")
        << std::numeric_limits<int>::max() << QList<QByteArray>{idleF0, idleF0} << QStringList{}
        << "" << std::numeric_limits<int>::max() << false;
}

void FrameAssemblerTest::usbReportsYieldFramesPassingTheTest() {
    QFETCH(int, initialIdleCount);
    QFETCH(QList<QByteArray>, reports);
    QFETCH(QStringList, expectedFrames);
    QFETCH(QString, expectedFrameText);
    QFETCH(int, expectedIdleCount);
    QFETCH(bool, expectedPending);

    FrameAssembler assembler;
    assembler.setUsbIdleCount(initialIdleCount);
    RecordingSink sink(assembler);
    for (const QByteArray& report : reports)
        feedUsb(assembler, report, sink);

    QVERIFY2(
        sink.frames == expectedFrames,
        qPrintable(QString("reports %1: expected frames %2, got %3")
                       .arg(hexDump(reports), expectedFrames.join(','), sink.frames.join(','))));
    QCOMPARE(sink.assemblerTexts, sink.frames);
    QCOMPARE(toQString(assembler.frameText()), expectedFrameText);
    QCOMPARE(assembler.usbIdleCount(), expectedIdleCount);
    QCOMPARE(assembler.usbFramePending(), expectedPending);
}

void FrameAssemblerTest::usbRejectionEmptiesAccumulatorAndNextFrameStartsFresh() {
    FrameAssembler assembler;
    RecordingSink sink(assembler);
    sink.rejectCalls = {1};

    const QByteArray bad = wireFrame("12A451101");
    const QByteArray good = wireFrame("123454401");
    for (const QByteArray& report :
         {usbReport(bad.left(7)), usbReport(bad.mid(7)), bytes({0xF0}), usbReport(good.left(7)),
          usbReport(good.mid(7)), bytes({0xF0})})
        feedUsb(assembler, report, sink);

    QCOMPARE(sink.frames, (QStringList{"12A451101DA", "123454401DA"}));
    QVERIFY(!assembler.usbFramePending());
}

void FrameAssemblerTest::serialNoiseWithoutCarriageReturnIsBoundedAndRecovers() {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byteDist(0, 255);
    QByteArray noise(1 << 20, '\0');
    for (qsizetype i = 1; i < noise.size(); ++i) {
        const int b = byteDist(random);
        noise[i] = char(b == 0x0D ? 0x0E : b);
    }
    // noise[0] is 0x00: the run the next carriage return closes fails the leading-'A' test.

    FrameAssembler assembler;
    RecordingSink sink(assembler);
    for (qsizetype at = 0; at < noise.size(); at += 4096)
        feedSerial(assembler, noise.mid(at, 4096), sink);
    QVERIFY2(sink.frames.isEmpty(), qPrintable(sink.frames.join(',')));

    feedSerial(assembler, bytes({0x0D}) + serialFrame("399991101") + serialFrame("123454401"),
               sink);
    QCOMPARE(sink.frames, (QStringList{"399991101DA", "123454401DA"}));
}

void FrameAssemblerTest::usbNoiseWithoutIdleReportIsBoundedAndRecovers() {
    std::mt19937 random(54321);
    std::uniform_int_distribution<int> byteDist(0, 255);

    FrameAssembler assembler;
    RecordingSink sink(assembler);
    // The first eleven noise bytes are zero, so the run fails the D A test when it ends.
    feedUsb(assembler, usbReport(QByteArray(7, '\0')), sink);
    feedUsb(assembler, usbReport(QByteArray(4, '\0')), sink);
    for (int report = 0; report < (1 << 20) / 7; ++report) {
        QByteArray meterBytes(7, '\0');
        for (char& b : meterBytes)
            b = char(byteDist(random));
        feedUsb(assembler, usbReport(meterBytes), sink);
    }
    feedUsb(assembler, bytes({0xF0}), sink);
    QVERIFY2(sink.frames.isEmpty(), qPrintable(sink.frames.join(',')));
    QCOMPARE(toQString(assembler.frameText()), QString("00000000000"));

    const QByteArray w = wireFrame("399991101");
    feedUsb(assembler, usbReport(w.left(7)), sink);
    feedUsb(assembler, usbReport(w.mid(7)), sink);
    feedUsb(assembler, bytes({0xF0}), sink);
    QCOMPARE(sink.frames, QStringList{"399991101DA"});
}

QTEST_APPLESS_MAIN(FrameAssemblerTest)
#include "FrameAssemblerTest.moc"
