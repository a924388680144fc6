#include "record/LogFormats.h"

#include "record/ReadingsTable.h"
#include "record/TextDataFile.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <QTimeZone>
#include <QtTest>

#include <cmath>
#include <optional>
#include <string>

using namespace qm45;

namespace {

Sample makeSample(const QString& value, const QString& function, const QString& unit,
                  const QString& autoText, const QString& verdict) {
    Sample s;
    s.ValueText = value.toStdString();
    s.FunctionText = function.toStdString();
    s.UnitText = unit.toStdString();
    s.AutoText = autoText.toStdString();
    s.JudgeText = verdict.toStdString();
    return s;
}

// 2026-12-10 14:27:01.123 one hour ahead of UTC.
QDateTime fixedMoment() {
    return QDateTime(QDate(2026, 12, 10), QTime(14, 27, 1, 123), QTimeZone(3600));
}
const QString kFixedMomentText = QStringLiteral("2026-12-10T14:27:01.123+01:00");

std::string lineOf(LogFormat format, const Sample& sample, std::int32_t no, const QString& time,
                   QChar mark) {
    LogRow row;
    row.no = no;
    row.taken = fixedMoment();
    row.time = time.toStdString();
    row.sample = &sample;
    std::string out;
    LogFormats::appendLine(format, row, mark, out);
    return out;
}

// One record of RFC 4180 text from the start of `text`: the fields, and in
// `used` the bytes taken including the record's CR LF. None when the text is
// not a well-formed record.
std::optional<QStringList> splitCsvRecord(const QByteArray& text, qsizetype& used) {
    QStringList fields;
    QByteArray field;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (true) {
        field.clear();
        if (i < n && text[i] == '"') {
            ++i;
            while (true) {
                if (i >= n)
                    return std::nullopt; // unterminated quote
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"')
                    return std::nullopt; // a quote inside an unquoted field
                field += text[i++];
            }
        }
        fields << QString::fromUtf8(field);
        if (i < n && text[i] == ',') {
            ++i;
            continue;
        }
        if (i + 1 < n && text[i] == '\r' && text[i + 1] == '\n') {
            used = i + 2;
            return fields;
        }
        return std::nullopt; // no CR LF after the last field, or junk after a quote
    }
}

const QStringList kFieldNames = {
    QStringLiteral("timestamp"), QStringLiteral("no"),    QStringLiteral("time"),
    QStringLiteral("function"),  QStringLiteral("value"), QStringLiteral("unit"),
    QStringLiteral("si_value"),  QStringLiteral("auto"),  QStringLiteral("verdict")};

bool closeTo(double actual, double expected) {
    return std::abs(actual - expected) <= 1e-12 * std::max(1.0, std::abs(expected));
}

// The rows the csv and jsonl cases share: what goes in and what a reader of
// the line must find. `si` is NaN when si_value must be empty.
void addRowCases() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("unitCode");
    QTest::addColumn<QString>("autoText");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QChar>("mark");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("si");

    const double none = std::nan("");
    QTest::newRow("volts") << "3.9999"
                           << "DC"
                           << "V"
                           << "AUTO"
                           << "pass" << QChar('.') << "V" << 3.9999;
    QTest::newRow("decimal comma") << "1,2345"
                                   << "DC"
                                   << "mV"
                                   << "AUTO"
                                   << "Fail" << QChar(',') << "mV" << 0.0012345;
    QTest::newRow("negative kilo-ohm, no function, manual range")
        << "-12.345"
        << ""
        << "k*"
        << ""
        << "pass" << QChar('.') << QStringLiteral("k\u03A9") << -12345.0;
    QTest::newRow("overload") << ".0L"
                              << "AC"
                              << "M*"
                              << "AUTO"
                              << "Fail" << QChar('.') << QStringLiteral("M\u03A9") << none;
    QTest::newRow("no verdict yet, micro") << "0.5000"
                                           << "DC"
                                           << "uA"
                                           << "AUTO"
                                           << "" << QChar('.') << QStringLiteral("\u00B5A") << 5e-7;
    QTest::newRow("loop current percentage") << "45.00"
                                             << "DC"
                                             << "mA%"
                                             << ""
                                             << "pass" << QChar('.') << "mA%" << 45.0;
    QTest::newRow("degrees Celsius") << "23.5"
                                     << ""
                                     << "#"
                                     << ""
                                     << "pass" << QChar('.') << QStringLiteral("\u00B0C") << 23.5;
    QTest::newRow("quotes and backslash") << "1\"2"
                                          << "A\"C\\"
                                          << "V"
                                          << ""
                                          << "pass" << QChar('.') << "V" << none;
    QTest::newRow("line breaks and control characters") << "1.0"
                                                        << "D\r\nC\t\x01\x1f\x7f"
                                                        << "V"
                                                        << ""
                                                        << "pass" << QChar('.') << "V" << 1.0;
}

} // namespace

class LogFormatsTest : public QObject {
    Q_OBJECT

private slots:
    void textLineIsTheWindowsDataFileRow_data();
    void textLineIsTheWindowsDataFileRow();
    void csvLineReadsBack_data();
    void csvLineReadsBack();
    void csvHeaderNamesTheFields();
    void jsonlLineReadsBack_data();
    void jsonlLineReadsBack();
    void siValueDropsThePrefix_data();
    void siValueDropsThePrefix();
    void readableUnit_data();
    void readableUnit();
    void isoTimestamp_data();
    void isoTimestamp();
    void beginsLike_data();
    void beginsLike();
    void rowNumberOfAWrittenLine_data();
    void rowNumberOfAWrittenLine();
};

void LogFormatsTest::textLineIsTheWindowsDataFileRow_data() {
    QTest::addColumn<int>("no");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("plain") << 1 << "09:05:03"
                           << "DC"
                           << "3.9999"
                           << "V"
                           << "pass";
    QTest::newRow("blanks and controls around") << 12 << " 09.05.03\t"
                                                << "\tAC "
                                                << "  -12.345 "
                                                << "k* \x01"
                                                << "Fail\r";
    QTest::newRow("empty texts are NULL") << 3 << "09:05:03"
                                          << ""
                                          << "   "
                                          << ""
                                          << "";
    QTest::newRow("overload, comma, symbol units") << 2147483647 << "23:59:59"
                                                   << "AC"
                                                   << ".0L"
                                                   << "#"
                                                   << "Fail";
    QTest::newRow("inner blanks stay") << 7 << "09:05:03"
                                       << "D C"
                                       << "1,5"
                                       << "mA%"
                                       << "pass";
}

void LogFormatsTest::textLineIsTheWindowsDataFileRow() {
    QFETCH(int, no);
    QFETCH(QString, time);
    QFETCH(QString, function);
    QFETCH(QString, value);
    QFETCH(QString, unit);
    QFETCH(QString, verdict);

    ReadingsTable table;
    ReadingRow r;
    r.no = no;
    r.time = time;
    r.dcac = function;
    r.value = value;
    r.unit = unit;
    r.judge = verdict;
    table.append(r);
    QBuffer windowFile;
    QVERIFY(windowFile.open(QIODevice::WriteOnly));
    QVERIFY(TextDataFile::write(table.snapshot(), windowFile));

    const Sample s = makeSample(value, function, unit, QStringLiteral("AUTO"), verdict);
    const std::string log =
        LogFormats::header(LogFormat::Text) + lineOf(LogFormat::Text, s, no, time, QChar('.'));
    QCOMPARE(QByteArray::fromStdString(log), windowFile.data());
}

void LogFormatsTest::csvLineReadsBack_data() {
    addRowCases();
}

void LogFormatsTest::csvLineReadsBack() {
    QFETCH(QString, value);
    QFETCH(QString, function);
    QFETCH(QString, unitCode);
    QFETCH(QString, autoText);
    QFETCH(QString, verdict);
    QFETCH(QChar, mark);
    QFETCH(QString, unit);
    QFETCH(double, si);

    const Sample s = makeSample(value, function, unitCode, autoText, verdict);
    const QString time = QStringLiteral("14,27,01"); // a separator that needs quoting
    const QByteArray line = QByteArray::fromStdString(lineOf(LogFormat::Csv, s, 42, time, mark));
    qsizetype used = 0;
    const std::optional<QStringList> fields = splitCsvRecord(line, used);
    QVERIFY2(fields, line.constData());
    QCOMPARE(used, line.size());
    QCOMPARE(fields->size(), kFieldNames.size());

    QCOMPARE(fields->at(0), kFixedMomentText);
    QCOMPARE(fields->at(1), QStringLiteral("42"));
    QCOMPARE(fields->at(2), time);
    QCOMPARE(fields->at(3), function);
    QCOMPARE(fields->at(4), value);
    QCOMPARE(fields->at(5), unit);
    if (std::isnan(si)) {
        QCOMPARE(fields->at(6), QString());
    } else {
        bool ok = false;
        const double read = fields->at(6).toDouble(&ok); // the C locale's notation
        QVERIFY2(ok, qPrintable(fields->at(6)));
        QVERIFY2(closeTo(read, si), qPrintable(fields->at(6)));
    }
    QCOMPARE(fields->at(7), autoText.isEmpty() ? QStringLiteral("false") : QStringLiteral("true"));
    QCOMPARE(fields->at(8), verdict);
}

void LogFormatsTest::csvHeaderNamesTheFields() {
    const QByteArray header = QByteArray::fromStdString(LogFormats::header(LogFormat::Csv));
    qsizetype used = 0;
    const std::optional<QStringList> fields = splitCsvRecord(header, used);
    QVERIFY(fields);
    QCOMPARE(used, header.size());
    QCOMPARE(*fields, kFieldNames);
    QVERIFY(LogFormats::header(LogFormat::Jsonl).empty());
}

void LogFormatsTest::jsonlLineReadsBack_data() {
    addRowCases();
}

void LogFormatsTest::jsonlLineReadsBack() {
    QFETCH(QString, value);
    QFETCH(QString, function);
    QFETCH(QString, unitCode);
    QFETCH(QString, autoText);
    QFETCH(QString, verdict);
    QFETCH(QChar, mark);
    QFETCH(QString, unit);
    QFETCH(double, si);

    const Sample s = makeSample(value, function, unitCode, autoText, verdict);
    const QString time = QStringLiteral("14:27:01");
    const QByteArray line = QByteArray::fromStdString(lineOf(LogFormat::Jsonl, s, 42, time, mark));
    // One line: the only line break is the one at its end.
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1);
    QCOMPARE(line.count('\r'), 0);

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    QVERIFY2(error.error == QJsonParseError::NoError,
             qPrintable(error.errorString() + QStringLiteral(" in ") + QString::fromUtf8(line)));
    QVERIFY(document.isObject());
    const QJsonObject o = document.object();
    QStringList keys = o.keys();
    QStringList expectedKeys = kFieldNames;
    keys.sort();
    expectedKeys.sort();
    QCOMPARE(keys, expectedKeys);

    QCOMPARE(o.value("timestamp").toString(), kFixedMomentText);
    QVERIFY(o.value("no").isDouble());
    QCOMPARE(o.value("no").toInt(), 42);
    QCOMPARE(o.value("time").toString(), time);
    QCOMPARE(o.value("function").toString(), function);
    QCOMPARE(o.value("value").toString(), value);
    QCOMPARE(o.value("unit").toString(), unit);
    if (std::isnan(si)) {
        QVERIFY(o.value("si_value").isNull());
    } else {
        QVERIFY(o.value("si_value").isDouble());
        QVERIFY2(closeTo(o.value("si_value").toDouble(), si), line.constData());
    }
    QVERIFY(o.value("auto").isBool());
    QCOMPARE(o.value("auto").toBool(), !autoText.isEmpty());
    if (verdict.isEmpty()) {
        QVERIFY(o.value("verdict").isNull());
    } else {
        QCOMPARE(o.value("verdict").toString(), verdict);
    }
}

void LogFormatsTest::siValueDropsThePrefix_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("unitCode");
    QTest::addColumn<QChar>("mark");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("si");

    QTest::newRow("nano") << "12.34"
                          << "nF" << QChar('.') << true << 12.34e-9;
    QTest::newRow("micro") << "-0.5"
                           << "uA" << QChar('.') << true << -0.5e-6;
    QTest::newRow("milli") << "1.2345"
                           << "mV" << QChar('.') << true << 1.2345e-3;
    QTest::newRow("kilo") << "3.999"
                          << "k*" << QChar('.') << true << 3999.0;
    QTest::newRow("mega") << "40.00"
                          << "MHz" << QChar('.') << true << 40e6;
    QTest::newRow("no prefix") << "3.9999"
                               << "V" << QChar('.') << true << 3.9999;
    QTest::newRow("hertz, no prefix") << "50.00"
                                      << "Hz" << QChar('.') << true << 50.0;
    QTest::newRow("ohm alone") << "400.0"
                               << "*" << QChar('.') << true << 400.0;
    QTest::newRow("loop current percent") << "25.0"
                                          << "mA%" << QChar('.') << true << 25.0;
    QTest::newRow("duty percent") << "50.0"
                                  << "%" << QChar('.') << true << 50.0;
    QTest::newRow("decimal comma") << "1,5"
                                   << "mV" << QChar(',') << true << 1.5e-3;
    QTest::newRow("comma where a point is the mark") << "1,5"
                                                     << "mV" << QChar('.') << false << 0.0;
    QTest::newRow("overload 0L") << "0L"
                                 << "M*" << QChar('.') << false << 0.0;
    QTest::newRow("overload L0.") << "L0."
                                  << "V" << QChar('.') << false << 0.0;
    QTest::newRow("overload .0L") << ".0L"
                                  << "k*" << QChar(',') << false << 0.0;
    QTest::newRow("empty") << ""
                           << "V" << QChar('.') << false << 0.0;
}

void LogFormatsTest::siValueDropsThePrefix() {
    QFETCH(QString, value);
    QFETCH(QString, unitCode);
    QFETCH(QChar, mark);
    QFETCH(bool, isNumber);
    QFETCH(double, si);

    CurrentReading reading;
    reading.ValueText = value.toStdString();
    reading.UnitText = unitCode.toStdString();
    const std::optional<double> result = LogFormats::siValue(reading, mark);
    QCOMPARE(result.has_value(), isNumber);
    if (isNumber)
        QVERIFY2(closeTo(*result, si), qPrintable(QString::number(*result, 'g', 17)));
}

void LogFormatsTest::readableUnit_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("readable");

    QTest::newRow("kilo-ohm") << "k*" << QStringLiteral("k\u03A9");
    QTest::newRow("mega-ohm") << "M*" << QStringLiteral("M\u03A9");
    QTest::newRow("ohm") << "*" << QStringLiteral("\u03A9");
    QTest::newRow("microampere") << "uA" << QStringLiteral("\u00B5A");
    QTest::newRow("microfarad") << "uF" << QStringLiteral("\u00B5F");
    QTest::newRow("Celsius") << "#" << QStringLiteral("\u00B0C");
    QTest::newRow("Fahrenheit") << "?" << QStringLiteral("\u00B0F");
    QTest::newRow("loop current percent") << "mA%"
                                          << "mA%";
    QTest::newRow("millivolt") << "mV"
                               << "mV";
    QTest::newRow("hertz") << "Hz"
                           << "Hz";
    QTest::newRow("none") << ""
                          << "";
}

void LogFormatsTest::readableUnit() {
    QFETCH(QString, code);
    QFETCH(QString, readable);
    QCOMPARE(QString::fromStdString(LogFormats::readableUnit(code.toStdString())), readable);
}

void LogFormatsTest::isoTimestamp_data() {
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");

    QTest::newRow("an hour ahead") << fixedMoment() << kFixedMomentText;
    QTest::newRow("behind by hours and minutes")
        << QDateTime(QDate(2026, 3, 1), QTime(7, 8, 9, 45), QTimeZone(-(5 * 3600 + 30 * 60)))
        << "2026-03-01T07:08:09.045-05:30";
    QTest::newRow("behind by less than an hour")
        << QDateTime(QDate(2026, 6, 30), QTime(23, 59, 59, 999), QTimeZone(-30 * 60))
        << "2026-06-30T23:59:59.999-00:30";
    QTest::newRow("UTC") << QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 0), QTimeZone(0))
                         << "2027-01-01T00:00:00.000+00:00";
    QTest::newRow("ahead by hours and minutes")
        << QDateTime(QDate(2026, 10, 5), QTime(12, 0, 0, 7), QTimeZone(5 * 3600 + 45 * 60))
        << "2026-10-05T12:00:00.007+05:45";
    QTest::newRow("far behind") << QDateTime(QDate(2026, 2, 28), QTime(1, 2, 3, 100),
                                             QTimeZone(-12 * 3600))
                                << "2026-02-28T01:02:03.100-12:00";
}

void LogFormatsTest::isoTimestamp() {
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);

    const QString written = QString::fromStdString(LogFormats::isoTimestamp(moment));
    QCOMPARE(written, text);
    // Qt's own ISO reader finds the same moment and offset in it.
    const QDateTime read = QDateTime::fromString(written, Qt::ISODateWithMs);
    QVERIFY(read.isValid());
    QCOMPARE(read.toMSecsSinceEpoch(), moment.toMSecsSinceEpoch());
    QCOMPARE(read.offsetFromUtc(), moment.offsetFromUtc());
}

void LogFormatsTest::beginsLike_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("firstLine");
    QTest::addColumn<bool>("ours");

    const int text = int(LogFormat::Text);
    const int csv = int(LogFormat::Csv);
    const int jsonl = int(LogFormat::Jsonl);
    const QByteArray textHeader = QByteArray(TextDataFile::kHeader).chopped(2);
    const QByteArray csvHeader = "timestamp,no,time,function,value,unit,si_value,auto,verdict";
    const QByteArray jsonRow =
        QByteArray::fromStdString(lineOf(LogFormat::Jsonl,
                                         makeSample("1.0", "DC", "V", "AUTO", "pass"), 1,
                                         "10:00:00", QChar('.')))
            .chopped(1);

    QTest::newRow("text: the window's header") << text << textHeader << true;
    QTest::newRow("text: csv header") << text << csvHeader << false;
    QTest::newRow("text: a data row")
        << text << QByteArray("1\t10:00:00\tDC\t1.0\tV\tpass") << false;
    QTest::newRow("text: header with another column") << text << textHeader + "\tExtra" << false;
    QTest::newRow("csv: its header") << csv << csvHeader << true;
    QTest::newRow("csv: the text header") << csv << textHeader << false;
    QTest::newRow("csv: a column fewer") << csv << csvHeader.chopped(8) << false;
    QTest::newRow("csv: a jsonl row") << csv << jsonRow << false;
    QTest::newRow("jsonl: a whole row") << jsonl << jsonRow << true;
    QTest::newRow("jsonl: a row cut in the timestamp") << jsonl << jsonRow.left(25) << true;
    QTest::newRow("jsonl: a row cut in its first key") << jsonl << QByteArray("{\"times") << true;
    QTest::newRow("jsonl: an empty line") << jsonl << QByteArray() << false;
    QTest::newRow("jsonl: another object") << jsonl << QByteArray("{\"no\":1}") << false;
    QTest::newRow("jsonl: the csv header") << jsonl << csvHeader << false;
    QTest::newRow("jsonl: the text header") << jsonl << textHeader << false;
}

void LogFormatsTest::beginsLike() {
    QFETCH(int, format);
    QFETCH(QByteArray, firstLine);
    QFETCH(bool, ours);
    QCOMPARE(LogFormats::beginsLike(LogFormat(format), firstLine.toStdString()), ours);
}

// A continued log numbers on from its last line: the number must come back
// from every format's line, and a header or a broken line gives none.
void LogFormatsTest::rowNumberOfAWrittenLine_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<qint64>("number"); // 0: none

    const auto written = [](LogFormat format, std::int32_t no, const char* function) {
        return QByteArray::fromStdString(lineOf(format,
                                                makeSample("1,5", function, "V", "AUTO", "pass"),
                                                no, "10:00:00", QChar(',')))
            .trimmed();
    };
    for (const LogFormat format : {LogFormat::Text, LogFormat::Csv, LogFormat::Jsonl}) {
        const char* name = format == LogFormat::Text  ? "text"
                           : format == LogFormat::Csv ? "csv"
                                                      : "jsonl";
        QTest::addRow("%s: row 1", name) << int(format) << written(format, 1, "DC") << qint64(1);
        QTest::addRow("%s: the highest number", name)
            << int(format) << written(format, 2147483647, "DC") << qint64(2147483647);
        // A function text holding the separator or a digit must not be read as the number.
        QTest::addRow("%s: a function with a comma", name)
            << int(format) << written(format, 42, "7,8\t9") << qint64(42);
        QTest::addRow("%s: the header", name)
            << int(format) << QByteArray::fromStdString(LogFormats::header(format)).trimmed()
            << qint64(0);
    }
    QTest::newRow("text: no number")
        << int(LogFormat::Text) << QByteArray("NULL\t10:00:00") << qint64(0);
    QTest::newRow("csv: cut after the timestamp")
        << int(LogFormat::Csv) << QByteArray("2026-12-10T14:27:01.123+01:00") << qint64(0);
    QTest::newRow("jsonl: another object")
        << int(LogFormat::Jsonl) << QByteArray("{\"x\":1}") << qint64(0);
    QTest::newRow("jsonl: a negative number")
        << int(LogFormat::Jsonl) << QByteArray("{\"no\":-3}") << qint64(0);
}

void LogFormatsTest::rowNumberOfAWrittenLine() {
    QFETCH(int, format);
    QFETCH(QByteArray, line);
    QFETCH(qint64, number);
    const std::optional<std::int64_t> got =
        LogFormats::rowNumber(LogFormat(format), line.toStdString());
    if (number == 0)
        QVERIFY2(!got, line.constData());
    else
        QCOMPARE(got.value_or(0), std::int64_t(number));
}

QTEST_APPLESS_MAIN(LogFormatsTest)
#include "LogFormatsTest.moc"
