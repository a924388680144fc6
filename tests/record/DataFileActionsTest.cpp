#include "../support/FakeDialogs.h"
#include "../support/FixedClock.h"
#include "DataFileSizeLimit.h"
#include "DataFileTestRows.h"

#include "record/DataFileActions.h"
#include "record/DataFiles.h"
#include "record/ReadingsModel.h"
#include "record/Recorder.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

using namespace qm45;
using namespace datafiletest;

namespace {

QString fixture(const char* name) {
    return QFINDTESTDATA(QStringLiteral("fixtures/") + QLatin1String(name));
}

QString recordedRow(int i) {
    return QStringLiteral("%1|10:41:07|DC|1.2345|V|pass|%1").arg(i);
}

// The window's side of the wiring: table, grid model, dialogs, error report.
struct Window {
    ReadingsTable table;
    ReadingsModel model{table};
    FakeDialogs dialogs;
    QStringList reportedErrors;
    std::unique_ptr<DataFileActions> actions = std::make_unique<DataFileActions>(
        model, dialogs, nullptr, [this](const QString& text) { reportedErrors << text; });

    void record(int rows, int first = 1) {
        for (int i = first; i < first + rows; ++i)
            model.append(rowFrom(recordedRow(i)));
        model.refresh();
    }
    void choose(const QString& path) { dialogs.nextFile = {path, 0}; }
    [[nodiscard]] bool waitUntilFinished() {
        QSignalSpy finished(actions.get(), &DataFileActions::finished);
        return !actions->busy() || finished.wait(60000);
    }
};

// The recorder on the window's model, as the meter drives it; the chart keeps
// the values it is given.
struct Meter {
    explicit Meter(ReadingsModel& model) : recorder(model, clock, chart()) {}

    // Frames whose values count on from the last one.
    void frames(int count) {
        for (int i = 0; i < count; ++i) {
            ++value;
            reading.ValueText = std::to_string(value);
            reading.NumericValue = value;
            recorder.INDataToTable(reading);
        }
    }
    Recorder::Chart chart() {
        Recorder::Chart c;
        c.addValue = [this](double v) {
            plotted << int(v);
            return 1;
        };
        c.clearChart = [this] {
            plotted.clear();
            return 1;
        };
        return c;
    }

    Sample reading{{"", 0, "DC", "V", ""}, "pass"};
    qm45::test::FixedClock clock;
    QList<int> plotted;
    int value = 0;
    Recorder recorder;
};

QString meterRow(int no, int value) {
    return QStringLiteral("%1|09:05:03|DC|%2|V|pass|%2").arg(no).arg(value);
}

// A worker that waits, once it has begun, until the test lets it go on, so
// that rows can be recorded while a file is being read.
struct HeldWorker {
    QSemaphore started;
    QSemaphore go;
    // Let go at the end whatever happened, or closing the window would wait.
    ~HeldWorker() { go.release(1000); }

    DataFileActions::FileWork work() {
        DataFileActions::FileWork w;
        w.load = [this](const QString& fileName, DataFileProgress* progress) {
            started.release();
            go.acquire();
            return loadDataFile(fileName, progress);
        };
        return w;
    }
};

int lineCount(const QString& path) {
    return int(fileBytes(path).count("\r\n"));
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class DataFileActionsTest : public QObject {
    Q_OBJECT
private slots:
    void dialogsOfferTheTwoFormatsAndRememberTheLastChoice();
    void cancelledDialogDoesNothing();
    void textSaveFreezesTheGridAndReportsSuccess();
    void failedSaveShowsOnlyItsFailure_data();
    void failedSaveShowsOnlyItsFailure();
    void xmlSaveThatSucceedsShowsNothing();
    void saveWritesTheRowsPresentWhenItBegan();
    void textLoadAppendsItsRowsAsOneInsertion();
    void failedLoadKeepsTheRowsBeforeItAndSaysSo();
    void xmlLoadReplacesTheTable();
    void clickWhileAFileIsBusyDoesNothing();
    void closingDuringASaveFinishesTheFile();
    void closingDuringALoadLeavesTheTable();
    void rowsRecordedDuringALoadAreKept_data();
    void rowsRecordedDuringALoadAreKept();
    void workerExceptionEndsAsAFailure_data();
    void workerExceptionEndsAsAFailure();
    void saveDialogOpensInTheLastFolderWithAnEmptyName();
};

void DataFileActionsTest::dialogsOfferTheTwoFormatsAndRememberTheLastChoice() {
    QTemporaryDir dir;
    Window w;
    const QStringList filters{QStringLiteral("Excel File(*.xls)"),
                              QStringLiteral("Txt File(*.txt)")};
    const QString saved = dir.filePath(QStringLiteral("run.xls"));
    const QString opened = fixture("null-in-no.txt");

    w.choose(saved);
    w.actions->saveasClick();
    QVERIFY(w.waitUntilFinished());
    w.choose(opened);
    w.actions->SpeedButton2Click();
    QVERIFY(w.waitUntilFinished());
    w.choose(QString());
    w.actions->saveasClick();
    w.actions->SpeedButton2Click();

    QCOMPARE(w.dialogs.fileRequests.size(), 4);
    const auto& firstSave = w.dialogs.fileRequests[0];
    const auto& firstOpen = w.dialogs.fileRequests[1];
    QCOMPARE(firstSave.filters, filters);
    QCOMPARE(firstSave.defaultSuffix, QStringLiteral("xls"));
    QCOMPARE(firstSave.initialPath, QString());
    QCOMPARE(firstOpen.filters, filters);
    QCOMPARE(firstOpen.defaultSuffix, QString());
    // The save dialog starts without a name, in the last folder; the open
    // dialog keeps the last name.
    QCOMPARE(w.dialogs.fileRequests[2].initialPath, QString());
    QCOMPARE(w.dialogs.fileRequests[2].directory, dir.path());
    QCOMPARE(w.dialogs.fileRequests[3].initialPath, opened);
}

void DataFileActionsTest::cancelledDialogDoesNothing() {
    Window w;
    w.record(2);
    QSignalSpy busy(w.actions.get(), &DataFileActions::busyChanged);
    w.choose(QString());
    w.actions->saveasClick();
    w.actions->SpeedButton2Click();
    QVERIFY(!w.model.isFrozen());
    QCOMPARE(busy.count(), 0);
    QCOMPARE(w.table.rowCount(), std::int64_t(2));
    QCOMPARE(w.dialogs.informations + w.dialogs.errors + w.reportedErrors, QStringList());
}

void DataFileActionsTest::textSaveFreezesTheGridAndReportsSuccess() {
    QTemporaryDir dir;
    Window w;
    QProgressBar bar;
    w.actions->setProgressBar(&bar);
    w.record(3);
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    w.choose(path);

    w.actions->saveasClick();
    QVERIFY(w.actions->busy());
    QVERIFY(w.model.isFrozen());
    QVERIFY(w.waitUntilFinished());

    QVERIFY(!w.model.isFrozen());
    QVERIFY(bar.isHidden());
    QCOMPARE(w.dialogs.informations,
             QStringList{"save table to specified file: " + path + " Scuss!"});
    QCOMPARE(w.dialogs.errors, QStringList());
    QCOMPARE(fileBytes(path), QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                         "1\t10:41:07\tDC\t1.2345\tV\tpass\r\n"
                                         "2\t10:41:07\tDC\t1.2345\tV\tpass\r\n"
                                         "3\t10:41:07\tDC\t1.2345\tV\tpass\r\n"));
}

void DataFileActionsTest::failedSaveShowsOnlyItsFailure_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("halfWay");
    QTest::newRow("text, folder missing") << "missing/run.xls" << false;
    QTest::newRow("text, fails half-way") << "run.xls" << true;
    QTest::newRow("XML, folder missing") << "missing/run.xml" << false;
    QTest::newRow("XML, fails half-way") << "run.xml" << true;
}

void DataFileActionsTest::failedSaveShowsOnlyItsFailure() {
    QFETCH(QString, fileName);
    QFETCH(bool, halfWay);
    QTemporaryDir dir;
    Window w;
    w.record(halfWay ? 20000 : 3);
    const QString path = dir.filePath(fileName);
    const QByteArray oldBytes = "kept\r\n";
    if (halfWay)
        writeFile(path, oldBytes);
    w.choose(path);
    {
        DataFileSizeLimit limit(halfWay ? 64 * 1024 : RLIM_INFINITY);
        w.actions->saveasClick();
        QVERIFY(w.waitUntilFinished());
    }

    QVERIFY(!w.model.isFrozen());
    QCOMPARE(w.dialogs.informations, QStringList());
    if (fileName.endsWith(QLatin1String(".xml"))) {
        QCOMPARE(w.dialogs.errors, QStringList());
        QCOMPARE(w.reportedErrors.size(), 1);
        QVERIFY2(w.reportedErrors[0].contains(path), qPrintable(w.reportedErrors[0]));
    } else {
        QCOMPARE(w.dialogs.errors, QStringList{"Could not save table to specified file: " + path});
        QCOMPARE(w.reportedErrors, QStringList());
    }
    if (halfWay)
        QCOMPARE(fileBytes(path), oldBytes);
}

void DataFileActionsTest::xmlSaveThatSucceedsShowsNothing() {
    QTemporaryDir dir;
    Window w;
    w.record(3);
    const QString path = dir.filePath(QStringLiteral("run.xml"));
    w.choose(path);
    w.actions->saveasClick();
    QVERIFY(w.waitUntilFinished());
    QCOMPARE(w.dialogs.informations + w.dialogs.errors + w.reportedErrors, QStringList());
    QVERIFY(fileBytes(path).startsWith("<?xml"));
}

void DataFileActionsTest::saveWritesTheRowsPresentWhenItBegan() {
    QTemporaryDir dir;
    Window w;
    w.record(100000);
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    w.choose(path);
    w.actions->saveasClick();
    // Recording goes on while the file is written.
    w.record(5, 100001);
    QVERIFY(w.waitUntilFinished());

    QCOMPARE(lineCount(path), 1 + 100000);
    QCOMPARE(w.model.rowCount(), 100005);
}

void DataFileActionsTest::textLoadAppendsItsRowsAsOneInsertion() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    QByteArray bytes = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    for (int i = 1; i <= 1000; ++i)
        bytes += QByteArray::number(i) + "\t10:41:07\tDC\t1.2345\tV\tpass\r\n";
    writeFile(path, bytes);
    Window w;
    w.record(2, 5001);
    QSignalSpy inserted(&w.model, &QAbstractItemModel::rowsInserted);

    w.choose(path);
    w.actions->SpeedButton2Click();
    QVERIFY(w.waitUntilFinished());

    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][1].toInt(), 2);
    QCOMPARE(inserted[0][2].toInt(), 1001);
    QCOMPARE(describe(w.table.row(1001)), QStringLiteral("1000|10:41:07|DC|1.2345|V|pass|<null>"));
    QCOMPARE(w.dialogs.errors, QStringList());
}

void DataFileActionsTest::failedLoadKeepsTheRowsBeforeItAndSaysSo() {
    Window w;
    w.record(1);
    w.choose(fixture("null-in-no.txt"));
    w.actions->SpeedButton2Click();
    QVERIFY(w.waitUntilFinished());

    QCOMPARE(w.dialogs.errors, QStringList{QStringLiteral("Failed to Load File!")});
    QCOMPARE(w.dialogs.errorTitles, QStringList{QStringLiteral("Error")});
    QCOMPARE(w.model.rowCount(), 3);
    QVERIFY(!w.model.isFrozen());
}

void DataFileActionsTest::xmlLoadReplacesTheTable() {
    Window w;
    w.record(5);
    QSignalSpy reset(&w.model, &QAbstractItemModel::modelReset);
    w.choose(fixture("packet.xml"));
    w.actions->SpeedButton2Click();
    QVERIFY(w.waitUntilFinished());

    QVERIFY(reset.count() >= 1);
    QCOMPARE(w.model.rowCount(), 3);
    QCOMPARE(describe(w.table.row(0)), QStringLiteral("1|10:41:07|DC|1.2345|k*|pass|12345"));
    QCOMPARE(w.dialogs.errors, QStringList());
}

void DataFileActionsTest::clickWhileAFileIsBusyDoesNothing() {
    QTemporaryDir dir;
    Window w;
    w.record(1000);
    w.choose(dir.filePath(QStringLiteral("run.txt")));
    w.actions->saveasClick();
    // The worker's end reaches the window through the event loop, so the
    // save is still under way here.
    w.actions->saveasClick();
    w.actions->SpeedButton2Click();
    QCOMPARE(w.dialogs.fileRequests.size(), 1);
    QVERIFY(w.waitUntilFinished());
    QCOMPARE(w.dialogs.informations.size(), 1);
}

void DataFileActionsTest::closingDuringASaveFinishesTheFile() {
    QTemporaryDir dir;
    Window w;
    w.record(200000);
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    w.choose(path);
    w.actions->saveasClick();
    w.actions.reset();
    QCOMPARE(lineCount(path), 1 + 200000);
}

void DataFileActionsTest::closingDuringALoadLeavesTheTable() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    {
        ReadingsTable big;
        for (int i = 1; i <= 200000; ++i)
            big.append(rowFrom(recordedRow(i)));
        QVERIFY(saveDataFile(big.snapshot(), path).saved());
    }
    Window w;
    w.record(2);
    w.choose(path);
    w.actions->SpeedButton2Click();
    w.actions.reset();
    QCoreApplication::processEvents();
    QCOMPARE(w.table.rowCount(), std::int64_t(2));
}

void DataFileActionsTest::rowsRecordedDuringALoadAreKept_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("closeDataMeanwhile");
    QTest::addColumn<QStringList>("expected");
    // The file holds rows 11 and 12; the meter records 1 to 3 before the
    // load and goes on while it runs.
    const QString file11 = QStringLiteral("11|10:00:00|AC|5.5|V|Fail|");
    const QString file12 = QStringLiteral("12|10:00:01|AC|5.6|V|Fail|");
    QTest::newRow("text: after the rows there when it began")
        << "run.txt" << false
        << QStringList{meterRow(1, 1), meterRow(2, 2), meterRow(3, 3), file11 + kNull,
                       file12 + kNull, meterRow(4, 4), meterRow(5, 5)};
    QTest::newRow("XML: in place of the rows there when it began")
        << "run.xml" << false
        << QStringList{file11 + "55", file12 + "56", meterRow(4, 4), meterRow(5, 5)};
    // Close Data empties what was there; the file's rows come before the
    // rows recorded since, numbered from 1 again.
    QTest::newRow("text, Close Data meanwhile")
        << "run.txt" << true
        << QStringList{file11 + kNull, file12 + kNull, meterRow(1, 5), meterRow(2, 6)};
}

void DataFileActionsTest::rowsRecordedDuringALoadAreKept() {
    QFETCH(QString, fileName);
    QFETCH(bool, closeDataMeanwhile);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    {
        ReadingsTable file;
        file.append(rowFrom(QStringLiteral("11|10:00:00|AC|5.5|V|Fail|55")));
        file.append(rowFrom(QStringLiteral("12|10:00:01|AC|5.6|V|Fail|56")));
        QVERIFY(saveDataFile(file.snapshot(), path).saved());
    }
    Window w;
    HeldWorker worker;
    w.actions->setFileWork(worker.work());
    Meter meter(w.model);
    meter.frames(3);
    w.model.refresh();
    QSignalSpy inserted(&w.model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&w.model, &QAbstractItemModel::modelReset);

    w.choose(path);
    w.actions->SpeedButton2Click();
    QVERIFY(worker.started.tryAcquire(1, 10000));
    if (closeDataMeanwhile) {
        meter.frames(1);
        meter.recorder.closeData();
    }
    meter.frames(2);
    const QList<int> plotted = meter.plotted;
    worker.go.release();
    QVERIFY(w.waitUntilFinished());

    QCOMPARE(describeAll(w.table), expected);
    QCOMPARE(w.model.rowCount(), int(expected.size()));
    QVERIFY(!w.model.isFrozen());
    QCOMPARE(w.dialogs.errors, QStringList());
    // The recorder and the chart know only the recorded rows, as before.
    QCOMPARE(meter.recorder.RecordedRows(), closeDataMeanwhile ? 2 : 5);
    QCOMPARE(meter.plotted, plotted);
    if (!closeDataMeanwhile && fileName.endsWith(QLatin1String(".txt"))) {
        // The rows the grid showed stay; everything after them is one insertion.
        QCOMPARE(reset.count(), 0);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted[0][1].toInt(), 3);
        QCOMPARE(inserted[0][2].toInt(), 6);
    } else {
        QVERIFY(reset.count() >= 1);
    }
    // Recording goes on after the loaded and kept rows.
    meter.frames(1);
    QCOMPARE(w.table.rowCount(), std::int64_t(expected.size() + 1));
    QCOMPARE(describe(w.table.row(w.table.rowCount() - 1)),
             meterRow(meter.recorder.RecordNo() - 1, meter.value));
}

void DataFileActionsTest::workerExceptionEndsAsAFailure_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("thrown"); // 0 std::runtime_error, 1 std::bad_alloc, 2 an int
    QTest::addColumn<QString>("reason");
    QTest::newRow("text save, std::runtime_error") << "run.txt" << true << 0 << "disk on fire";
    QTest::newRow("XML save, std::bad_alloc") << "run.xml" << true << 1 << "Out of memory.";
    QTest::newRow("XML save, not an exception class")
        << "run.xml" << true << 2 << "Unexpected error.";
    QTest::newRow("text load, std::bad_alloc") << "run.txt" << false << 1 << "";
    QTest::newRow("XML load, std::runtime_error") << "run.xml" << false << 0 << "";
    QTest::newRow("text load, not an exception class") << "run.txt" << false << 2 << "";
}

void DataFileActionsTest::workerExceptionEndsAsAFailure() {
    QFETCH(QString, fileName);
    QFETCH(bool, save);
    QFETCH(int, thrown);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    Window w;
    const auto fail = [thrown] {
        if (thrown == 0)
            throw std::runtime_error("disk on fire");
        if (thrown == 1)
            throw std::bad_alloc();
        throw 42;
    };
    DataFileActions::FileWork work;
    work.save = [fail](const ReadingsTable::Snapshot&, const QString&,
                       DataFileProgress*) -> DataFileSaveResult {
        fail();
        return {};
    };
    work.load = [fail](const QString&, DataFileProgress*) -> DataFileLoadResult {
        fail();
        return {};
    };
    w.actions->setFileWork(work);
    w.record(4);
    const QStringList before = describeAll(w.table);

    w.choose(path);
    if (save)
        w.actions->saveasClick();
    else
        w.actions->SpeedButton2Click();
    QVERIFY(w.waitUntilFinished());

    QVERIFY(!w.actions->busy());
    QVERIFY(!w.model.isFrozen());
    QCOMPARE(describeAll(w.table), before);
    QCOMPARE(w.model.rowCount(), 4);
    QCOMPARE(w.dialogs.informations, QStringList());
    QVERIFY(!QFile::exists(path));
    if (!save) {
        QCOMPARE(w.dialogs.errors, QStringList{QStringLiteral("Failed to Load File!")});
        QCOMPARE(w.reportedErrors, QStringList());
    } else if (fileName.endsWith(QLatin1String(".xml"))) {
        QCOMPARE(w.dialogs.errors, QStringList());
        QCOMPARE(w.reportedErrors.size(), 1);
        QVERIFY2(w.reportedErrors[0].contains(path) && w.reportedErrors[0].contains(reason),
                 qPrintable(w.reportedErrors[0]));
    } else {
        QCOMPARE(w.dialogs.errors, QStringList{"Could not save table to specified file: " + path});
        QCOMPARE(w.reportedErrors, QStringList());
    }
    // The next job runs as usual.
    w.actions->setFileWork({});
    w.choose(dir.filePath(QStringLiteral("after.txt")));
    w.actions->saveasClick();
    QVERIFY(w.waitUntilFinished());
    QCOMPARE(lineCount(dir.filePath(QStringLiteral("after.txt"))), 1 + 4);
}

void DataFileActionsTest::saveDialogOpensInTheLastFolderWithAnEmptyName() {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("runs"));
    QVERIFY(QDir().mkdir(folder));
    ReadingsTable table;
    ReadingsModel model{table};
    MessageBoxDialogs dialogs;
    QStringList reported;
    DataFileActions actions(model, dialogs, nullptr,
                            [&reported](const QString& text) { reported << text; });

    // Answers each file dialog from the event loop it runs: the first saves
    // into the folder (XML: no message follows), the second is looked at.
    int shown = 0;
    QString openedIn;
    QString nameField = QStringLiteral("<no name field>");
    QTimer driver;
    driver.setInterval(10);
    connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->property("answered").toBool())
            return;
        dialog->setProperty("answered", true);
        if (++shown == 1) {
            dialog->selectFile(folder + QStringLiteral("/first.xml"));
            static_cast<QDialog*>(dialog)->accept();
            return;
        }
        openedIn = dialog->directory().absolutePath();
        if (const auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            nameField = edit->text();
        dialog->reject();
    });
    driver.start();

    QSignalSpy finished(&actions, &DataFileActions::finished);
    actions.saveasClick();
    QVERIFY(finished.count() == 1 || finished.wait(10000));
    QVERIFY(QFile::exists(folder + QStringLiteral("/first.xml")));
    actions.saveasClick();

    QCOMPARE(shown, 2);
    QCOMPARE(openedIn, folder);
    QCOMPARE(nameField, QString());
    QCOMPARE(reported, QStringList());
}

QTEST_MAIN(DataFileActionsTest)
#include "DataFileActionsTest.moc"
