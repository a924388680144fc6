#include "record/ReportLayout.h"
#include "ReportExpectations.h"
#include "record/ReadingsTable.h"

#include <QtTest>

#include <cmath>

using namespace qm45;
namespace RL = qm45::ReportLayout;

using namespace report_expect;

namespace {

Placed placed(const RL::Text& t) {
    return {t.text, t.face, t.box.left(), t.box.top(), t.centred};
}

bool near(double a, double b) {
    return std::abs(a - b) < 1e-6;
}

bool same(const Placed& a, const Placed& b) {
    return a.text == b.text && a.face == b.face && near(a.left, b.left) && near(a.top, b.top) &&
           a.centred == b.centred;
}

void verifyPage(const std::vector<RL::Text>& texts, const QList<Placed>& details) {
    const QList<Placed> expected = page(details);
    QCOMPARE(qsizetype(texts.size()), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const Placed actual = placed(texts[std::size_t(i)]);
        QVERIFY2(same(actual, expected[i]),
                 qPrintable(QStringLiteral("text %1: expected %2, got %3")
                                .arg(i)
                                .arg(describe(expected[i]), describe(actual))));
    }
    // The title is centred on the whole band.
    QVERIFY2(near(texts.front().box.width(), 190.0),
             qPrintable(QStringLiteral("title band: expected 190 mm wide, got %1")
                            .arg(texts.front().box.width())));
}

} // namespace

class ReportLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void pageCountFollowsRowCount_data();
    void pageCountFollowsRowCount();
    void pageRowsSplitTheTableInThirtySevens_data();
    void pageRowsSplitTheTableInThirtySevens();
    void oneRowGivesOnePageWithEveryBand();
    void thirtyEighthRowStartsPageTwoWithItsOwnBands();
    void emptyTableGivesBandsWithoutDetailLines();
    void emptyAndNullFieldsLeaveTheirPlaceBlank();
    void unitCodesPrintAsSymbols();
    void textBoxesOfALineDoNotOverlap();
};

void ReportLayoutTest::pageCountFollowsRowCount_data() {
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<qint64>("pages");
    QTest::newRow("empty table") << qint64(0) << qint64(1);
    QTest::newRow("one row") << qint64(1) << qint64(1);
    QTest::newRow("full page") << qint64(37) << qint64(1);
    QTest::newRow("one over") << qint64(38) << qint64(2);
    QTest::newRow("two full pages") << qint64(74) << qint64(2);
    QTest::newRow("75") << qint64(75) << qint64(3);
    QTest::newRow("ten million") << qint64(10'000'000) << qint64(270'271);
}

void ReportLayoutTest::pageCountFollowsRowCount() {
    QFETCH(qint64, rows);
    QFETCH(qint64, pages);
    const std::int64_t actual = RL::pageCount(rows);
    QVERIFY2(
        actual == pages,
        qPrintable(
            QStringLiteral("%1 rows: expected %2 pages, got %3").arg(rows).arg(pages).arg(actual)));
}

void ReportLayoutTest::pageRowsSplitTheTableInThirtySevens_data() {
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<qint64>("page");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<int>("count");
    QTest::newRow("one row") << qint64(1) << qint64(0) << qint64(0) << 1;
    QTest::newRow("38 rows, page 1") << qint64(38) << qint64(0) << qint64(0) << 37;
    QTest::newRow("38 rows, page 2") << qint64(38) << qint64(1) << qint64(37) << 1;
    QTest::newRow("38 rows, page 3 does not exist") << qint64(38) << qint64(2) << qint64(0) << 0;
    QTest::newRow("negative page") << qint64(38) << qint64(-1) << qint64(0) << 0;
    QTest::newRow("empty table") << qint64(0) << qint64(0) << qint64(0) << 0;
    QTest::newRow("10M rows, last page")
        << qint64(10'000'000) << qint64(270'270) << qint64(9'999'990) << 10;
    QTest::newRow("10M rows, next to last")
        << qint64(10'000'000) << qint64(270'269) << qint64(9'999'953) << 37;
}

void ReportLayoutTest::pageRowsSplitTheTableInThirtySevens() {
    QFETCH(qint64, rows);
    QFETCH(qint64, page);
    QFETCH(qint64, first);
    QFETCH(int, count);
    const RL::PageRows actual = RL::pageRows(page, rows);
    QVERIFY2((count == 0 || actual.first == first) && actual.count == count,
             qPrintable(
                 QStringLiteral("%1 rows, page index %2: expected %3 rows from %4, got %5 from %6")
                     .arg(rows)
                     .arg(page)
                     .arg(count)
                     .arg(first)
                     .arg(actual.count)
                     .arg(actual.first)));
}

void ReportLayoutTest::oneRowGivesOnePageWithEveryBand() {
    ReadingsTable table;
    table.append(reading(1, "12:34:56", "DC", "1.234", "V", "pass"));
    const ReadingsTable::Snapshot rows = table.snapshot();
    QCOMPARE(RL::pageCount(rows.rowCount()), std::int64_t(1));
    verifyPage(RL::pageTexts(rows, 0), detailLine(0, "1", "12:34:56", "DC", "1.234", "V", "pass"));
    QVERIFY2(RL::pageTexts(rows, 1).empty(), "a page after the last one has texts");
}

void ReportLayoutTest::thirtyEighthRowStartsPageTwoWithItsOwnBands() {
    // Numbers with gaps and out of order, as after a load from a file: lines
    // follow the table's order, not the numbers.
    ReadingsTable table;
    const auto numberOf = [](int row) { return row == 10 ? 5 : 1000 - 3 * row; };
    for (int row = 0; row < 38; ++row)
        table.append(reading(numberOf(row), "10:00:00", "AC", QString::number(row), "mV", "Fail"));
    const ReadingsTable::Snapshot rows = table.snapshot();
    QCOMPARE(RL::pageCount(rows.rowCount()), std::int64_t(2));

    QList<Placed> first;
    for (int line = 0; line < 37; ++line) {
        first += detailLine(line, QString::number(numberOf(line)), "10:00:00", "AC",
                            QString::number(line), "mV", "Fail");
    }
    verifyPage(RL::pageTexts(rows, 0), first);
    verifyPage(RL::pageTexts(rows, 1),
               detailLine(0, QString::number(numberOf(37)), "10:00:00", "AC", "37", "mV", "Fail"));
}

void ReportLayoutTest::emptyTableGivesBandsWithoutDetailLines() {
    ReadingsTable table;
    verifyPage(RL::pageTexts(table.snapshot(), 0), {});
}

void ReportLayoutTest::emptyAndNullFieldsLeaveTheirPlaceBlank() {
    ReadingsTable table;
    table.append(reading(7, "08:00:01", "", "0.5", "A", "pass"));
    ReadingRow nulls = reading(0, "08:00:02", "DC", "", "", "pass");
    nulls.setNull(Field::no);
    nulls.setNull(Field::value);
    nulls.setNull(Field::unit);
    table.append(nulls);
    verifyPage(RL::pageTexts(table.snapshot(), 0),
               detailLine(0, "7", "08:00:01", "", "0.5", "A", "pass") +
                   detailLine(1, "", "08:00:02", "DC", "", "", "pass"));
}

void ReportLayoutTest::unitCodesPrintAsSymbols() {
    ReadingsTable table;
    table.append(reading(1, "t", "DC", "1", "k*", "pass"));
    table.append(reading(2, "t", "DC", "1", "#", "pass"));
    table.append(reading(3, "t", "DC", "1", "+A", "pass"));
    verifyPage(RL::pageTexts(table.snapshot(), 0),
               detailLine(0, "1", "t", "DC", "1", QStringLiteral("k\u03A9"), "pass") +
                   detailLine(1, "2", "t", "DC", "1", QStringLiteral("\u00B0C"), "pass") +
                   detailLine(2, "3", "t", "DC", "1", QStringLiteral("\u00B5A"), "pass"));
}

void ReportLayoutTest::textBoxesOfALineDoNotOverlap() {
    ReadingsTable table;
    table.append(reading(2147483647, "23:59:59", "DC", "-12345678901234567890", "M*", "Fail"));
    const std::vector<RL::Text> texts = RL::pageTexts(table.snapshot(), 0);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const RL::Text& a = texts[i];
        QVERIFY2(a.box.left() >= 10.0 && a.box.right() <= 200.0 + 1e-9 &&
                     a.box.bottom() <= 287.0 + 1e-9,
                 qPrintable(describe(placed(a)) + QStringLiteral(" reaches into the margins")));
        for (std::size_t j = i + 1; j < texts.size(); ++j) {
            QVERIFY2(!a.box.intersects(texts[j].box),
                     qPrintable(describe(placed(a)) + QStringLiteral(" overlaps ") +
                                describe(placed(texts[j]))));
        }
    }
}

QTEST_GUILESS_MAIN(ReportLayoutTest)
#include "ReportLayoutTest.moc"
