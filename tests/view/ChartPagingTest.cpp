#include "ChartTestWindow.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QtTest>

using namespace qm45;

namespace {

// A paging script: "+250" records 250 readings, F P N L click First, Previous,
// Next and last, "S50" puts "50" in the page-size edit and lets its delay run
// out, C is Close Data.
void run(ChartTestWindow& w, const QString& script) {
    for (const QString& step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step.startsWith(QLatin1Char('+')))
            w.addReadings(step.mid(1).toInt());
        else if (step.startsWith(QLatin1Char('S')))
            w.applyPageSizeText(step.mid(1));
        else if (step == QLatin1String("F"))
            w.Panel19->BtFirst->click();
        else if (step == QLatin1String("P"))
            w.Panel19->BTPrevious->click();
        else if (step == QLatin1String("N"))
            w.Panel19->BtNext->click();
        else if (step == QLatin1String("L"))
            w.Panel19->BTlast->click();
        else if (step == QLatin1String("C"))
            w.panel->ClearChart();
        else
            QFAIL(qPrintable(QStringLiteral("unknown script step %1").arg(step)));
    }
}

QString describe(ChartTestWindow& w) {
    return QStringLiteral(
               "window %1..%2, %3 points, PageCount %4, CurrentPage %5, Browsing %6, Bt10 \"%7\"")
        .arg(w.control().FirstPosition())
        .arg(w.control().LastPosition())
        .arg(w.Chtshow->pointCount())
        .arg(w.control().PageCount())
        .arg(w.control().CurrentPage())
        .arg(w.control().Browsing() ? QStringLiteral("yes") : QStringLiteral("no"))
        .arg(w.Panel19->Bt10->text());
}

} // namespace

class ChartPagingTest : public QObject {
    Q_OBJECT

private slots:
    void startsOnFirstPageFollowing();
    void pagingSequences_data();
    void pagingSequences();
    void pageSizeTextIsRepaired_data();
    void pageSizeTextIsRepaired();
    void hugePageSizeKeepsEveryPointOnOnePage();
    void pageSizeAppliesOnceTwoSecondsAfterLastKeystroke();
    void pageSizeEditTakesOnlyDigitsAndBackspace();
    void showSeriesDrawsExactlyOneSeries();
};

void ChartPagingTest::startsOnFirstPageFollowing() {
    ChartTestWindow w;
    QCOMPARE(w.Chtshow->bottomMinimum(), 1.0);
    QCOMPARE(w.Chtshow->bottomMaximum(), 100.0);
    QCOMPARE(w.Chtshow->pointCount(), 1);
    QCOMPARE(w.Chtshow->value(0), 0.0);
    QCOMPARE(w.control().PageSize(), 100);
    QCOMPARE(w.control().PageCount(), 1);
    QCOMPARE(w.control().CurrentPage(), 1);
    QVERIFY(!w.control().Browsing());
    QCOMPARE(w.Panel19->Bt10->text(), QStringLiteral("1"));
    QVERIFY(!w.Timer2->isActive());
    QVERIFY2(w.Chtshow->isSeriesActive(0) && w.Chtshow->isSeriesActive(1),
             "both series are drawn until the first decoded frame picks one");
}

void ChartPagingTest::pagingSequences_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("currentPage");
    QTest::addColumn<bool>("browsing");

    QTest::newRow("250 readings end on page 3")
        << "+250" << 201.0 << 300.0 << 251 << 3 << 3 << false;
    QTest::newRow("first page of 250") << "+250 F" << 1.0 << 100.0 << 251 << 3 << 1 << true;
    QTest::newRow("next from the first page browses")
        << "+250 F N" << 101.0 << 200.0 << 251 << 3 << 2 << true;
    QTest::newRow("next onto the last page follows")
        << "+250 F N N" << 201.0 << 300.0 << 251 << 3 << 3 << false;
    QTest::newRow("previous browses") << "+250 P" << 101.0 << 200.0 << 251 << 3 << 2 << true;
    QTest::newRow("previous stops at page 1")
        << "+250 P P P" << 1.0 << 100.0 << 251 << 3 << 1 << true;
    QTest::newRow("next on the last page does nothing")
        << "+250 N" << 201.0 << 300.0 << 251 << 3 << 3 << false;
    QTest::newRow("last on the last page does nothing")
        << "+250 L" << 201.0 << 300.0 << 251 << 3 << 3 << false;
    QTest::newRow("last from page 1") << "+250 F L" << 201.0 << 300.0 << 251 << 3 << 3 << false;

    QTest::newRow("readings while browsing raise only the count")
        << "+250 F +50" << 1.0 << 100.0 << 301 << 4 << 1 << true;
    // 300 readings and the placeholder make 4 pages, but no point lies beyond
    // 300: the third forward shift is refused.
    QTest::newRow("last stops where the points end")
        << "+250 F +50 L" << 201.0 << 300.0 << 301 << 4 << 4 << false;

    QTest::newRow("exactly 100 readings: page 2 of 2 on page 1's window")
        << "+100" << 1.0 << 100.0 << 101 << 2 << 2 << false;
    QTest::newRow("the 101st reading moves the window")
        << "+101" << 101.0 << 200.0 << 102 << 2 << 2 << false;
    // After a whole number of pages of readings the page count runs one ahead
    // of the window (the placeholder fills the extra page). Going back must
    // still stop at page 1: the placeholder at position 0 is not a page.
    QTest::newRow("first page after exactly 100 readings")
        << "+100 F" << 1.0 << 100.0 << 101 << 2 << 1 << true;
    QTest::newRow("previous after exactly 100 readings")
        << "+100 P" << 1.0 << 100.0 << 101 << 2 << 1 << true;
    QTest::newRow("next back onto 100 readings")
        << "+100 F N" << 1.0 << 100.0 << 101 << 2 << 2 << false;
    QTest::newRow("first page after exactly 200 readings")
        << "+200 F" << 1.0 << 100.0 << 201 << 3 << 1 << true;
    QTest::newRow("previous twice after exactly 200 readings")
        << "+200 P P" << 1.0 << 100.0 << 201 << 3 << 1 << true;
    QTest::newRow("first page after exactly 300 readings")
        << "+300 F" << 1.0 << 100.0 << 301 << 4 << 1 << true;
    QTest::newRow("previous after exactly 300 readings")
        << "+300 P" << 101.0 << 200.0 << 301 << 4 << 3 << true;
    QTest::newRow("previous to page 1 after exactly 300 readings")
        << "+300 P P P" << 1.0 << 100.0 << 301 << 4 << 1 << true;
    QTest::newRow("first and last after exactly 300 readings")
        << "+300 F L" << 201.0 << 300.0 << 301 << 4 << 4 << false;
    QTest::newRow("first page after exactly 150 readings at page size 50")
        << "+150 S50 F" << 1.0 << 50.0 << 151 << 4 << 1 << true;
    QTest::newRow("clear after exactly 150 readings at page size 50")
        << "+150 S50 C" << 1.0 << 50.0 << 1 << 1 << 1 << false;

    QTest::newRow("one page: first does nothing")
        << "+50 F" << 1.0 << 100.0 << 51 << 1 << 1 << false;
    QTest::newRow("one page: previous does nothing")
        << "+50 P" << 1.0 << 100.0 << 51 << 1 << 1 << false;
    QTest::newRow("one page: next does nothing")
        << "+50 N" << 1.0 << 100.0 << 51 << 1 << 1 << false;
    QTest::newRow("one page: last does nothing")
        << "+50 L" << 1.0 << 100.0 << 51 << 1 << 1 << false;

    QTest::newRow("page size 100 to 50 with 120 readings")
        << "+120 S50" << 101.0 << 150.0 << 121 << 3 << 3 << false;
    QTest::newRow("readings after the page size change")
        << "+120 S50 +30" << 101.0 << 150.0 << 151 << 4 << 4 << false;
    QTest::newRow("page size change ends browsing")
        << "+250 F S50" << 201.0 << 250.0 << 251 << 6 << 6 << false;
    QTest::newRow("same page size changes nothing")
        << "+250 F S100" << 1.0 << 100.0 << 251 << 3 << 1 << true;
    QTest::newRow("page size up to 1000")
        << "+250 S1000" << 1.0 << 1000.0 << 251 << 1 << 1 << false;

    QTest::newRow("clear on page 4 of 4") << "+350 C" << 1.0 << 100.0 << 1 << 1 << 1 << false;
    QTest::newRow("clear on page 4 of 4 after exactly 300 readings")
        << "+300 C" << 1.0 << 100.0 << 1 << 1 << 1 << false;
    QTest::newRow("readings after a clear at exactly 300")
        << "+300 C +150" << 101.0 << 200.0 << 151 << 2 << 2 << false;
    QTest::newRow("next after a clear does nothing")
        << "+350 C N" << 1.0 << 100.0 << 1 << 1 << 1 << false;
    QTest::newRow("last after a clear does nothing")
        << "+350 C L" << 1.0 << 100.0 << 1 << 1 << 1 << false;
    QTest::newRow("clear while browsing follows again")
        << "+250 F C +150" << 101.0 << 200.0 << 151 << 2 << 2 << false;
    QTest::newRow("clear on one page") << "+30 C +5" << 1.0 << 100.0 << 6 << 1 << 1 << false;

    // A page of one position: every reading is a page, and the page count
    // (placeholder included) runs one ahead of the window.
    QTest::newRow("page size 1 follows the newest reading")
        << "+5 S1" << 5.0 << 5.0 << 6 << 6 << 6 << false;
    QTest::newRow("page size 1 with one reading") << "+1 S1" << 1.0 << 1.0 << 2 << 2 << 2 << false;
    QTest::newRow("page size 1, the next reading")
        << "+5 S1 +1" << 6.0 << 6.0 << 7 << 7 << 7 << false;
    QTest::newRow("page size 1, first") << "+5 S1 F" << 1.0 << 1.0 << 6 << 6 << 1 << true;
    QTest::newRow("page size 1, first then next")
        << "+5 S1 F N" << 2.0 << 2.0 << 6 << 6 << 2 << true;
    QTest::newRow("page size 1, previous") << "+5 S1 P" << 4.0 << 4.0 << 6 << 6 << 5 << true;
    QTest::newRow("page size 1, previous to the start")
        << "+5 S1 P P P P P" << 1.0 << 1.0 << 6 << 6 << 1 << true;
    QTest::newRow("page size 1, first then last")
        << "+5 S1 F L" << 5.0 << 5.0 << 6 << 6 << 6 << false;
    QTest::newRow("page size 1 while browsing")
        << "+5 S1 F +3" << 1.0 << 1.0 << 9 << 9 << 1 << true;
    QTest::newRow("page size 1, clear") << "+5 S1 C" << 1.0 << 1.0 << 1 << 1 << 1 << false;
    QTest::newRow("page size 1, clear and record")
        << "+5 S1 C +2" << 2.0 << 2.0 << 3 << 3 << 3 << false;
    QTest::newRow("page size 1 back to 100")
        << "+150 S1 S100" << 101.0 << 200.0 << 151 << 2 << 2 << false;
}

void ChartPagingTest::pagingSequences() {
    QFETCH(QString, script);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, points);
    QFETCH(int, pageCount);
    QFETCH(int, currentPage);
    QFETCH(bool, browsing);

    ChartTestWindow w;
    run(w, script);

    const QString expected =
        QStringLiteral(
            "window %1..%2, %3 points, PageCount %4, CurrentPage %5, Browsing %6, Bt10 \"%5\"")
            .arg(minimum)
            .arg(maximum)
            .arg(points)
            .arg(pageCount)
            .arg(currentPage)
            .arg(browsing ? QStringLiteral("yes") : QStringLiteral("no"));
    const QString actual = describe(w);
    QVERIFY2(
        actual == expected,
        qPrintable(
            QStringLiteral("%1\n   expected: %2\n   actual:   %3").arg(script, expected, actual)));

    // The axis draws that window; a window of one position as a range around it.
    const double margin = minimum == maximum ? 0.5 : 0.0;
    QCOMPARE(w.Chtshow->bottomMinimum(), minimum - margin);
    QCOMPARE(w.Chtshow->bottomMaximum(), maximum + margin);
}

void ChartPagingTest::pageSizeTextIsRepaired_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("textAfter");

    QTest::newRow("empty") << "" << 100 << "100";
    QTest::newRow("letters") << "abc" << 100 << "100";
    QTest::newRow("digits and letters") << "5x" << 100 << "100";
    QTest::newRow("zero") << "0" << 100 << "100";
    QTest::newRow("negative") << "-5" << 100 << "100";
    QTest::newRow("-999999") << "-999999" << 100 << "100";
    QTest::newRow("beyond 32 bits") << "99999999999" << 100 << "100";
    QTest::newRow("exponent") << "1e3" << 100 << "100";
    QTest::newRow("decimal fraction") << "12.5" << 100 << "100";
    QTest::newRow("hexadecimal") << "0x40" << 100 << "100";
    QTest::newRow("plain number") << "75" << 75 << "75";
    QTest::newRow("one") << "1" << 1 << "1";
    QTest::newRow("plus sign") << "+40" << 40 << "+40";
    QTest::newRow("largest 32-bit") << "2147483647" << 2147483647 << "2147483647";
}

void ChartPagingTest::pageSizeTextIsRepaired() {
    QFETCH(QString, text);
    QFETCH(int, pageSize);
    QFETCH(QString, textAfter);

    ChartTestWindow w;
    w.addReadings(120);
    // Away from 100 first, so that falling back to 100 shows.
    w.applyPageSizeText(QStringLiteral("50"));
    QCOMPARE(w.control().PageSize(), 50);

    w.applyPageSizeText(text);
    QVERIFY2(w.control().PageSize() == pageSize,
             qPrintable(QStringLiteral("text \"%1\": page size %2, expected %3")
                            .arg(text)
                            .arg(w.control().PageSize())
                            .arg(pageSize)));
    QCOMPARE(w.Panel19->Maxrecord->text(), textAfter);
    QCOMPARE(w.Panel19->Bt10->text(), QString::number(w.control().CurrentPage()));
    QCOMPARE(w.control().LastPosition() - w.control().FirstPosition() + 1, qint64(pageSize));
    QVERIFY(w.Chtshow->bottomMinimum() < w.Chtshow->bottomMaximum());
    QVERIFY(w.dialogs.errors.isEmpty());
    QVERIFY(w.dialogs.informations.isEmpty());
}

void ChartPagingTest::hugePageSizeKeepsEveryPointOnOnePage() {
    ChartTestWindow w;
    w.window.show();
    w.addReadings(120);
    w.applyPageSizeText(QStringLiteral("2147483647"));
    w.addReadings(5);
    QCOMPARE(w.control().PageCount(), 1);
    QCOMPARE(w.Panel19->Bt10->text(), QStringLiteral("1"));
    QCOMPARE(w.Chtshow->bottomMinimum(), 1.0);
    QCOMPARE(w.Chtshow->bottomMaximum(), 2147483647.0);
    const QImage picture = w.Chtshow->picture();
    QCOMPARE(picture.size(), w.Chtshow->size());
}

void ChartPagingTest::pageSizeAppliesOnceTwoSecondsAfterLastKeystroke() {
    ChartTestWindow w;
    w.addReadings(120);
    QLineEdit* edit = w.Panel19->Maxrecord;
    edit->selectAll();

    QTest::keyClick(edit, Qt::Key_5);
    QTest::qWait(1500);
    QTest::keyClick(edit, Qt::Key_0);
    QElapsedTimer sinceLastKey;
    sinceLastKey.start();
    QCOMPARE(edit->text(), QStringLiteral("50"));

    // Three seconds after the first keystroke: had the delay not restarted,
    // the page size would be 5 by now.
    QTest::qWait(1500);
    QVERIFY2(
        w.control().PageSize() == 100,
        qPrintable(QStringLiteral("page size %1 only 1.5 s after the last keystroke, expected 100")
                       .arg(w.control().PageSize())));
    QTRY_COMPARE_WITH_TIMEOUT(w.control().PageSize(), 50, 2000);
    QVERIFY2(
        sinceLastKey.elapsed() >= 1900,
        qPrintable(
            QStringLiteral("applied %1 ms after the last keystroke").arg(sinceLastKey.elapsed())));
    QCOMPARE(w.Chtshow->bottomMinimum(), 101.0);
    QCOMPARE(w.Chtshow->bottomMaximum(), 150.0);
    QCOMPARE(w.control().PageCount(), 3);
    QCOMPARE(w.Panel19->Bt10->text(), QStringLiteral("3"));
    QVERIFY(!w.control().Browsing());
    QVERIFY2(!w.Timer2->isActive(), "the delay runs once per change, not again after it applied");

    // An emptied edit turns back into "100" after its own delay.
    edit->clear();
    QCOMPARE(w.control().PageSize(), 50);
    QTRY_COMPARE_WITH_TIMEOUT(edit->text(), QStringLiteral("100"), 3000);
    QCOMPARE(w.control().PageSize(), 100);
    QCOMPARE(w.Chtshow->bottomMinimum(), 101.0);
    QCOMPARE(w.Chtshow->bottomMaximum(), 200.0);
}

void ChartPagingTest::pageSizeEditTakesOnlyDigitsAndBackspace() {
    ChartTestWindow w;
    QLineEdit* edit = w.Panel19->Maxrecord;
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("1a2-3.4e5 6+,"));
    QCOMPARE(edit->text(), QStringLiteral("123456"));
    QTest::keyClick(edit, Qt::Key_Enter);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("12345"));
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("2345"));

    QGuiApplication::clipboard()->setText(QStringLiteral("-7"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("2345"));

    // Pasting from the context menu goes past the filter; the delay repairs it.
    edit->selectAll();
    edit->paste();
    QCOMPARE(edit->text(), QStringLiteral("-7"));
    w.panel->Timer2Timer();
    QCOMPARE(edit->text(), QStringLiteral("100"));
    QCOMPARE(w.control().PageSize(), 100);
}

void ChartPagingTest::showSeriesDrawsExactlyOneSeries() {
    ChartTestWindow w;
    QCheckBox* fill = w.Panel19->BtFill;
    QVERIFY(fill->isChecked());

    w.panel->ShowSeries(TrendChart::kLineSeries);
    QVERIFY(!w.Chtshow->isSeriesActive(0) && w.Chtshow->isSeriesActive(1));

    fill->click();
    QVERIFY2(!w.Chtshow->isSeriesActive(0) && w.Chtshow->isSeriesActive(1),
             "Fill unticked: the line");
    fill->click();
    QVERIFY2(w.Chtshow->isSeriesActive(0) && !w.Chtshow->isSeriesActive(1),
             "Fill ticked: the area");

    w.panel->ShowSeries(7);
    QVERIFY2(w.Chtshow->isSeriesActive(0) && !w.Chtshow->isSeriesActive(1),
             "an unknown index changes nothing");

    // Paging goes by whichever series is drawn; both hold every point.
    w.panel->ShowSeries(TrendChart::kLineSeries);
    w.addReadings(150);
    QCOMPARE(w.Chtshow->bottomMinimum(), 101.0);
}

QTEST_MAIN(ChartPagingTest)
#include "ChartPagingTest.moc"
