#include "app/TFCOMM.h"
#include "record/DataFileActions.h"
#include "record/PrintPreview.h"
#include "record/ReadingsModel.h"
#include "record/Recorder.h"
#include "record/ReportActions.h"
#include "view/ChartPanel.h"
#include "view/TrendChart.h"

#include "../link/PseudoTerminal.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace qm45;
using qm45::test::frame;
using qm45::test::PseudoTerminal;
using qm45::test::WindowFixture;

namespace {

// The whole window reading a meter on COM 1, a pseudo-terminal, with the
// clock standing at 09:05:03.
struct MeterOnCom1 : WindowFixture {
    MeterOnCom1() {
        if (pty.isValid())
            ports->setDevice(1, pty.slavePath());
        open();
        child<QPushButton>("COMCon")->click();
    }

    [[nodiscard]] const ReadingsTable& table() const { return window->readings().table(); }
    [[nodiscard]] int gridRows() const { return child<QTableView>("DBGrid1")->model()->rowCount(); }

    // Writes the frames and waits until the table has grown by `rows`.
    [[nodiscard]] bool record(const QByteArray& frames, int rows) {
        const std::int64_t want = table().rowCount() + rows;
        if (!pty.writeToMaster(frames))
            return false;
        return QTest::qWaitFor([&] { return table().rowCount() == want; }, 5000);
    }

    PseudoTerminal pty;
};

QString cell(const ReadingsTable& table, std::int64_t row, Field field) {
    return table.text(row, field);
}

} // namespace

class RecordingEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void framesBecomeRowsGridLinesAndChartPoints();
    void repeatOffSkipsEqualReadingsAndTheMenuLimitStopsRecording();
    void savedTableLoadsBackAfterCloseData();
    void previewPrintsTheRowsOfItsOpeningAndFreezesTheGrid();
    void timedSamplingRecordsOnlyFramesThatCame();
};

void RecordingEndToEndTest::framesBecomeRowsGridLinesAndChartPoints() {
    MeterOnCom1 m;
    QVERIFY(m.pty.isValid());
    auto* chart = m.child<TrendChart>("Chtshow");
    QCOMPARE(chart->leftMinimum(), -40000.0);
    QCOMPARE(chart->leftMaximum(), 40000.0);

    QVERIFY(m.record("\n" + frame("399991101") + frame("123453401") + frame("A00001101"), 3));
    const ReadingsTable& t = m.table();
    QCOMPARE(t.row(0).no, 1);
    QCOMPARE(cell(t, 0, Field::time), QStringLiteral("09:05:03"));
    QCOMPARE(cell(t, 0, Field::dcac), QStringLiteral("DC"));
    QCOMPARE(cell(t, 0, Field::value), QStringLiteral("3.9999"));
    QCOMPARE(cell(t, 0, Field::unit), QStringLiteral("V"));
    QCOMPARE(cell(t, 0, Field::judge), QStringLiteral("pass"));
    QCOMPARE(t.row(0).nval, 39999);
    QCOMPARE(cell(t, 2, Field::value), QStringLiteral(".0L"));
    QCOMPARE(cell(t, 2, Field::judge), QStringLiteral("Fail"));
    QCOMPARE(t.row(2).nval, 40000);

    // Behind the three readings, the chart's placeholder at position 0.
    QCOMPARE(chart->pointCount(), std::int64_t(4));
    QCOMPARE(chart->value(1), 39999.0);
    QCOMPARE(chart->value(3), 40000.0);
    QCOMPARE(m.child<QToolButton>("Bt10")->text(), QStringLiteral("1"));
    // The first reading is a change of unit: the chart draws the series the
    // fill box selects.
    const bool fill = m.child<QCheckBox>("BtFill")->isChecked();
    QCOMPARE(chart->isSeriesActive(TrendChart::kAreaSeries), fill);
    QCOMPARE(chart->isSeriesActive(TrendChart::kLineSeries), !fill);

    QTRY_COMPARE(m.gridRows(), 3);
}

void RecordingEndToEndTest::repeatOffSkipsEqualReadingsAndTheMenuLimitStopsRecording() {
    MeterOnCom1 m;
    QVERIFY(m.pty.isValid());
    m.child<QCheckBox>("RepeatSet")->setChecked(false);
    QVERIFY(m.record("\n" + frame("399991101") + frame("399991101") + frame("399981101"), 2));
    QCOMPARE(m.table().row(1).no, 3);

    QAction* limit1000 = m.window->findChild<QAction*>(QStringLiteral("N10001"));
    QVERIFY(limit1000);
    limit1000->trigger();
    QCOMPARE(m.window->RecordLimit(), 1000);
    QVERIFY(limit1000->isChecked());
}

void RecordingEndToEndTest::savedTableLoadsBackAfterCloseData() {
    MeterOnCom1 m;
    QVERIFY(m.pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(m.record("\n" + frame("399991101") + frame("123453401"), 2));
    const ReadingRow recorded = m.table().row(1);

    QSignalSpy finished(&m.window->dataFiles(), &DataFileActions::finished);
    const QString path = dir.filePath(QStringLiteral("bench.txt"));
    m.dialogs->nextFile = {path, 0};
    m.child<QToolButton>("saveas")->click();
    QVERIFY(finished.wait(5000));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // header, two rows, nothing after the last CRLF
    QCOMPARE(lines[1], QByteArray("1\t09:05:03\tDC\t3.9999\tV\tpass\r"));

    m.dialogs->answer = Dialogs::Answer::Yes;
    m.child<QToolButton>("RecordNew")->click();
    QCOMPARE(m.dialogs->questions.last(), QStringLiteral("Are you sure to delete the data?"));
    QCOMPARE(m.table().rowCount(), std::int64_t(0));
    QCOMPARE(m.child<TrendChart>("Chtshow")->pointCount(), std::int64_t(1));

    m.child<QToolButton>("OpenDataFiles")->click();
    QVERIFY(finished.wait(5000));
    QCOMPARE(m.table().rowCount(), std::int64_t(2));
    const ReadingRow loaded = m.table().row(1);
    QCOMPARE(loaded.no, recorded.no);
    QCOMPARE(loaded.time, recorded.time);
    QCOMPARE(loaded.dcac, recorded.dcac);
    QCOMPARE(loaded.value, recorded.value);
    QCOMPARE(loaded.unit, recorded.unit);
    QCOMPARE(loaded.judge, recorded.judge);
    // The text file has no count column.
    QVERIFY(m.table().isNull(1, Field::nval));
    QTRY_COMPARE(m.gridRows(), 2);
    QVERIFY2(m.dialogs->errors.isEmpty(), qPrintable(m.dialogs->errors.join(QLatin1Char('\n'))));
}

void RecordingEndToEndTest::previewPrintsTheRowsOfItsOpeningAndFreezesTheGrid() {
    MeterOnCom1 m;
    QVERIFY(m.pty.isValid());
    QVERIFY(m.record("\n" + frame("399991101"), 1));
    QTRY_COMPARE(m.gridRows(), 1);

    auto* print = m.child<QToolButton>("BtPrint");
    print->click();
    QPointer<PrintPreview> preview = m.window->report().preview();
    QVERIFY(preview);
    QCOMPARE(preview->pageCount(), std::int64_t(1));
    print->click();
    QCOMPARE(m.window->report().preview(), preview.data());

    // Rows go on into the table; the grid shows them once the preview closes.
    QVERIFY(m.record(frame("399981101") + frame("399971101"), 2));
    QTest::qWait(2 * ReadingsModel::kRefreshIntervalMs);
    QCOMPARE(m.gridRows(), 1);
    preview->close();
    QTRY_VERIFY(!m.window->report().preview());
    QTRY_COMPARE(m.gridRows(), 3);
}

void RecordingEndToEndTest::timedSamplingRecordsOnlyFramesThatCame() {
    MeterOnCom1 m;
    QVERIFY(m.pty.isValid());
    auto* timer1 = m.child<QTimer>("Timer1");
    QSignalSpy ticks(timer1, &QTimer::timeout);
    m.child<QCheckBox>("RecordSI")->setChecked(true);

    // A tick before any frame: nothing recorded, no number used.
    QVERIFY(ticks.wait(3000));
    QCOMPARE(m.table().rowCount(), std::int64_t(0));
    QCOMPARE(m.window->RecordNo(), 1);

    QVERIFY(m.pty.writeToMaster("\n" + frame("399991101")));
    QTRY_COMPARE_WITH_TIMEOUT(m.table().rowCount(), std::int64_t(1), 3000);
    QCOMPARE(cell(m.table(), 0, Field::value), QStringLiteral("3.9999"));
    QCOMPARE(m.table().row(0).no, 1);

    // The meter is quiet: the next tick repeats nothing.
    const int seen = int(ticks.count());
    QVERIFY(QTest::qWaitFor([&] { return ticks.count() > seen; }, 3000));
    QCOMPARE(m.table().rowCount(), std::int64_t(1));
    QCOMPARE(m.window->RecordNo(), 2);
    m.child<QCheckBox>("RecordSI")->setChecked(false);
}

QTEST_MAIN(RecordingEndToEndTest)
#include "RecordingEndToEndTest.moc"
