#include "../support/FakeDialogs.h"
#include "DataFileSizeLimit.h"
#include "DataFileTestRows.h"

#include "record/DataFileActions.h"
#include "record/DataFiles.h"
#include "record/ReadingsModel.h"

#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

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
    QCOMPARE(w.dialogs.fileRequests[2].initialPath, dir.path());
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

QTEST_MAIN(DataFileActionsTest)
#include "DataFileActionsTest.moc"
