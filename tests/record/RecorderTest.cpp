#include "record/Recorder.h"
#include "record/ReadingsModel.h"
#include "record/ReadingsTable.h"
#include "record/RecordClock.h"

#include "../support/FixedClock.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using namespace qm45;
using qm45::test::FixedClock;

namespace {

Sample reading(const char* value, const char* function = "DC", const char* unit = "V",
               const char* autoText = "AUTO", const char* judge = "") {
    Sample r;
    r.ValueText = value;
    r.FunctionText = function;
    r.UnitText = unit;
    r.AutoText = autoText;
    r.JudgeText = judge;
    r.NumericValue = QString::fromLatin1(value).remove(QLatin1Char('.')).toDouble();
    return r;
}

// The recorder with a table, a model and a chart stand-in that pages every
// 100 points.
struct Bench {
    ReadingsTable table;
    ReadingsModel model{table};
    FixedClock clock;
    std::vector<double> points;
    std::vector<int> pagesShown;
    int clears = 0;
    Recorder recorder{model, clock, chart()};

    Recorder::Chart chart() {
        Recorder::Chart c;
        c.addValue = [this](double v) {
            points.push_back(v);
            return int(points.size() / 100) + 1;
        };
        c.clearChart = [this] {
            ++clears;
            points.clear();
            return 1;
        };
        c.showPage = [this](int page) { pagesShown.push_back(page); };
        return c;
    }

    void sample(const Sample& r, int times = 1) {
        for (int i = 0; i < times; ++i)
            recorder.INDataToTable(r);
    }
    std::int32_t no(std::int64_t row) const { return table.integer(row, Field::no); }
};

QString describeNumbers(const ReadingsTable& table) {
    QStringList numbers;
    for (std::int64_t i = 0; i < table.rowCount(); ++i)
        numbers << QString::number(table.integer(i, Field::no));
    return numbers.join(QLatin1Char(','));
}

} // namespace

class RecorderTest : public QObject {
    Q_OBJECT
private slots:
    void repeatsAreSkippedAndLeaveGapsInNumbers();
    void whatCountsAsARepeat_data();
    void whatCountsAsARepeat();
    void rowHoldsTheReadingAtTheSample();
    void limitStopsRecordingAndRaisingItResumes();
    void limitBelowRecordedRowsStopsWithoutRemovingRows();
    void samplesBeforeTheFirstFrame_data();
    void samplesBeforeTheFirstFrame();
    void closeDataEmptiesTableAndChartAndRestartsNumbering();
    void closeDataKeepsTheLastKey();
    void rowsFromFilesDoNotCount();
    void timeIsFormattedWithTheSeparator_data();
    void timeIsFormattedWithTheSeparator();
    void countIsRoundedAndHeldToThirtyTwoBits_data();
    void countIsRoundedAndHeldToThirtyTwoBits();
    void samplingPeriodTextsNeedingRepair_data();
    void samplingPeriodTextsNeedingRepair();
};

void RecorderTest::repeatsAreSkippedAndLeaveGapsInNumbers() {
    Bench b;
    b.recorder.setRepeatSet(false);
    b.sample(reading("1.234"), 5);
    QCOMPARE(b.table.rowCount(), std::int64_t(1));
    QCOMPARE(b.recorder.RecordNo(), 6);
    QCOMPARE(b.recorder.RecordedRows(), 1);
    b.sample(reading("1.235"));
    QVERIFY2(
        describeNumbers(b.table) == QLatin1String("1,6"),
        qPrintable(QStringLiteral("numbers: expected 1,6, got %1").arg(describeNumbers(b.table))));
    QCOMPARE(b.points.size(), std::size_t(2));
    QCOMPARE(b.recorder.LastRecordKey(), std::string("1.235DCVAUTO"));

    // Ticked again: every sample is a row.
    b.recorder.setRepeatSet(true);
    b.sample(reading("1.235"), 3);
    QCOMPARE(describeNumbers(b.table), QStringLiteral("1,6,7,8,9"));
}

void RecorderTest::whatCountsAsARepeat_data() {
    QTest::addColumn<bool>("repeatSet");
    QTest::addColumn<QString>("changed");
    QTest::addColumn<int>("expectedRows");
    for (bool repeatSet : {false, true}) {
        const char* mode = repeatSet ? "Repeat ticked, " : "Repeat unticked, ";
        const int differs = 2;
        const int same = repeatSet ? 2 : 1;
        QTest::addRow("%snothing", mode) << repeatSet << "nothing" << same;
        QTest::addRow("%sverdict only", mode) << repeatSet << "verdict" << same;
        QTest::addRow("%sauto-range only", mode) << repeatSet << "auto" << differs;
        QTest::addRow("%svalue", mode) << repeatSet << "value" << differs;
        QTest::addRow("%sfunction", mode) << repeatSet << "function" << differs;
        QTest::addRow("%sunit", mode) << repeatSet << "unit" << differs;
    }
}

void RecorderTest::whatCountsAsARepeat() {
    QFETCH(bool, repeatSet);
    QFETCH(QString, changed);
    QFETCH(int, expectedRows);
    Bench b;
    b.recorder.setRepeatSet(repeatSet);
    Sample r = reading("0.500", "AC", "mV", "AUTO", "pass");
    b.sample(r);
    if (changed == QLatin1String("verdict"))
        r.JudgeText = "Fail";
    else if (changed == QLatin1String("auto"))
        r.AutoText = "";
    else if (changed == QLatin1String("value"))
        r.ValueText = "0.501";
    else if (changed == QLatin1String("function"))
        r.FunctionText = "DC";
    else if (changed == QLatin1String("unit"))
        r.UnitText = "V";
    b.sample(r);
    QVERIFY2(b.table.rowCount() == expectedRows,
             qPrintable(QStringLiteral("changed %1: expected %2 rows, got %3")
                            .arg(changed)
                            .arg(expectedRows)
                            .arg(b.table.rowCount())));
    QCOMPARE(b.recorder.RecordNo(), 3);
    QCOMPARE(int(b.points.size()), expectedRows);
}

void RecorderTest::rowHoldsTheReadingAtTheSample() {
    Bench b;
    b.clock.time = QTime(21, 7, 59);
    b.clock.separator = QStringLiteral(".");
    Sample r = reading("-12.34", "OHM", "k*", "", "Fail");
    r.NumericValue = -1234;
    b.sample(r);
    QCOMPARE(b.table.rowCount(), std::int64_t(1));
    const ReadingRow row = b.table.row(0);
    QCOMPARE(row.no, 1);
    QCOMPARE(row.time, QStringLiteral("21.07.59"));
    QCOMPARE(row.dcac, QStringLiteral("OHM"));
    QCOMPARE(row.value, QStringLiteral("-12.34"));
    QCOMPARE(row.unit, QStringLiteral("k*"));
    QCOMPARE(row.judge, QStringLiteral("Fail"));
    QCOMPARE(row.nval, -1234);
    QCOMPARE(row.nullMask, std::uint8_t(0));
    QCOMPARE(b.points, std::vector<double>{-1234});
    QCOMPARE(b.pagesShown, std::vector<int>{1});

    // The second sample takes what the reading holds then.
    b.clock.time = QTime(21, 8, 0);
    r.ValueText = "-12.35";
    r.JudgeText = "pass";
    b.sample(r);
    QCOMPARE(b.table.text(1, Field::time), QStringLiteral("21.08.00"));
    QCOMPARE(b.table.text(1, Field::value), QStringLiteral("-12.35"));
    QCOMPARE(b.table.text(1, Field::judge), QStringLiteral("pass"));
    QCOMPARE(b.table.text(0, Field::judge), QStringLiteral("Fail"));
}

void RecorderTest::limitStopsRecordingAndRaisingItResumes() {
    Bench b;
    b.recorder.setRecordLimit(1000);
    for (int i = 0; i < 1000; ++i)
        b.sample(reading(QByteArray::number(i).constData()));
    QCOMPARE(b.table.rowCount(), std::int64_t(1000));
    const std::size_t pages = b.pagesShown.size();

    b.sample(reading("5"), 3);
    QCOMPARE(b.table.rowCount(), std::int64_t(1000));
    QCOMPARE(b.recorder.RecordNo(), 1001);
    QCOMPARE(b.recorder.RecordedRows(), 1000);
    QCOMPARE(b.points.size(), std::size_t(1000));
    QCOMPARE(b.pagesShown.size(), pages);
    QCOMPARE(b.model.pendingRows() + b.model.rowCount(), std::int64_t(1000));

    b.recorder.setRecordLimit(5000);
    b.sample(reading("6"));
    QCOMPARE(b.table.rowCount(), std::int64_t(1001));
    QCOMPARE(b.no(1000), 1001);
    QCOMPARE(b.recorder.RecordNo(), 1002);
}

void RecorderTest::limitBelowRecordedRowsStopsWithoutRemovingRows() {
    Bench b;
    b.sample(reading("1"), 30);
    b.recorder.setRecordLimit(10);
    b.sample(reading("2"));
    QCOMPARE(b.table.rowCount(), std::int64_t(30));
    QCOMPARE(b.recorder.RecordedRows(), 30);
    QCOMPARE(b.recorder.RecordNo(), 31);
}

void RecorderTest::samplesBeforeTheFirstFrame_data() {
    QTest::addColumn<bool>("repeatSet");
    QTest::addColumn<int>("expectedRows");
    QTest::newRow("Repeat ticked: rows of empty texts") << true << 3;
    QTest::newRow("Repeat unticked: empty key equals the empty last key") << false << 0;
}

void RecorderTest::samplesBeforeTheFirstFrame() {
    QFETCH(bool, repeatSet);
    QFETCH(int, expectedRows);
    Bench b;
    b.recorder.setRepeatSet(repeatSet);
    b.sample(Sample{}, 3);
    QCOMPARE(b.table.rowCount(), std::int64_t(expectedRows));
    QCOMPARE(b.recorder.RecordNo(), 4);
    QCOMPARE(int(b.points.size()), expectedRows);
    for (std::int64_t i = 0; i < b.table.rowCount(); ++i) {
        const ReadingRow row = b.table.row(i);
        QCOMPARE(row.no, std::int32_t(i + 1));
        QCOMPARE(row.time, QStringLiteral("09:05:03"));
        QVERIFY(row.dcac.isEmpty() && row.value.isEmpty() && row.unit.isEmpty() &&
                row.judge.isEmpty());
        QCOMPARE(row.nval, 0);
        QCOMPARE(row.nullMask, std::uint8_t(0));
    }
}

void RecorderTest::closeDataEmptiesTableAndChartAndRestartsNumbering() {
    Bench b;
    b.sample(reading("3.3"), 250);
    b.model.refresh();
    QCOMPARE(b.model.rowCount(), 250);
    b.pagesShown.clear();

    b.recorder.closeData();
    QCOMPARE(b.clears, 1);
    QCOMPARE(b.pagesShown, std::vector<int>{1});
    QCOMPARE(b.table.rowCount(), std::int64_t(0));
    QCOMPARE(b.model.rowCount(), 0);
    QCOMPARE(b.recorder.RecordNo(), 1);
    QCOMPARE(b.recorder.RecordedRows(), 0);

    // On an empty table the chart is reset all the same.
    b.recorder.closeData();
    QCOMPARE(b.clears, 2);
    QCOMPARE(b.pagesShown.size(), std::size_t(2));

    b.sample(reading("3.3"));
    QCOMPARE(b.no(0), 1);
}

void RecorderTest::closeDataKeepsTheLastKey() {
    Bench b;
    b.recorder.setRepeatSet(false);
    b.sample(reading("7.77"), 4);
    b.recorder.closeData();
    QCOMPARE(b.recorder.LastRecordKey(), std::string("7.77DCVAUTO"));
    b.sample(reading("7.77"), 2);
    QCOMPARE(b.table.rowCount(), std::int64_t(0));
    b.sample(reading("7.78"));
    QCOMPARE(b.table.rowCount(), std::int64_t(1));
    QCOMPARE(b.no(0), 3);
}

void RecorderTest::rowsFromFilesDoNotCount() {
    Bench b;
    b.recorder.setRecordLimit(1000);
    b.sample(reading("1"), 10);

    std::vector<ReadingRow> loaded(2500);
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        loaded[i].no = std::int32_t(i + 1);
        loaded[i].value = QStringLiteral("L%1").arg(i);
    }
    b.model.appendBatch(loaded);
    QCOMPARE(b.table.rowCount(), std::int64_t(2510));
    QCOMPARE(b.recorder.RecordedRows(), 10);
    QCOMPARE(b.recorder.RecordNo(), 11);
    QCOMPARE(b.points.size(), std::size_t(10));

    for (int i = 0; i < 1000; ++i)
        b.sample(reading(QByteArray::number(i).constData()));
    QCOMPARE(b.recorder.RecordedRows(), 1000);
    QCOMPARE(b.table.rowCount(), std::int64_t(3500));
    QCOMPARE(b.no(2510), 11);
    QCOMPARE(b.points.size(), std::size_t(1000));
}

void RecorderTest::timeIsFormattedWithTheSeparator_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");
    QTest::newRow("midnight") << QTime(0, 0, 0) << ":"
                              << "00:00:00";
    QTest::newRow("before noon") << QTime(9, 5, 3, 999) << ":"
                                 << "09:05:03";
    QTest::newRow("last second") << QTime(23, 59, 59) << ":"
                                 << "23:59:59";
    QTest::newRow("dot") << QTime(13, 4, 0) << "."
                         << "13.04.00";
    QTest::newRow("invalid time") << QTime() << ":"
                                  << "";
}

void RecorderTest::timeIsFormattedWithTheSeparator() {
    QFETCH(QTime, time);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    QCOMPARE(Recorder::formatTime(time, separator), expected);
}

void RecorderTest::countIsRoundedAndHeldToThirtyTwoBits_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << 0.0 << 0;
    QTest::newRow("full scale") << 40000.0 << 40000;
    QTest::newRow("negative full scale") << -40000.0 << -40000;
    QTest::newRow("rounded up") << 12.5 << 13;
    QTest::newRow("rounded down") << -7.4 << -7;
    QTest::newRow("too large") << 1e12 << std::numeric_limits<int>::max();
    QTest::newRow("too small") << -1e12 << std::numeric_limits<int>::min();
    QTest::newRow("not a number") << std::nan("") << 0;
}

void RecorderTest::countIsRoundedAndHeldToThirtyTwoBits() {
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(Recorder::storedCount(value), expected);
}

void RecorderTest::samplingPeriodTextsNeedingRepair_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("5") << "5" << 5;
    QTest::newRow("leading zero") << "07" << 7;
    QTest::newRow("largest that fits in milliseconds") << "2147483" << 2147483;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("digits then letters") << "5s" << 0;
    QTest::newRow("negative") << "-3" << 0;
    QTest::newRow("milliseconds overflow") << "2147484" << 0;
    QTest::newRow("beyond 32 bits") << "99999999999" << 0;
}

void RecorderTest::samplingPeriodTextsNeedingRepair() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    const int actual = Recorder::samplingPeriodSeconds(text);
    QVERIFY2(
        actual == expected,
        qPrintable(
            QStringLiteral("\"%1\": expected %2, got %3").arg(text).arg(expected).arg(actual)));
}

QTEST_GUILESS_MAIN(RecorderTest)
#include "RecorderTest.moc"
