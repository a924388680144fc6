#include "record/RecorderControls.h"
#include "record/ReadingsModel.h"
#include "record/ReadingsTable.h"
#include "record/RecordClock.h"

#include "../support/FixedClock.h"
#include "record/Recorder.h"
#include "view/Dialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

using namespace qm45;
using qm45::test::FixedClock;

namespace {

// Answers the Close Data question from the script; while the question is
// "open" it runs whatever the test wants to happen meanwhile, as the event
// loop of a real modal box would.
class ScriptedDialogs final : public Dialogs {
public:
    Answer question(QWidget*, const QString& text) override {
        questions << text;
        if (whileQuestionOpen)
            whileQuestionOpen();
        return answer;
    }
    void information(QWidget*, const QString& text) override { others << text; }
    using Dialogs::error;
    void error(QWidget*, const QString& text, const QString&) override { others << text; }
    FileChoice saveFile(QWidget*, const FileRequest&) override { return {}; }
    FileChoice openFile(QWidget*, const FileRequest&) override { return {}; }

    Answer answer = Answer::No;
    std::function<void()> whileQuestionOpen;
    QStringList questions;
    QStringList others;
};

// The recording corner of the main window with its start-up states.
struct Window {
    QWidget client;
    QCheckBox* RepeatSet = new QCheckBox(QStringLiteral("Repeat"), &client);
    QCheckBox* RecordSI = new QCheckBox(QStringLiteral("Sampling Interval           'S"), &client);
    QLineEdit* RecordSITime = new QLineEdit(QStringLiteral("1"), &client);
    QToolButton* RecordNew = new QToolButton(&client);
    QTimer* Timer1 = new QTimer(&client);
    QMenu recordMenu{QStringLiteral("Record")};

    Sample reading;
    ReadingsTable table;
    ReadingsModel model{table};
    FixedClock clock;
    ScriptedDialogs dialogs;
    int chartPoints = 0;
    int chartClears = 0;
    int pageShown = -1;
    Recorder recorder{model, clock, chart()};
    std::unique_ptr<RecorderControls> controls;

    Window() {
        RepeatSet->setChecked(true);
        RecordSITime->setGeometry(120, 0, 25, 20);
        Timer1->setInterval(1000);
        controls = std::make_unique<RecorderControls>(
            RecorderControls::Widgets{RepeatSet, RecordSI, RecordSITime, Timer1, RecordNew},
            recorder, dialogs, &client);
        controls->populateRecordMenu(&recordMenu);
        client.show();
    }

    Recorder::Chart chart() {
        Recorder::Chart c;
        c.addValue = [this](double) { return ++chartPoints / 100 + 1; };
        c.clearChart = [this] {
            ++chartClears;
            chartPoints = 0;
            return 1;
        };
        c.showPage = [this](int page) { pageShown = page; };
        return c;
    }

    // A frame as the window hands it on with timed sampling ticked: the
    // reading changes and the recorder hears of it, nothing is recorded.
    void liveFrame(const char* value) {
        reading.ValueText = value;
        reading.FunctionText = "DC";
        reading.UnitText = "V";
        recorder.frameDecoded(reading);
    }

    void frame(const char* value, int times = 1) {
        reading.ValueText = value;
        reading.FunctionText = "DC";
        reading.UnitText = "V";
        for (int i = 0; i < times; ++i)
            recorder.INDataToTable(reading);
    }
};

QString checkedItems(const QMenu& menu) {
    QStringList names;
    for (const QAction* a : menu.actions()) {
        if (a->isChecked())
            names << a->objectName();
    }
    return names.join(QLatin1Char(','));
}

} // namespace

class RecorderControlsTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithTimerOffAndRepeatsRecorded();
    void periodTextIsRepairedToOne_data();
    void periodTextIsRepairedToOne();
    void periodEditTakesOnlyDigitsAndBackspace_data();
    void periodEditTakesOnlyDigitsAndBackspace();
    void tickingSamplingIntervalRunsTheTimer();
    void timedSamplingTakesOnlyLiveReadings_data();
    void timedSamplingTakesOnlyLiveReadings();
    void recordLimitIsAnnouncedOnce();
    void repeatCheckBoxSetsTheRepeatRule();
    void closeDataAnsweredNoChangesNothing();
    void closeDataAnsweredYesEmptiesRowsTakenWhileAsking();
    void recordMenuSetsTheLimitAndMovesTheCheckMark_data();
    void recordMenuSetsTheLimitAndMovesTheCheckMark();
};

void RecorderControlsTest::startsWithTimerOffAndRepeatsRecorded() {
    Window w;
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.Timer1->interval(), 1000);
    QVERIFY(w.recorder.repeatSet());
    QCOMPARE(w.recorder.RecordLimit(), 10000);
    QCOMPARE(checkedItems(w.recordMenu), QStringLiteral("N100001"));
}

void RecorderControlsTest::periodTextIsRepairedToOne_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<int>("expectedInterval");
    QTest::newRow("5") << "5"
                       << "5" << 5000;
    QTest::newRow("60") << "60"
                        << "60" << 60000;
    QTest::newRow("largest") << "2147483"
                             << "2147483" << 2147483000;
    QTest::newRow("zero") << "0"
                          << "1" << 1000;
    QTest::newRow("emptied") << ""
                             << "1" << 1000;
    QTest::newRow("not a number") << "x1"
                                  << "1" << 1000;
    QTest::newRow("negative, pasted") << "-4"
                                      << "1" << 1000;
    QTest::newRow("oversized") << "2147484"
                               << "1" << 1000;
}

void RecorderControlsTest::periodTextIsRepairedToOne() {
    QFETCH(QString, text);
    QFETCH(QString, expectedText);
    QFETCH(int, expectedInterval);
    Window w;
    w.RecordSITime->setText(QStringLiteral("7"));
    w.RecordSITime->selectAll();
    w.RecordSITime->insert(text); // as a paste would
    QVERIFY2(w.RecordSITime->text() == expectedText,
             qPrintable(QStringLiteral("\"%1\": expected \"%2\", got \"%3\"")
                            .arg(text, expectedText, w.RecordSITime->text())));
    QCOMPARE(w.Timer1->interval(), expectedInterval);
}

void RecorderControlsTest::periodEditTakesOnlyDigitsAndBackspace_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("digits") << "25"
                            << "125";
    QTest::newRow("letters and signs dropped") << "2a-+.,3 "
                                               << "123";
    QTest::newRow("backspace") << "45\b"
                               << "14";
    // Rubbing out the last digit empties the edit, which repairs to "1".
    QTest::newRow("backspace to empty") << "\b"
                                        << "1";
}

void RecorderControlsTest::periodEditTakesOnlyDigitsAndBackspace() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    Window w;
    w.RecordSITime->setFocus();
    w.RecordSITime->end(false);
    for (QChar c : typed) {
        if (c == u'\b')
            QTest::keyClick(w.RecordSITime, Qt::Key_Backspace);
        else
            QTest::keyClicks(w.RecordSITime, QString(c));
    }
    QVERIFY2(w.RecordSITime->text() == expected,
             qPrintable(QStringLiteral("typed \"%1\" after \"1\": expected \"%2\", got \"%3\"")
                            .arg(typed, expected, w.RecordSITime->text())));
    // Keys that type nothing still move the cursor.
    QTest::keyClick(w.RecordSITime, Qt::Key_Home);
    QCOMPARE(w.RecordSITime->cursorPosition(), 0);
}

void RecorderControlsTest::tickingSamplingIntervalRunsTheTimer() {
    Window w;
    w.RecordSITime->setText(QStringLiteral("5"));
    w.RecordSI->click();
    QVERIFY(w.Timer1->isActive());
    QCOMPARE(w.Timer1->interval(), 5000);
    w.RecordSI->click();
    QVERIFY(!w.Timer1->isActive());
    w.RecordSI->setChecked(true);
    QVERIFY(w.Timer1->isActive());
}

void RecorderControlsTest::timedSamplingTakesOnlyLiveReadings_data() {
    QTest::addColumn<bool>("repeat");
    QTest::newRow("Repeat ticked") << true;
    QTest::newRow("Repeat unticked") << false;
}

void RecorderControlsTest::timedSamplingTakesOnlyLiveReadings() {
    QFETCH(bool, repeat);
    Window w;
    w.RepeatSet->setChecked(repeat);
    // A frame before timed sampling begins is old by its first tick.
    w.liveFrame("0.50");
    w.RecordSI->click();

    // No frame yet: no row, no number used.
    w.controls->Timer1Timer();
    w.controls->Timer1Timer();
    QCOMPARE(w.table.rowCount(), std::int64_t(0));
    QCOMPARE(w.recorder.RecordNo(), 1);
    QCOMPARE(w.chartPoints, 0);

    // Frames in the period: one row of the latest reading.
    w.liveFrame("1.00");
    w.liveFrame("1.01");
    w.controls->Timer1Timer();
    QCOMPARE(w.table.rowCount(), std::int64_t(1));
    QCOMPARE(w.table.row(0).value, QStringLiteral("1.01"));
    QCOMPARE(w.table.row(0).no, 1);

    // The meter has gone quiet: its last reading is not repeated.
    w.controls->Timer1Timer();
    w.controls->Timer1Timer();
    QCOMPARE(w.table.rowCount(), std::int64_t(1));
    QCOMPARE(w.recorder.RecordNo(), 2);
    QCOMPARE(w.chartPoints, 1);

    // It is back.
    w.liveFrame("1.02");
    w.controls->Timer1Timer();
    QCOMPARE(w.table.rowCount(), std::int64_t(2));
    QCOMPARE(w.table.row(1).value, QStringLiteral("1.02"));
    QCOMPARE(w.table.row(1).no, 2);

    // The timer itself takes the sample one period after a live frame.
    w.RecordSI->click();
    w.RecordSI->click();
    QElapsedTimer clock;
    clock.start();
    w.liveFrame("1.03");
    QTRY_COMPARE_WITH_TIMEOUT(w.table.rowCount(), std::int64_t(3), 3000);
    QVERIFY2(clock.elapsed() >= 950,
             qPrintable(QStringLiteral("sample after %1 ms").arg(clock.elapsed())));
    QCOMPARE(w.table.row(2).value, QStringLiteral("1.03"));
    w.RecordSI->click();
}

void RecorderControlsTest::recordLimitIsAnnouncedOnce() {
    Window w;
    const auto notice = [](int limit) {
        return QStringLiteral("Recording stopped at %1 rows, the limit chosen in the \"Record\" "
                              "menu. Choose a higher limit there to go on recording.")
            .arg(limit);
    };
    // Delivered through the event loop: once a call queued after the refused
    // samples has run, any box they asked for has been shown.
    const auto settle = [] {
        bool done = false;
        QMetaObject::invokeMethod(
            qApp, [&done] { done = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(done);
    };

    w.controls->N10001Click();
    w.frame("4.00", 999);
    settle();
    QCOMPARE(w.dialogs.others, QStringList());
    w.frame("4.00", 1);
    QCOMPARE(w.table.rowCount(), std::int64_t(1000));
    w.frame("4.01", 50);
    settle();
    QCOMPARE(w.dialogs.others, QStringList{notice(1000)});
    w.frame("4.02", 50);
    settle();
    QCOMPARE(w.dialogs.others.size(), 1);
    QCOMPARE(w.table.rowCount(), std::int64_t(1000));

    // A higher limit: recording goes on, and its end is announced again.
    w.controls->N50001Click();
    w.frame("4.03", 4000);
    QCOMPARE(w.table.rowCount(), std::int64_t(5000));
    w.frame("4.04", 20);
    settle();
    QCOMPARE(w.dialogs.others, (QStringList{notice(1000), notice(5000)}));

    // Rows come from a file: the table changed, the limit still holds.
    w.model.append(w.table.row(0));
    w.frame("4.05", 2);
    settle();
    QCOMPARE(w.dialogs.others, (QStringList{notice(1000), notice(5000), notice(5000)}));

    // After Close Data the table fills up anew.
    w.dialogs.answer = Dialogs::Answer::Yes;
    w.RecordNew->click();
    w.frame("4.06", 5000);
    settle();
    QCOMPARE(w.dialogs.others.size(), 3);
    w.frame("4.07", 3);
    settle();
    QCOMPARE(w.dialogs.others.size(), 4);
    QCOMPARE(w.dialogs.others.last(), notice(5000));
}

void RecorderControlsTest::repeatCheckBoxSetsTheRepeatRule() {
    Window w;
    w.RepeatSet->click();
    QVERIFY(!w.recorder.repeatSet());
    w.frame("1.00", 3);
    QCOMPARE(w.table.rowCount(), std::int64_t(1));
    w.RepeatSet->click();
    w.frame("1.00", 3);
    QCOMPARE(w.table.rowCount(), std::int64_t(4));
}

void RecorderControlsTest::closeDataAnsweredNoChangesNothing() {
    Window w;
    w.frame("2.00", 120);
    w.dialogs.answer = Dialogs::Answer::No;
    w.dialogs.whileQuestionOpen = [&w] { w.frame("2.01", 2); };
    w.RecordNew->click();
    QCOMPARE(w.dialogs.questions, QStringList{QStringLiteral("Are you sure to delete the data?")});
    QCOMPARE(w.table.rowCount(), std::int64_t(122));
    QCOMPARE(w.recorder.RecordNo(), 123);
    QCOMPARE(w.recorder.RecordedRows(), 122);
    QCOMPARE(w.chartClears, 0);
    QCOMPARE(w.chartPoints, 122);
}

void RecorderControlsTest::closeDataAnsweredYesEmptiesRowsTakenWhileAsking() {
    Window w;
    w.frame("3.00", 250);
    w.model.refresh();
    w.dialogs.answer = Dialogs::Answer::Yes;
    w.dialogs.whileQuestionOpen = [&w] {
        w.frame("3.01", 5);
        QTest::qWait(2 * ReadingsModel::kRefreshIntervalMs);
    };
    w.RecordNew->click();
    QCOMPARE(w.dialogs.questions.size(), 1);
    QCOMPARE(w.table.rowCount(), std::int64_t(0));
    QCOMPARE(w.model.rowCount(), 0);
    QCOMPARE(w.recorder.RecordNo(), 1);
    QCOMPARE(w.recorder.RecordedRows(), 0);
    QCOMPARE(w.chartClears, 1);
    QCOMPARE(w.pageShown, 1);

    // Yes on an empty table: the chart is reset, the counters start again.
    w.frame("3.02", 2);
    w.dialogs.whileQuestionOpen = nullptr;
    w.RecordNew->click();
    w.RecordNew->click();
    QCOMPARE(w.chartClears, 3);
    QCOMPARE(w.recorder.RecordNo(), 1);
    QCOMPARE(w.table.rowCount(), std::int64_t(0));
}

void RecorderControlsTest::recordMenuSetsTheLimitAndMovesTheCheckMark_data() {
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("limit");
    QTest::newRow("1000") << 0 << "N10001"
                          << "1000" << 1000;
    QTest::newRow("5000") << 1 << "N50001"
                          << "5000" << 5000;
    QTest::newRow("10000") << 2 << "N100001"
                           << "10000" << 10000;
    QTest::newRow("50000") << 3 << "N500001"
                           << "50000" << 50000;
    QTest::newRow("100000") << 4 << "N1000001"
                            << "100000" << 100000;
    QTest::newRow("limitless") << 5 << "limitess"
                               << "limitless" << 10000000;
}

void RecorderControlsTest::recordMenuSetsTheLimitAndMovesTheCheckMark() {
    QFETCH(int, item);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, limit);
    Window w;
    QCOMPARE(w.recordMenu.actions().size(), 6);
    // Start from another item so that every choice moves the mark.
    w.controls->limitAction(item == 0 ? 5 : 0)->trigger();
    QAction* action = w.recordMenu.actions().at(item);
    QCOMPARE(action->objectName(), name);
    QCOMPARE(action->text(), caption);
    action->trigger();
    QCOMPARE(w.recorder.RecordLimit(), limit);
    QCOMPARE(checkedItems(w.recordMenu), name);

    // The handlers do the same as the items.
    const std::function<void()> handlers[] = {
        [&w] { w.controls->N10001Click(); },   [&w] { w.controls->N50001Click(); },
        [&w] { w.controls->N100001Click(); },  [&w] { w.controls->N500001Click(); },
        [&w] { w.controls->N1000001Click(); }, [&w] { w.controls->limitessClick(); }};
    w.controls->limitAction(item == 0 ? 5 : 0)->trigger();
    handlers[item]();
    QCOMPARE(w.recorder.RecordLimit(), limit);
    QCOMPARE(checkedItems(w.recordMenu), name);
}

QTEST_MAIN(RecorderControlsTest)
#include "RecorderControlsTest.moc"
