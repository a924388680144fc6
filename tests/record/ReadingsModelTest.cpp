#include "record/ReadingsModel.h"
#include "record/ReadingsTable.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace qm45;

namespace {

ReadingRow row(std::int32_t no, const QString& unit = QStringLiteral("V")) {
    ReadingRow r;
    r.no = no;
    r.time = QStringLiteral("10:00:00");
    r.dcac = QStringLiteral("DC");
    r.value = QString::number(no);
    r.unit = unit;
    r.judge = QStringLiteral("pass");
    r.nval = no * 10;
    return r;
}

// The first and last row of each insertion the model announced.
QString insertions(const QSignalSpy& spy) {
    QStringList parts;
    for (const QList<QVariant>& args : spy)
        parts << QStringLiteral("%1-%2").arg(args.at(1).toInt()).arg(args.at(2).toInt());
    return parts.join(QLatin1Char(' '));
}

} // namespace

class ReadingsModelTest : public QObject {
    Q_OBJECT
private slots:
    void columnsShowTheirFields_data();
    void columnsShowTheirFields();
    void titlesAndAlignment_data();
    void titlesAndAlignment();
    void nullFieldsShowEmpty();
    void cellsAreReadOnly();
    void appendsAreAnnouncedTogetherAfterTheInterval();
    void frozenModelAnnouncesNothingUntilTheLastThaw();
    void batchIsOneInsertion();
    void clearResetsAtOnceEvenWhenFrozen();
    void rebuildInsertsOrResetsAsTheShownRowsRequire_data();
    void rebuildInsertsOrResetsAsTheShownRowsRequire();
};

void ReadingsModelTest::columnsShowTheirFields_data() {
    QTest::addColumn<QString>("unitCode");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no.") << "V" << int(ReadingsModel::ColNo) << "7";
    QTest::newRow("time") << "V" << int(ReadingsModel::ColTime) << "10:00:00";
    QTest::newRow("Function") << "V" << int(ReadingsModel::ColFunction) << "DC";
    QTest::newRow("value") << "V" << int(ReadingsModel::ColValue) << "7";
    QTest::newRow("unit volt") << "V" << int(ReadingsModel::ColUnit) << "V";
    QTest::newRow("unit kilo-ohm")
        << "k*" << int(ReadingsModel::ColUnit) << QStringLiteral("k\u03A9");
    QTest::newRow("unit Celsius") << "#" << int(ReadingsModel::ColUnit)
                                  << QStringLiteral("\u00B0C");
    QTest::newRow("Judge") << "V" << int(ReadingsModel::ColJudge) << "pass";
}

void ReadingsModelTest::columnsShowTheirFields() {
    QFETCH(QString, unitCode);
    QFETCH(int, column);
    QFETCH(QString, expected);
    ReadingsTable table;
    ReadingsModel model(table);
    model.appendBatch({row(7, unitCode)});
    QCOMPARE(model.columnCount(), 6);
    const QString actual = model.index(0, column).data().toString();
    QVERIFY2(actual == expected,
             qPrintable(QStringLiteral("column %1 with unit \"%2\": expected \"%3\", got \"%4\"")
                            .arg(column)
                            .arg(unitCode, expected, actual)));
    // The table keeps the code; only the display maps it.
    QCOMPARE(table.text(0, Field::unit), unitCode);
}

void ReadingsModelTest::titlesAndAlignment_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("horizontal");
    QTest::newRow("no.") << 0 << "no." << int(Qt::AlignLeft);
    QTest::newRow("time") << 1 << "time" << int(Qt::AlignHCenter);
    QTest::newRow("Function") << 2 << "Function" << int(Qt::AlignLeft);
    QTest::newRow("value") << 3 << "value" << int(Qt::AlignRight);
    QTest::newRow("unit") << 4 << "unit" << int(Qt::AlignRight);
    QTest::newRow("Judge") << 5 << "Judge" << int(Qt::AlignHCenter);
}

void ReadingsModelTest::titlesAndAlignment() {
    QFETCH(int, column);
    QFETCH(QString, title);
    QFETCH(int, horizontal);
    ReadingsTable table;
    ReadingsModel model(table);
    model.appendBatch({row(1)});
    QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), title);
    const auto alignment =
        model.index(0, column).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    QCOMPARE(int(alignment & Qt::AlignHorizontal_Mask), horizontal);
    QCOMPARE(int(alignment & Qt::AlignVertical_Mask), int(Qt::AlignVCenter));
}

void ReadingsModelTest::nullFieldsShowEmpty() {
    ReadingsTable table;
    ReadingsModel model(table);
    ReadingRow r = row(3);
    r.setNull(Field::no);
    r.setNull(Field::value);
    model.appendBatch({r});
    QCOMPARE(model.index(0, ReadingsModel::ColNo).data().toString(), QString());
    QCOMPARE(model.index(0, ReadingsModel::ColValue).data().toString(), QString());
    QCOMPARE(model.index(0, ReadingsModel::ColJudge).data().toString(), QStringLiteral("pass"));
}

void ReadingsModelTest::cellsAreReadOnly() {
    ReadingsTable table;
    ReadingsModel model(table);
    model.appendBatch({row(1)});
    const QModelIndex cell = model.index(0, ReadingsModel::ColValue);
    QVERIFY(!(model.flags(cell) & Qt::ItemIsEditable));
    QVERIFY(!model.setData(cell, QStringLiteral("9")));
    QCOMPARE(cell.data().toString(), QStringLiteral("1"));
}

void ReadingsModelTest::appendsAreAnnouncedTogetherAfterTheInterval() {
    ReadingsTable table;
    ReadingsModel model(table);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy newest(&model, &ReadingsModel::newestRowsShown);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 40; ++i)
        model.append(row(i));
    QCOMPARE(table.rowCount(), std::int64_t(40));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.pendingRows(), std::int64_t(40));

    QTRY_COMPARE(inserted.count(), 1);
    QVERIFY2(clock.elapsed() >= ReadingsModel::kRefreshIntervalMs - 5,
             qPrintable(QStringLiteral("announced after %1 ms").arg(clock.elapsed())));
    QCOMPARE(insertions(inserted), QStringLiteral("0-39"));
    QCOMPARE(newest.count(), 1);
    QCOMPARE(model.rowCount(), 40);

    // Nothing new: no further announcement.
    QTest::qWait(2 * ReadingsModel::kRefreshIntervalMs);
    QCOMPARE(inserted.count(), 1);

    model.append(row(40));
    model.refresh();
    QCOMPARE(insertions(inserted), QStringLiteral("0-39 40-40"));
}

void ReadingsModelTest::frozenModelAnnouncesNothingUntilTheLastThaw() {
    ReadingsTable table;
    ReadingsModel model(table);
    model.appendBatch({row(1), row(2)});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.freeze();
    model.freeze();
    for (int i = 3; i <= 10; ++i)
        model.append(row(i));
    model.refresh();
    QTest::qWait(2 * ReadingsModel::kRefreshIntervalMs);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(model.rowCount(), 2);
    // The rows shown stay readable while frozen.
    QCOMPARE(model.index(1, ReadingsModel::ColNo).data().toString(), QStringLiteral("2"));

    model.thaw();
    QVERIFY(model.isFrozen());
    QCOMPARE(inserted.count(), 0);
    model.thaw();
    QVERIFY(!model.isFrozen());
    QCOMPARE(insertions(inserted), QStringLiteral("2-9"));
    // An extra thaw does not unbalance later freezes.
    model.thaw();
    model.freeze();
    QVERIFY(model.isFrozen());
}

void ReadingsModelTest::batchIsOneInsertion() {
    ReadingsTable table;
    ReadingsModel model(table);
    model.append(row(1));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    std::vector<ReadingRow> rows;
    for (int i = 2; i <= 5000; ++i)
        rows.push_back(row(i));
    model.appendBatch(rows);
    // The pending recorded row joins the batch's single update.
    QCOMPARE(insertions(inserted), QStringLiteral("0-4999"));
    QCOMPARE(model.rowCount(), 5000);
    QCOMPARE(model.index(4999, ReadingsModel::ColNo).data().toString(), QStringLiteral("5000"));
}

void ReadingsModelTest::clearResetsAtOnceEvenWhenFrozen() {
    ReadingsTable table;
    ReadingsModel model(table);
    model.appendBatch({row(1), row(2), row(3)});
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.freeze();
    model.append(row(4));
    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(table.rowCount(), std::int64_t(0));
    model.append(row(5));
    model.thaw();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, ReadingsModel::ColNo).data().toString(), QStringLiteral("5"));
}

void ReadingsModelTest::rebuildInsertsOrResetsAsTheShownRowsRequire_data() {
    QTest::addColumn<bool>("frozen");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<int>("resets");
    // Five rows shown, two more appended but not yet announced.
    QTest::newRow("after the shown rows") << false << 5 << 5 << "5-8" << 0;
    QTest::newRow("after the shown rows, frozen") << true << 5 << 5 << "5-8" << 0;
    QTest::newRow("among the shown rows") << false << 3 << 3 << "" << 1;
    QTest::newRow("in place of shown rows, frozen") << true << 0 << 4 << "0-4" << 1;
}

void ReadingsModelTest::rebuildInsertsOrResetsAsTheShownRowsRequire() {
    QFETCH(bool, frozen);
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(QString, inserted);
    QFETCH(int, resets);
    ReadingsTable table;
    ReadingsModel model(table);
    // Fails the test on any signal that does not match the model's rows.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int i = 1; i <= 5; ++i)
        model.append(row(i));
    model.refresh();
    model.append(row(6));
    model.append(row(7));
    if (frozen)
        model.freeze();
    QSignalSpy insertedSpy(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy resetSpy(&model, &QAbstractItemModel::modelReset);

    model.rebuild(before, after, [](ReadingsTable& into) {
        into.append(row(100));
        into.append(row(101));
    });
    if (frozen)
        model.thaw();

    const int rows = before + 2 + (7 - after);
    QCOMPARE(int(table.rowCount()), rows);
    QCOMPARE(model.rowCount(), rows);
    QCOMPARE(insertions(insertedSpy), inserted);
    QCOMPARE(int(resetSpy.count()), resets);
    QCOMPARE(model.data(model.index(before, ReadingsModel::ColNo)).toString(),
             QStringLiteral("100"));
    QCOMPARE(model.data(model.index(rows - 1, ReadingsModel::ColNo)).toString(),
             QStringLiteral("7"));
}

QTEST_GUILESS_MAIN(ReadingsModelTest)
#include "ReadingsModelTest.moc"
