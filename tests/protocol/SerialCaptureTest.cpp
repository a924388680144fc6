#include "protocol/MeterProtocol.h"

#include <QFile>
#include <QStringList>
#include <QtTest>

#include <algorithm>
#include <string>
#include <vector>

using namespace qm45;

namespace {

// A serial stream captured from the meter's line: DC volts, a range change,
// AC volts, ohms, an open-lead overload, capacitance, both temperatures,
// overloads of both forms and signs, duty cycle and frequency, with a
// truncated frame, a burst of line noise, a lost line feed and a frame whose
// range digit is B. It begins with a frame's first byte, without the line
// feed that ended the frame before, so the first frame cannot be framed.
QByteArray capture() {
    QFile file(QFINDTESTDATA("fixtures/serial-capture.bin"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct Recorded final : MeterProtocol::Listener {
    void LcdDisplay45A(const DecodeResult& result) override {
        if (result.accepted())
            readings.push_back(result.after.reading);
        else
            errors << QString::fromStdString(result.error);
    }
    std::vector<CurrentReading> readings;
    QStringList errors;
};

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

class SerialCaptureTest : public QObject {
    Q_OBJECT
private slots:
    void captureDecodesThroughTheSerialHandler_data();
    void captureDecodesThroughTheSerialHandler();
};

void SerialCaptureTest::captureDecodesThroughTheSerialHandler_data() {
    QTest::addColumn<int>("readSize");
    QTest::addColumn<int>("accepted");
    QTest::addColumn<QString>("lastValue");

    // Of the capture's frames, the first lacks the line feed before it and
    // three are damaged on the line; the framing test drops those. The range
    // digit B is rejected by the decoder.
    QTest::newRow("a byte per read") << 1 << 1088 << "3.9117";
    // A rejected frame ends the read it came in: nothing after it in the
    // same buffer is looked at.
    QTest::newRow("the whole capture in one read") << 12027 << 1048 << "3.9115";
}

void SerialCaptureTest::captureDecodesThroughTheSerialHandler() {
    QFETCH(int, readSize);
    QFETCH(int, accepted);
    QFETCH(QString, lastValue);

    const QByteArray bytes = capture();
    QCOMPARE(bytes.size(), 12027);

    Recorded recorded;
    MeterProtocol protocol(recorded);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    for (int at = 0; at < bytes.size(); at += readSize)
        protocol.H45ARData(data + at, std::min(readSize, int(bytes.size()) - at));

    QCOMPARE(recorded.errors, QStringList{QStringLiteral("'B' is not a valid integer value")});
    QCOMPARE(int(recorded.readings.size()), accepted);

    const CurrentReading& first = recorded.readings.front();
    QCOMPARE(q(first.ValueText), QStringLiteral("3.9132"));
    QCOMPARE(first.NumericValue, 39132.0);
    QCOMPARE(q(first.UnitText), QStringLiteral("V"));
    QCOMPARE(q(first.FunctionText), QStringLiteral("DC"));
    QCOMPARE(q(first.AutoText), QStringLiteral("AUTO"));
    QCOMPARE(q(recorded.readings.back().ValueText), lastValue);

    QStringList units;
    int highOverloads = 0;
    int lowOverloads = 0;
    for (const CurrentReading& r : recorded.readings) {
        if (!units.contains(q(r.UnitText)))
            units << q(r.UnitText);
        highOverloads += r.NumericValue == 40000.0;
        lowOverloads += r.NumericValue == -40000.0;
    }
    QCOMPARE(units, (QStringList{"V", "k*", "M*", "uF", "#", "?", "%", "kHz"}));
    QCOMPARE(highOverloads, 80);
    QCOMPARE(lowOverloads, 40);
}

QTEST_MAIN(SerialCaptureTest)
#include "SerialCaptureTest.moc"
