#include "protocol/QM45Decoder.h"

#include <QList>
#include <QStringList>
#include <QtTest>

#include <array>
#include <string>

using namespace qm45;

Q_DECLARE_METATYPE(qm45::DecoderState)

namespace {

// Names in the order of the Indicator enum, to print and to parse indicator sets.
const std::array<const char*, IndicatorCount> kIndicatorNames = {
    "LcdFH", "LcdAuto", "LcdV",   "Lcdm",     "LCDohm",  "LCDk",  "LCDM1", "LCDF",  "LCDn",
    "LCDu",  "LCDCS",   "LCDA",   "LCDHz",    "LCDBF",   "LCDFm", "LCDDI", "LCDFS", "lcdW",
    "LcdAC", "LCDJa",   "LcdDc1", "LCDTRMST", "LCDTRMS", "LcdP0", "LcdP1", "LcdP2", "LcdP3"};

constexpr std::uint32_t kAllIndicators = (std::uint32_t(1) << IndicatorCount) - 1;

std::uint32_t group(std::initializer_list<Indicator> members) {
    std::uint32_t mask = 0;
    for (Indicator i : members)
        mask |= bit(i);
    return mask;
}

const std::uint32_t kUnitGroup = group({LcdV, Lcdm, LCDohm, LCDk, LCDM1, LCDF, LCDn, LCDu, LCDCS,
                                        LCDA, LCDHz, LCDBF, LCDFm, LCDDI, LCDFS, lcdW});
const std::uint32_t kCouplingGroup = group({LcdAC, LCDJa, LcdDc1, LCDTRMST, LCDTRMS});
const std::uint32_t kPoints = group({LcdP0, LcdP1, LcdP2, LcdP3});

QString names(std::uint32_t mask) {
    QStringList out;
    for (std::uint32_t i = 0; i < IndicatorCount; ++i)
        if ((mask & (std::uint32_t(1) << i)) != 0)
            out << kIndicatorNames[std::size_t(i)];
    return out.join(' ');
}

// Parses "LcdV Lcdm" into a mask; an unknown name is a typo in the test table.
std::uint32_t mask(const QString& spaceSeparated) {
    std::uint32_t out = 0;
    for (const QString& name : spaceSeparated.split(' ', Qt::SkipEmptyParts)) {
        bool found = false;
        for (std::uint32_t i = 0; i < IndicatorCount; ++i) {
            if (name == QLatin1String(kIndicatorNames[std::size_t(i)])) {
                out |= std::uint32_t(1) << i;
                found = true;
            }
        }
        if (!found)
            qFatal("unknown indicator name %s in test table", qPrintable(name));
    }
    return out;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QString digitsText(const LcdState& lcd) {
    QString out;
    for (char d : lcd.digits)
        out += d == 0 ? QChar('_') : QChar::fromLatin1(d);
    return out;
}

QString describe(const DecoderState& s) {
    return QString("digits=%1 shown={%2} ValueText='%3' NumericValue=%4 FunctionText='%5' "
                   "UnitText='%6' AutoText='%7' DecimalPos=%8 PrevUnitText='%9' PrevDecimalPos=%10")
        .arg(digitsText(s.lcd), names(s.lcd.shown), q(s.reading.ValueText))
        .arg(s.reading.NumericValue, 0, 'g', 10)
        .arg(q(s.reading.FunctionText), q(s.reading.UnitText), q(s.reading.AutoText))
        .arg(s.memory.DecimalPos)
        .arg(q(s.memory.PrevUnitText))
        .arg(s.memory.PrevDecimalPos);
}

DecodeResult decode(const QString& frame, const DecoderState& before = DecoderState(),
                    const DecoderContext& context = DecoderContext()) {
    const std::string text = frame.toStdString();
    return decodeFrame(text, before, context);
}

DecoderState everythingLit() {
    DecoderState s;
    s.lcd.shown = kAllIndicators;
    return s;
}

// "12345" with the mark after digit decimalPos + 1.
QString valueWithPoint(int decimalPos) {
    QString v = "12345";
    if (decimalPos >= 0)
        v.insert(decimalPos + 1, '.');
    return v;
}

QString flags(const QList<bool>& values) {
    QStringList out;
    for (bool v : values)
        out << (v ? "true" : "false");
    return out.join(',');
}

struct RangeExpectation {
    const char* unit;
    int decimalPos;
    const char* indicators;
};

using FunctionExpectation = std::array<RangeExpectation, 10>;

FunctionExpectation allRanges(RangeExpectation e) {
    FunctionExpectation out;
    out.fill(e);
    return out;
}

} // namespace

class QM45DecoderTest : public QObject {
    Q_OBJECT

private slots:
    void functionCodeAndRangeSelectUnitIndicatorsAndPoint_data();
    void functionCodeAndRangeSelectUnitIndicatorsAndPoint();
    void couplingDigitSetsIndicatorsAndFunctionText_data();
    void couplingDigitSetsIndicatorsAndFunctionText();
    void flagDigitSetsSignAndAutoIgnoringBitThree_data();
    void flagDigitSetsSignAndAutoIgnoringBitThree();
    void negativeFrequencyBecomesPercentage_data();
    void negativeFrequencyBecomesPercentage();
    void displayFormsGiveValueTextNumberAndBar_data();
    void displayFormsGiveValueTextNumberAndBar();
    void decimalMarkIsInsertedAsGiven_data();
    void decimalMarkIsInsertedAsGiven();
    void rejectedFrameKeepsOnlyEarlierSteps_data();
    void rejectedFrameKeepsOnlyEarlierSteps();
    void nonDecimalCharacterRejectsAtStepReadingIt_data();
    void nonDecimalCharacterRejectsAtStepReadingIt();
    void textOfWrongLengthIsRejectedWithoutChange_data();
    void textOfWrongLengthIsRejectedWithoutChange();
    void scaleChangesOnlyWithUnitOrDecimalPosition_data();
    void scaleChangesOnlyWithUnitOrDecimalPosition();
};

void QM45DecoderTest::functionCodeAndRangeSelectUnitIndicatorsAndPoint_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("unitText");
    QTest::addColumn<QString>("unitIndicators");
    QTest::addColumn<int>("decimalPos");
    QTest::addColumn<QString>("functionText");

    constexpr int none = -1;
    const FunctionExpectation volts = {{{"V", none, "LcdV"},
                                        {"V", 0, "LcdV"},
                                        {"V", 1, "LcdV"},
                                        {"V", 2, "LcdV"},
                                        {"V", 3, "LcdV"},
                                        {"V", none, "LcdV"},
                                        {"V", none, "LcdV"},
                                        {"V", none, "LcdV"},
                                        {"V", none, "LcdV"},
                                        {"V", none, "LcdV"}}};
    const FunctionExpectation ohms = {{{"*", none, "LCDohm"},
                                       {"*", 2, "LCDohm"},
                                       {"k*", 0, "LCDohm LCDk"},
                                       {"k*", 1, "LCDohm LCDk"},
                                       {"k*", 2, "LCDohm LCDk"},
                                       {"M*", 0, "LCDohm LCDM1"},
                                       {"M*", 1, "LCDohm LCDM1"},
                                       {"*", none, "LCDohm"},
                                       {"*", none, "LCDohm"},
                                       {"*", none, "LCDohm"}}};
    const FunctionExpectation farads = {{{"F", none, "LCDF"},
                                         {"nF", 1, "LCDF LCDn"},
                                         {"nF", 2, "LCDF LCDn"},
                                         {"uF", 0, "LCDF LCDu"},
                                         {"uF", 1, "LCDF LCDu"},
                                         {"uF", 2, "LCDF LCDu"},
                                         {"mF", 0, "LCDF Lcdm"},
                                         {"mF", 1, "LCDF Lcdm"},
                                         {"F", none, "LCDF"},
                                         {"F", none, "LCDF"}}};
    FunctionExpectation microamps = allRanges({"A", none, "LCDA"});
    microamps[0] = {"uA", 2, "LCDA LCDu"};
    microamps[1] = {"uA", 3, "LCDA LCDu"};
    FunctionExpectation milliamps = allRanges({"A", none, "LCDA"});
    milliamps[0] = {"mA", 1, "LCDA Lcdm"};
    milliamps[1] = {"mA", 2, "LCDA Lcdm"};
    const FunctionExpectation hertz = {{{"Hz", 1, "LCDHz"},
                                        {"Hz", 2, "LCDHz"},
                                        {"kHz", 0, "LCDHz LCDk"},
                                        {"kHz", 1, "LCDHz LCDk"},
                                        {"kHz", 2, "LCDHz LCDk"},
                                        {"MHz", 0, "LCDHz LCDM1"},
                                        {"MHz", 1, "LCDHz LCDM1"},
                                        {"MHz", 2, "LCDHz LCDM1"},
                                        {"Hz", none, "LCDHz"},
                                        {"Hz", none, "LCDHz"}}};

    const std::array<std::pair<FunctionExpectation, const char*>, 16> table = {{
        {allRanges({"mV", 2, "LcdV Lcdm"}), "DC"},
        {volts, "DC"},
        {volts, ""},
        {allRanges({"mV", 2, "LcdV Lcdm"}), "DC"},
        {ohms, "OHM"},
        {farads, "CAP"},
        {allRanges({"#", 3, "LCDCS"}), "Temperature"},
        {microamps, "DC"},
        {milliamps, "DC"},
        {allRanges({"A", 1, "LCDA"}), "DC"},
        {allRanges({"*", 2, "LCDFm LCDohm"}), "OHM"},
        {allRanges({"V", 0, "LCDDI LcdV"}), "Diode"},
        {hertz, "Frequency"},
        {allRanges({"?", 3, "LCDFS"}), "Temperature"},
        {allRanges({"W", 3, "lcdW"}), ""},
        {allRanges({"mA%", 2, "LCDBF"}), ""},
    }};

    for (int m = 0; m < 16; ++m) {
        for (int r = 0; r < 10; ++r) {
            const RangeExpectation& e = table[std::size_t(m)].first[std::size_t(r)];
            const QString frame =
                QString("12345%1%2").arg(r).arg(QChar("0123456789ABCDEF"[m])) + "00DA";
            QTest::addRow("m=%X r=%d", m, r)
                << frame << QString(e.unit) << names(mask(e.indicators)) << e.decimalPos
                << QString(table[std::size_t(m)].second);
        }
    }
}

void QM45DecoderTest::functionCodeAndRangeSelectUnitIndicatorsAndPoint() {
    QFETCH(QString, frame);
    QFETCH(QString, unitText);
    QFETCH(QString, unitIndicators);
    QFETCH(int, decimalPos);
    QFETCH(QString, functionText);

    // Everything lit beforehand: whatever the frame does not light must go dark.
    const DecodeResult r = decode(frame, everythingLit());
    QVERIFY2(r.accepted(), qPrintable(frame + ": " + q(r.error)));
    const DecoderState& s = r.after;
    QCOMPARE(q(s.reading.UnitText), unitText);
    QCOMPARE(names(s.lcd.shown & kUnitGroup), unitIndicators);
    QCOMPARE(s.memory.DecimalPos, decimalPos);
    QCOMPARE(names(s.lcd.shown & kPoints),
             decimalPos >= 0 ? QString("LcdP%1").arg(decimalPos) : QString());
    QCOMPARE(q(s.reading.ValueText), valueWithPoint(decimalPos));
    QCOMPARE(s.reading.NumericValue, 12345.0);
    QCOMPARE(q(s.reading.FunctionText), functionText);
    QCOMPARE(r.barPosition, 12);
    QVERIFY(r.scaleChanged);
    QCOMPARE(q(s.memory.PrevUnitText), unitText);
    QCOMPARE(s.memory.PrevDecimalPos, decimalPos);
}

void QM45DecoderTest::couplingDigitSetsIndicatorsAndFunctionText_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("couplingIndicators");
    QTest::addColumn<QString>("functionText");

    const char* indicators[10] = {"",       "LcdAC LCDTRMST LCDTRMS",
                                  "LcdDc1", "LcdAC LCDTRMST LCDTRMS LCDJa LcdDc1",
                                  "",       "",
                                  "",       "",
                                  "",       ""};
    const char* texts[10] = {"DC", "AC", "DC", "AC+DC", "", "", "", "", "", ""};
    for (int c = 0; c < 10; ++c)
        QTest::addRow("volts c=%d", c) << "1234511" + QString::number(c) + "0DA"
                                       << names(mask(indicators[c])) << QString(texts[c]);
    QTest::newRow("function 2 uncoupled has no text") << "123452200DA"
                                                      << ""
                                                      << "";
    QTest::newRow("coupling 2 replaces the table text") << "123454420DA"
                                                        << "LcdDc1"
                                                        << "DC";
    QTest::newRow("coupling 1 on temperature")
        << "123451610DA" << names(mask(indicators[1])) << "AC";
    QTest::newRow("coupling 5 on resistance leaves no text") << "123454450DA"
                                                             << ""
                                                             << "";
}

void QM45DecoderTest::couplingDigitSetsIndicatorsAndFunctionText() {
    QFETCH(QString, frame);
    QFETCH(QString, couplingIndicators);
    QFETCH(QString, functionText);

    const DecodeResult r = decode(frame, everythingLit());
    QVERIFY2(r.accepted(), qPrintable(frame + ": " + q(r.error)));
    QCOMPARE(names(r.after.lcd.shown & kCouplingGroup), couplingIndicators);
    QCOMPARE(q(r.after.reading.FunctionText), functionText);
}

void QM45DecoderTest::flagDigitSetsSignAndAutoIgnoringBitThree_data() {
    QTest::addColumn<int>("flag");
    QTest::addColumn<bool>("minus");
    QTest::addColumn<bool>("autoShown");

    const bool minus[10] = {false, false, false, false, true, true, true, true, false, false};
    const bool autoOn[10] = {false, true, false, false, false, true, false, false, false, true};
    for (int f = 0; f < 10; ++f)
        QTest::addRow("f=%d", f) << f << minus[f] << autoOn[f];
}

void QM45DecoderTest::flagDigitSetsSignAndAutoIgnoringBitThree() {
    QFETCH(int, flag);
    QFETCH(bool, minus);
    QFETCH(bool, autoShown);

    for (const DecoderState& before : {DecoderState(), everythingLit()}) {
        const QString frame = QString("3999911%1%2DA").arg(0).arg(flag);
        const DecodeResult r = decode(frame, before);
        QVERIFY2(r.accepted(), qPrintable(frame + ": " + q(r.error)));
        const DecoderState& s = r.after;
        QCOMPARE(s.lcd.isShown(LcdFH), minus);
        QCOMPARE(s.lcd.isShown(LcdAuto), autoShown);
        QCOMPARE(q(s.reading.AutoText), autoShown ? QString("AUTO") : QString());
        QCOMPARE(q(s.reading.ValueText), minus ? QString("-3.9999") : QString("3.9999"));
        QCOMPARE(s.reading.NumericValue, minus ? -39999.0 : 39999.0);
        QCOMPARE(r.barPosition, 39);
    }
}

void QM45DecoderTest::negativeFrequencyBecomesPercentage_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("unitText");
    QTest::addColumn<QString>("indicators"); // unit group and minus sign
    QTest::addColumn<QString>("valueText");
    QTest::addColumn<double>("numericValue");
    QTest::addColumn<QString>("functionText");
    QTest::addColumn<QString>("autoText");
    QTest::addColumn<int>("decimalPos");

    QTest::newRow("duty cycle") << "050001C04DA"
                                << "%"
                                << "LCDBF"
                                << "050.00" << 5000.0 << "Frequency"
                                << "" << 2;
    QTest::newRow("kilohertz range loses its k") << "123453C04DA"
                                                 << "%"
                                                 << "LCDBF"
                                                 << "123.45" << 12345.0 << "Frequency"
                                                 << "" << 2;
    QTest::newRow("megahertz range loses its M") << "123456C04DA"
                                                 << "%"
                                                 << "LCDBF"
                                                 << "123.45" << 12345.0 << "Frequency"
                                                 << "" << 2;
    QTest::newRow("range without a point gets one") << "123459C04DA"
                                                    << "%"
                                                    << "LCDBF"
                                                    << "123.45" << 12345.0 << "Frequency"
                                                    << "" << 2;
    QTest::newRow("AUTO survives") << "123451C05DA"
                                   << "%"
                                   << "LCDBF"
                                   << "123.45" << 12345.0 << "Frequency"
                                   << "AUTO" << 2;
    QTest::newRow("coupling text survives") << "123451C14DA"
                                            << "%"
                                            << "LCDBF"
                                            << "123.45" << 12345.0 << "AC"
                                            << "" << 2;
    QTest::newRow("positive frequency stays hertz") << "123453C00DA"
                                                    << "kHz"
                                                    << "LCDk LCDHz"
                                                    << "12.345" << 12345.0 << "Frequency"
                                                    << "" << 1;
    QTest::newRow("negative volts stay volts") << "123451104DA"
                                               << "V"
                                               << "LcdFH LcdV"
                                               << "-1.2345" << -12345.0 << "DC"
                                               << "" << 0;
    QTest::newRow("overload duty cycle") << "A00001C04DA"
                                         << "%"
                                         << "LCDBF"
                                         << "0.L" << 40000.0 << "Frequency"
                                         << "" << 2;
}

void QM45DecoderTest::negativeFrequencyBecomesPercentage() {
    QFETCH(QString, frame);
    QFETCH(QString, unitText);
    QFETCH(QString, indicators);
    QFETCH(QString, valueText);
    QFETCH(double, numericValue);
    QFETCH(QString, functionText);
    QFETCH(QString, autoText);
    QFETCH(int, decimalPos);

    const DecodeResult r = decode(frame);
    QVERIFY2(r.accepted(), qPrintable(frame + ": " + q(r.error)));
    const DecoderState& s = r.after;
    QCOMPARE(q(s.reading.UnitText), unitText);
    QCOMPARE(names(s.lcd.shown & (kUnitGroup | bit(LcdFH))), names(mask(indicators)));
    QCOMPARE(q(s.reading.ValueText), valueText);
    QCOMPARE(s.reading.NumericValue, numericValue);
    QCOMPARE(q(s.reading.FunctionText), functionText);
    QCOMPARE(q(s.reading.AutoText), autoText);
    QCOMPARE(s.memory.DecimalPos, decimalPos);
    QCOMPARE(names(s.lcd.shown & kPoints), QString("LcdP%1").arg(decimalPos));
}

void QM45DecoderTest::displayFormsGiveValueTextNumberAndBar_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("digits"); // '_' marks an empty place, '@' is drawn as L
    QTest::addColumn<QString>("valueText");
    QTest::addColumn<double>("numericValue");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("points");
    QTest::addColumn<int>("decimalPos");

    QTest::newRow("volts") << "399991101DA"
                           << "39999"
                           << "3.9999" << 39999.0 << 39 << "LcdP0" << 0;
    QTest::newRow("negative volts keep the bar") << "399991105DA"
                                                 << "39999"
                                                 << "-3.9999" << -39999.0 << 39 << "LcdP0" << 0;
    QTest::newRow("overload 0L") << "A00001101DA"
                                 << "__0@_"
                                 << ".0L" << 40000.0 << 40 << "LcdP0" << 0;
    QTest::newRow("negative overload 0L") << "A00001105DA"
                                          << "__0@_"
                                          << "-.0L" << -40000.0 << 40 << "LcdP0" << 0;
    QTest::newRow("overload 0L ignores the other characters")
        << "A9F5C1101DA"
        << "__0@_"
        << ".0L" << 40000.0 << 40 << "LcdP0" << 0;
    QTest::newRow("overload 0L with the point after the L")
        << "A00004101DA"
        << "__0@_"
        << "0L." << 40000.0 << 40 << "LcdP3" << 3;
    QTest::newRow("overload 0L without a point") << "A00000100DA"
                                                 << "__0@_"
                                                 << "0L" << 40000.0 << 40 << "" << -1;
    QTest::newRow("overload L0") << "AC0001101DA"
                                 << "__@0_"
                                 << "L0." << 0.0 << 1 << "LcdP0 LcdP3" << 3;
    QTest::newRow("overload L0 hides the third point") << "AC0003101DA"
                                                       << "__@0_"
                                                       << "L0." << 0.0 << 1 << "LcdP3" << 3;
    QTest::newRow("negative overload L0 is still zero") << "AC0001105DA"
                                                        << "__@0_"
                                                        << "L0." << 0.0 << 1 << "LcdP0 LcdP3" << 3;
    QTest::newRow("overload L0 without a range point") << "AC0000100DA"
                                                       << "__@0_"
                                                       << "L0." << 0.0 << 1 << "LcdP3" << 3;
    QTest::newRow("overload wins over the zero display") << "A00B01101DA"
                                                         << "__0@_"
                                                         << ".0L" << 40000.0 << 40 << "LcdP0" << 0;
    QTest::newRow("zero display") << "123B51101DA"
                                  << "00000"
                                  << "0.0000" << 0.0 << 1 << "LcdP0" << 0;
    QTest::newRow("negative zero display") << "123B51105DA"
                                           << "00000"
                                           << "-0.0000" << 0.0 << 1 << "LcdP0" << 0;
    QTest::newRow("zero display ignores letters elsewhere") << "FECBF1101DA"
                                                            << "00000"
                                                            << "0.0000" << 0.0 << 1 << "LcdP0" << 0;
    QTest::newRow("blank fifth digit") << "1234A2101DA"
                                       << "1234_"
                                       << "12.34" << 1234.0 << 12 << "LcdP1" << 1;
    QTest::newRow("negative blank fifth digit") << "1234A2105DA"
                                                << "1234_"
                                                << "-12.34" << -1234.0 << 12 << "LcdP1" << 1;
    QTest::newRow("blank fifth digit after the last point")
        << "1234A4101DA"
        << "1234_"
        << "1234." << 1234.0 << 12 << "LcdP3" << 3;
    QTest::newRow("bar floor for 01") << "012341101DA"
                                      << "01234"
                                      << "0.1234" << 1234.0 << 1 << "LcdP0" << 0;
    QTest::newRow("bar 2 for 02") << "020001101DA"
                                  << "02000"
                                  << "0.2000" << 2000.0 << 2 << "LcdP0" << 0;
    QTest::newRow("bar beyond its maximum is not clipped here")
        << "999991101DA"
        << "99999"
        << "9.9999" << 99999.0 << 99 << "LcdP0" << 0;
}

void QM45DecoderTest::displayFormsGiveValueTextNumberAndBar() {
    QFETCH(QString, frame);
    QFETCH(QString, digits);
    QFETCH(QString, valueText);
    QFETCH(double, numericValue);
    QFETCH(int, bar);
    QFETCH(QString, points);
    QFETCH(int, decimalPos);

    const DecodeResult r = decode(frame, everythingLit());
    QVERIFY2(r.accepted(), qPrintable(frame + ": " + q(r.error)));
    const DecoderState& s = r.after;
    QCOMPARE(digitsText(s.lcd), digits);
    QCOMPARE(q(s.reading.ValueText), valueText);
    QCOMPARE(s.reading.NumericValue, numericValue);
    QCOMPARE(r.barPosition, bar);
    QCOMPARE(names(s.lcd.shown & kPoints), names(mask(points)));
    QCOMPARE(s.memory.DecimalPos, decimalPos);
}

void QM45DecoderTest::decimalMarkIsInsertedAsGiven_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("valueText");

    QTest::newRow("comma") << ","
                           << "399991101DA"
                           << "3,9999";
    QTest::newRow("empty mark adds nothing") << ""
                                             << "399991101DA"
                                             << "39999";
    QTest::newRow("two-byte mark")
        << QString(QChar(0x066B)) << "123453101DA" << QString("123") + QChar(0x066B) + "45";
    QTest::newRow("comma in overload 0L") << ","
                                          << "A00001101DA"
                                          << ",0L";
    QTest::newRow("overload L0 keeps its literal point") << ","
                                                         << "AC0001101DA"
                                                         << "L0.";
    QTest::newRow("comma in percentage") << ","
                                         << "050001C04DA"
                                         << "050,00";
}

void QM45DecoderTest::decimalMarkIsInsertedAsGiven() {
    QFETCH(QString, mark);
    QFETCH(QString, frame);
    QFETCH(QString, valueText);

    DecoderContext context;
    context.DecimalMark = mark.toStdString();
    const DecodeResult r = decode(frame, DecoderState(), context);
    QVERIFY2(r.accepted(), qPrintable(frame + ": " + q(r.error)));
    QCOMPARE(q(r.after.reading.ValueText), valueText);
}

void QM45DecoderTest::rejectedFrameKeepsOnlyEarlierSteps_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<DecoderState>("before");
    QTest::addColumn<DecoderState>("expected");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("error");

    // Minus, AUTO, AC+DC, volts with the first point: every group has something lit.
    const DecodeResult setup = decode("567891135DA");
    if (!setup.accepted())
        qFatal("setup frame rejected: %s", setup.error.c_str());
    const DecoderState lit = setup.after;

    const auto withDigits = [](DecoderState s, const char* d) {
        for (std::size_t i = 0; i < 5; ++i)
            s.lcd.digits[i] = d[i] == '_' ? 0 : d[i];
        return s;
    };

    {
        DecoderState e = withDigits(lit, "12345");
        e.lcd.shown &= ~kUnitGroup;
        e.reading.UnitText.clear();
        e.reading.FunctionText.clear();
        e.reading.AutoText.clear();
        QTest::newRow("step 4: range digit")
            << "12345B401DA" << lit << e << 4 << "'B' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(DecoderState(), "12345");
        QTest::newRow("step 4: first frame keeps the start-up minus")
            << "12345B401DA" << DecoderState() << e << 4 << "'B' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(lit, "12345");
        e.lcd.shown = (e.lcd.shown & ~kUnitGroup) | bit(LCDohm) | bit(LCDk);
        e.reading.UnitText = "k*";
        e.reading.FunctionText.clear();
        e.reading.AutoText.clear();
        e.memory.DecimalPos = 2;
        QTest::newRow("step 6: coupling digit")
            << "1234544C1DA" << lit << e << 6 << "'C' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(lit, "12345");
        e.lcd.shown = (e.lcd.shown & ~kUnitGroup & ~kCouplingGroup) | bit(LCDohm) | bit(LCDk);
        e.reading.UnitText = "k*";
        e.reading.FunctionText = "OHM";
        e.reading.AutoText.clear();
        e.memory.DecimalPos = 2;
        QTest::newRow("step 7: flag digit")
            << "12345440CDA" << lit << e << 7 << "'C' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(lit, "12A45");
        e.lcd.shown = (e.lcd.shown & ~kCouplingGroup & ~bit(LcdFH)) | bit(LcdAuto);
        e.reading.ValueText = "1.2A45";
        e.reading.FunctionText = "DC";
        e.reading.AutoText = "AUTO";
        QTest::newRow("step 10: letter in a digit")
            << "12A451101DA" << lit << e << 10 << "'12A45' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(lit, "1C345");
        e.lcd.shown = (e.lcd.shown & ~kCouplingGroup) | bit(LcdFH) | bit(LcdAuto);
        e.reading.ValueText = "-1.C345";
        e.reading.FunctionText = "DC";
        e.reading.AutoText = "AUTO";
        QTest::newRow("step 10: negative reading quotes the sign")
            << "1C3451105DA" << lit << e << 10 << "'-1C345' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(lit, "1234B");
        e.lcd.shown = (e.lcd.shown & ~kCouplingGroup & ~bit(LcdFH)) | bit(LcdAuto);
        e.reading.ValueText = "1.234B";
        e.reading.FunctionText = "DC";
        e.reading.AutoText = "AUTO";
        QTest::newRow("step 10: fifth digit B")
            << "1234B1101DA" << lit << e << 10 << "'1234B' is not a valid integer value";
    }
    {
        DecoderState e = withDigits(lit, "1A345");
        e.lcd.shown =
            (e.lcd.shown & ~kUnitGroup & ~kCouplingGroup & ~bit(LcdFH) & ~bit(LcdAuto) & ~kPoints) |
            bit(LCDBF) | bit(LcdP2);
        e.reading.ValueText = "1A3.45";
        e.reading.UnitText = "%";
        e.reading.FunctionText = "Frequency";
        e.reading.AutoText.clear();
        e.memory.DecimalPos = 2;
        QTest::newRow("step 10: percentage drops the sign from the quoted text")
            << "1A3451C04DA" << lit << e << 10 << "'1A345' is not a valid integer value";
    }
}

void QM45DecoderTest::rejectedFrameKeepsOnlyEarlierSteps() {
    QFETCH(QString, frame);
    QFETCH(DecoderState, before);
    QFETCH(DecoderState, expected);
    QFETCH(int, step);
    QFETCH(QString, error);

    const DecodeResult r = decode(frame, before);
    QCOMPARE(r.rejectedAtStep, step);
    QCOMPARE(q(r.error), error);
    QCOMPARE(describe(r.after), describe(expected));
    QCOMPARE(r.barPosition, -1);
    QVERIFY(!r.scaleChanged);
}

void QM45DecoderTest::nonDecimalCharacterRejectsAtStepReadingIt_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("failedText");

    const QString base = "123451101DA";
    const auto with = [&base](int position, QChar c) {
        QString f = base;
        f[position - 1] = c;
        return f;
    };
    for (char letter = 'A'; letter <= 'F'; ++letter) {
        const QString l(QChar::fromLatin1(letter));
        QTest::addRow("range %c", letter) << with(6, l[0]) << 4 << l;
        QTest::addRow("coupling %c", letter) << with(8, l[0]) << 6 << l;
        QTest::addRow("flags %c", letter) << with(9, l[0]) << 7 << l;
        if (letter != 'A')
            QTest::addRow("digit 1 %c", letter) << with(1, l[0]) << 10 << with(1, l[0]).left(5);
        QTest::addRow("digit 2 %c", letter) << with(2, l[0]) << 10 << with(2, l[0]).left(5);
        QTest::addRow("digit 3 %c", letter) << with(3, l[0]) << 10 << with(3, l[0]).left(5);
        if (letter != 'B')
            QTest::addRow("digit 4 %c", letter) << with(4, l[0]) << 10 << with(4, l[0]).left(5);
        if (letter != 'A')
            QTest::addRow("digit 5 %c", letter) << with(5, l[0]) << 10 << with(5, l[0]).left(5);
    }
    // Characters the frame handlers never produce still fail cleanly.
    QTest::newRow("function code G") << with(7, 'G') << 4 << "G";
    QTest::newRow("range blank") << with(6, ' ') << 4 << " ";
    QTest::newRow("stray @ is no overload") << with(4, '@') << 10 << "123@5";
    QTest::newRow("stray @ after 0 is no overload") << "120@51101DA" << 10 << "120@5";
}

void QM45DecoderTest::nonDecimalCharacterRejectsAtStepReadingIt() {
    QFETCH(QString, frame);
    QFETCH(int, step);
    QFETCH(QString, failedText);

    const DecodeResult r = decode(frame);
    QCOMPARE(r.rejectedAtStep, step);
    QCOMPARE(q(r.error), "'" + failedText + "' is not a valid integer value");
    QCOMPARE(r.barPosition, -1);
}

void QM45DecoderTest::textOfWrongLengthIsRejectedWithoutChange_data() {
    QTest::addColumn<QString>("frame");
    QTest::newRow("empty") << "";
    QTest::newRow("short") << "39999110DA";
    QTest::newRow("long") << "399991101DAX";
}

void QM45DecoderTest::textOfWrongLengthIsRejectedWithoutChange() {
    QFETCH(QString, frame);

    const DecodeResult setup = decode("567891135DA");
    QVERIFY(setup.accepted());
    const DecodeResult r = decode(frame, setup.after);
    QCOMPARE(r.rejectedAtStep, 4);
    QCOMPARE(q(r.error), "'" + frame + "' is not a valid frame");
    QCOMPARE(describe(r.after), describe(setup.after));
    QCOMPARE(r.barPosition, -1);
}

void QM45DecoderTest::scaleChangesOnlyWithUnitOrDecimalPosition_data() {
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QList<bool>>("changes");

    QTest::newRow("first frame is a change") << QStringList{"399991101DA"} << QList<bool>{true};
    QTest::newRow("first frame at the start-up decimal position is a change")
        << QStringList{"123451100DA", "123451100DA"} << QList<bool>{true, false};
    QTest::newRow("same scale again is no change")
        << QStringList{"399991101DA", "399991101DA"} << QList<bool>{true, false};
    QTest::newRow("range change 3.9999 V to 39.999 V")
        << QStringList{"399991101DA", "399992101DA"} << QList<bool>{true, true};
    QTest::newRow("other digits are no change")
        << QStringList{"399991101DA", "123451101DA"} << QList<bool>{true, false};
    QTest::newRow("sign, AUTO and coupling are no change")
        << QStringList{"399991101DA", "399991134DA"} << QList<bool>{true, false};
    QTest::newRow("unit change with the same point")
        << QStringList{"123453100DA", "123450300DA"} << QList<bool>{true, true};
    QTest::newRow("frequency to percentage")
        << QStringList{"123451C00DA", "123451C04DA"} << QList<bool>{true, true};
    QTest::newRow("overload L0 takes the point shown, not the range's")
        << QStringList{"123454101DA", "AC0001101DA"} << QList<bool>{true, false};
    QTest::newRow("rejected frame leaves the memory")
        << QStringList{"399991101DA", "12A452101DA", "399991101DA"}
        << QList<bool>{true, false, false};
    QTest::newRow("rejected frame after its new range leaves the memory")
        << QStringList{"399991101DA", "39999210CDA", "399991101DA"}
        << QList<bool>{true, false, false};
}

void QM45DecoderTest::scaleChangesOnlyWithUnitOrDecimalPosition() {
    QFETCH(QStringList, frames);
    QFETCH(QList<bool>, changes);

    DecoderState state;
    QList<bool> actual;
    for (const QString& frame : frames) {
        const DecodeResult r = decode(frame, state);
        actual << r.scaleChanged;
        state = r.after;
    }
    QVERIFY2(actual == changes, qPrintable(QString("frames %1: expected %2, got %3")
                                               .arg(frames.join(','))
                                               .arg(flags(changes), flags(actual))));
}

QTEST_APPLESS_MAIN(QM45DecoderTest)
#include "QM45DecoderTest.moc"
