#include "record/ReadingsTable.h"

#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace qm45;

namespace {

// A row whose every field can be recomputed from its number, so any torn or
// misplaced row shows.
ReadingRow numberedRow(std::int32_t i) {
    ReadingRow r;
    r.no = i;
    r.time = QStringLiteral("12:%1:%2")
                 .arg(i / 60 % 60, 2, 10, QChar(u'0'))
                 .arg(i % 60, 2, 10, QChar(u'0'));
    r.dcac = (i % 3 == 0) ? QStringLiteral("AC") : QStringLiteral("DC");
    r.value = QString::number(i % 977);
    r.unit = QStringLiteral("mV");
    r.judge = (i % 2 == 0) ? QStringLiteral("pass") : QStringLiteral("Fail");
    r.nval = -i;
    return r;
}

// Empty when the row read back equals the expected one, else what differs.
template <typename Source>
QString mismatch(const Source& source, std::int64_t i, const ReadingRow& expected) {
    const ReadingRow actual = source.row(i);
    if (actual.no != expected.no || actual.nval != expected.nval || actual.time != expected.time ||
        actual.dcac != expected.dcac || actual.value != expected.value ||
        actual.unit != expected.unit || actual.judge != expected.judge || actual.nullMask != 0)
        return QStringLiteral(
                   "row %1: expected no %2 time %3 value %4, got no %5 time %6 value %7 mask %8")
            .arg(i)
            .arg(expected.no)
            .arg(expected.time, expected.value)
            .arg(actual.no)
            .arg(actual.time, actual.value)
            .arg(actual.nullMask);
    return {};
}

template <typename Source> QString mismatch(const Source& source, std::int64_t i) {
    return mismatch(source, i, numberedRow(std::int32_t(i)));
}

const Field kAllFields[] = {Field::no,   Field::time,  Field::dcac, Field::value,
                            Field::unit, Field::judge, Field::nval};

} // namespace

class ReadingsTableTest : public QObject {
    Q_OBJECT
private slots:
    void rowsReadBackAcrossChunkBoundaries();
    void textsAreCutToTwentyCharacters_data();
    void textsAreCutToTwentyCharacters();
    void nullFieldsReadAsNullAndEmpty_data();
    void nullFieldsReadAsNullAndEmpty();
    void emptyTextIsNotNull();
    void fieldLookupIgnoresCase_data();
    void fieldLookupIgnoresCase();
    void readsOutsideTheTableGiveEmptyValues();
    void snapshotIsUnchangedByLaterAppends();
    void snapshotSurvivesClear();
    void pooledRowsReadBackLikeAppendedOnes();
    void pooledRowOutsideItsPoolIsRefused();
    void snapshotReadOnAnotherThreadWhileAppendingAndClearing();
    void rebuildPutsRowsBetweenTheKeptParts_data();
    void rebuildPutsRowsBetweenTheKeptParts();
    void rebuildThatThrowsLeavesTheTable();
    void markTellsTheRowsAppendedSince();
};

void ReadingsTableTest::rowsReadBackAcrossChunkBoundaries() {
    ReadingsTable table;
    // Past two chunk boundaries of rows and several of the text pool.
    const std::int32_t count = 3 * 4096 + 7;
    for (std::int32_t i = 0; i < count; ++i)
        table.append(numberedRow(i));
    QCOMPARE(table.rowCount(), std::int64_t(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const QString diff = mismatch(table, i);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QCOMPARE(table.integer(i, Field::no), std::int32_t(i));
        QCOMPARE(table.text(i, Field::value), QString::number(i % 977));
    }
}

void ReadingsTableTest::textsAreCutToTwentyCharacters_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    const QString twenty = QStringLiteral("abcdefghijklmnopqrst");
    QTest::newRow("19") << twenty.left(19) << twenty.left(19);
    QTest::newRow("20") << twenty << twenty;
    QTest::newRow("21") << twenty + QStringLiteral("u") << twenty;
    QTest::newRow("40") << twenty + twenty.toUpper() << twenty;
    QTest::newRow("non-Latin") << QString(25, QChar(u'\u03A9')) << QString(20, QChar(u'\u03A9'));
}

void ReadingsTableTest::textsAreCutToTwentyCharacters() {
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    ReadingsTable table;
    ReadingRow r;
    r.time = r.dcac = r.value = r.unit = r.judge = stored;
    table.append(r);
    // The cut text and the same text stored uncut must share one entry.
    ReadingRow exact;
    exact.value = expected;
    table.append(exact);
    for (Field f : {Field::time, Field::dcac, Field::value, Field::unit, Field::judge}) {
        QVERIFY2(
            table.text(0, f) == expected,
            qPrintable(QStringLiteral("field %1 stored \"%2\": expected \"%3\", got \"%4\"")
                           .arg(ReadingsTable::fieldName(f), stored, expected, table.text(0, f))));
    }
    QCOMPARE(table.text(1, Field::value), expected);
    QCOMPARE(&table.text(1, Field::value), &table.text(0, Field::value));
}

void ReadingsTableTest::nullFieldsReadAsNullAndEmpty_data() {
    QTest::addColumn<int>("field");
    for (Field f : kAllFields)
        QTest::newRow(qPrintable(ReadingsTable::fieldName(f))) << int(f);
}

void ReadingsTableTest::nullFieldsReadAsNullAndEmpty() {
    QFETCH(int, field);
    const Field nullField = Field(field);
    ReadingsTable table;
    ReadingRow r = numberedRow(41);
    r.setNull(nullField);
    table.append(r);
    table.append(numberedRow(42));

    for (Field f : kAllFields) {
        const bool expectNull = f == nullField;
        QVERIFY2(
            table.isNull(0, f) == expectNull,
            qPrintable(QStringLiteral("NULL %1, field %2: expected isNull %3")
                           .arg(ReadingsTable::fieldName(nullField), ReadingsTable::fieldName(f))
                           .arg(expectNull)));
        QVERIFY(!table.isNull(1, f));
    }
    if (nullField == Field::no || nullField == Field::nval)
        QCOMPARE(table.integer(0, nullField), 0);
    else
        QVERIFY2(table.text(0, nullField).isEmpty(), qPrintable(table.text(0, nullField)));
    const ReadingRow back = table.row(0);
    QVERIFY(back.isNull(nullField));
    QCOMPARE(back.nullMask, std::uint8_t(1u << field));
    // The row after keeps all its values.
    QCOMPARE(table.row(1).value, numberedRow(42).value);
    QCOMPARE(table.row(1).nval, numberedRow(42).nval);
}

void ReadingsTableTest::emptyTextIsNotNull() {
    ReadingsTable table;
    ReadingRow r;
    table.append(r);
    for (Field f : kAllFields)
        QVERIFY2(!table.isNull(0, f), qPrintable(ReadingsTable::fieldName(f)));
    QVERIFY(table.text(0, Field::dcac).isEmpty());
}

void ReadingsTableTest::fieldLookupIgnoresCase_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::newRow("no") << "no" << int(Field::no);
    QTest::newRow("No") << "No" << int(Field::no);
    QTest::newRow("time") << "time" << int(Field::time);
    QTest::newRow("Time") << "Time" << int(Field::time);
    QTest::newRow("DC/AC") << "DC/AC" << int(Field::dcac);
    QTest::newRow("dc/ac") << "dc/ac" << int(Field::dcac);
    QTest::newRow("Value") << "Value" << int(Field::value);
    QTest::newRow("Unit") << "Unit" << int(Field::unit);
    QTest::newRow("Auto") << "Auto" << int(Field::judge);
    QTest::newRow("AUTO") << "AUTO" << int(Field::judge);
    QTest::newRow("Nval") << "Nval" << int(Field::nval);
    QTest::newRow("judge is not a field") << "judge" << -1;
    QTest::newRow("dcac without slash") << "dcac" << -1;
    QTest::newRow("prefix") << "val" << -1;
    QTest::newRow("empty") << "" << -1;
}

void ReadingsTableTest::fieldLookupIgnoresCase() {
    QFETCH(QString, name);
    QFETCH(int, expected);
    const int actual = ReadingsTable::fieldIndex(name);
    QVERIFY2(
        actual == expected,
        qPrintable(
            QStringLiteral("\"%1\": expected %2, got %3").arg(name).arg(expected).arg(actual)));
    if (expected >= 0)
        QCOMPARE(ReadingsTable::fieldIndex(ReadingsTable::fieldName(Field(expected))), expected);
}

void ReadingsTableTest::readsOutsideTheTableGiveEmptyValues() {
    ReadingsTable table;
    table.append(numberedRow(5));
    for (std::int64_t row : {std::int64_t(-1), std::int64_t(1), std::int64_t(1) << 40}) {
        QCOMPARE(table.integer(row, Field::no), 0);
        QVERIFY(table.text(row, Field::value).isEmpty());
        QVERIFY(!table.isNull(row, Field::value));
        QCOMPARE(table.row(row).no, 0);
    }
    // Asking an integer field for text, or a text field for a number.
    QVERIFY(table.text(0, Field::no).isEmpty());
    QCOMPARE(table.integer(0, Field::value), 0);
    QCOMPARE(ReadingsTable::Snapshot().rowCount(), std::int64_t(0));
    QVERIFY(ReadingsTable::Snapshot().text(0, Field::time).isEmpty());
}

void ReadingsTableTest::snapshotIsUnchangedByLaterAppends() {
    ReadingsTable table;
    for (int i = 0; i < 4090; ++i)
        table.append(numberedRow(i));
    const ReadingsTable::Snapshot before = table.snapshot();
    // Into the same chunk, then into new ones.
    for (int i = 4090; i < 9000; ++i)
        table.append(numberedRow(i));
    QCOMPARE(before.rowCount(), std::int64_t(4090));
    QCOMPARE(table.rowCount(), std::int64_t(9000));
    for (std::int64_t i = 0; i < before.rowCount(); ++i) {
        const QString diff = mismatch(before, i);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
    QCOMPARE(before.row(4090).no, 0);
    QCOMPARE(table.snapshot().rowCount(), std::int64_t(9000));
}

void ReadingsTableTest::snapshotSurvivesClear() {
    ReadingsTable table;
    for (int i = 0; i < 5000; ++i)
        table.append(numberedRow(i));
    const ReadingsTable::Snapshot before = table.snapshot();
    const QString& valueRef = before.text(4999, Field::value);
    table.clear();
    QCOMPARE(table.rowCount(), std::int64_t(0));
    QCOMPARE(table.snapshot().rowCount(), std::int64_t(0));
    // The new generation may reuse nothing of the old one.
    for (int i = 0; i < 100; ++i) {
        ReadingRow r = numberedRow(i);
        r.value = QStringLiteral("new %1").arg(i);
        table.append(r);
    }
    QCOMPARE(before.rowCount(), std::int64_t(5000));
    for (std::int64_t i = 0; i < before.rowCount(); ++i) {
        const QString diff = mismatch(before, i);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
    QCOMPARE(valueRef, QString::number(4999 % 977));
    QCOMPARE(table.text(0, Field::value), QStringLiteral("new 0"));
}

void ReadingsTableTest::snapshotReadOnAnotherThreadWhileAppendingAndClearing() {
    std::vector<ReadingRow> rows;
    for (std::int32_t i = 0; i < 20000; ++i)
        rows.push_back(numberedRow(i));
    ReadingsTable table;
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> checkedRows{0};
    std::atomic<int> snapshots{0};
    QString firstError;

    // The reader takes its own snapshots and reads every row of each, newest
    // first, while the rows it reads sit in the chunk being written.
    std::thread reader([&] {
        while (!done.load(std::memory_order_acquire)) {
            const ReadingsTable::Snapshot s = table.snapshot();
            const std::int64_t n = s.rowCount();
            ++snapshots;
            const std::int64_t from = std::max<std::int64_t>(0, n - 300);
            for (std::int64_t i = n - 1; i >= from; --i) {
                const QString diff = mismatch(s, i, rows[std::size_t(i)]);
                if (!diff.isEmpty() && firstError.isEmpty()) {
                    firstError = diff;
                    return;
                }
            }
            checkedRows += n - from;
        }
    });

    // At least three generations, and enough of them that the reader has
    // overlapped the writing many times.
    for (int round = 0; round < 5 || (snapshots.load() < 50 && round < 500); ++round) {
        for (const ReadingRow& r : rows)
            table.append(r);
        table.clear();
    }
    for (const ReadingRow& r : rows)
        table.append(r);
    done.store(true, std::memory_order_release);
    reader.join();

    QVERIFY2(firstError.isEmpty(), qPrintable(firstError));
    QVERIFY2(snapshots.load() > 1,
             qPrintable(QStringLiteral("snapshots taken: %1").arg(snapshots.load())));
    QVERIFY(checkedRows.load() > 0);
}

// A batch from a file: rows that point into a pool, mixed with rows recorded
// one by one, must read back as if every row had been appended as values;
// pool texts are cut and shared with recorded ones like any other text.
void ReadingsTableTest::pooledRowsReadBackLikeAppendedOnes() {
    ReadingsTable table;
    table.append(numberedRow(0));
    const QList<QString> pool{
        QStringLiteral("12:00:01"), QStringLiteral("AC"),
        QStringLiteral("mV"),       QStringLiteral("pass"),
        QStringLiteral("1.2345"),   QStringLiteral("a text of more than twenty characters")};
    {
        ReadingsTable::PooledAppender appender(table, pool);
        for (std::uint32_t value : {4u, 5u, 4u}) {
            PooledRow row;
            row.no = 7;
            row.nval = -12345;
            row.text = {0, 1, value, 2, 3};
            QVERIFY(appender.append(row));
        }
        PooledRow nulls;
        nulls.text = {0, 1, 4, 2, 3};
        nulls.nullMask = std::uint8_t((1u << int(Field::no)) | (1u << int(Field::value)) |
                                      (1u << int(Field::nval)));
        nulls.no = 99;
        QVERIFY(appender.append(nulls));
    }
    QCOMPARE(table.rowCount(), std::int64_t(5));
    QCOMPARE(mismatch(table, 0), QString());
    ReadingRow expected;
    expected.no = 7;
    expected.nval = -12345;
    expected.time = QStringLiteral("12:00:01");
    expected.dcac = QStringLiteral("AC");
    expected.value = QStringLiteral("1.2345");
    expected.unit = QStringLiteral("mV");
    expected.judge = QStringLiteral("pass");
    QCOMPARE(mismatch(table, 1, expected), QString());
    QCOMPARE(mismatch(table, 3, expected), QString());
    QCOMPARE(table.text(2, Field::value), QStringLiteral("a text of more than "));
    QCOMPARE(&table.text(1, Field::dcac), &table.text(0, Field::dcac)); // "AC" stored once

    QVERIFY(table.isNull(4, Field::no) && table.isNull(4, Field::value) &&
            table.isNull(4, Field::nval));
    QVERIFY(!table.isNull(4, Field::time));
    QCOMPARE(table.integer(4, Field::no), 0);
    QCOMPARE(table.text(4, Field::value), QString());
    QCOMPARE(table.text(4, Field::unit), QStringLiteral("mV"));
}

void ReadingsTableTest::pooledRowOutsideItsPoolIsRefused() {
    ReadingsTable table;
    const QList<QString> pool{QStringLiteral("DC")};
    ReadingsTable::PooledAppender appender(table, pool);
    PooledRow row;
    row.text = {0, 0, 1, 0, 0};
    QVERIFY(!appender.append(row));
    QCOMPARE(table.rowCount(), std::int64_t(0));
    row.text = {0, 0, 0, 0, 0};
    QVERIFY(appender.append(row));
    QCOMPARE(table.rowCount(), std::int64_t(1));
}

void ReadingsTableTest::rebuildPutsRowsBetweenTheKeptParts_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    // 5000 rows span two chunks; 4100 lies in the second.
    QTest::newRow("between, across a chunk boundary") << 4100 << 4100;
    QTest::newRow("in place of the first rows") << 0 << 4100;
    QTest::newRow("in front") << 0 << 0;
    QTest::newRow("at the end") << 5000 << 5000;
}

void ReadingsTableTest::rebuildPutsRowsBetweenTheKeptParts() {
    QFETCH(int, before);
    QFETCH(int, after);
    constexpr int kRows = 5000;
    ReadingsTable table;
    for (int i = 0; i < kRows; ++i)
        table.append(numberedRow(i));
    const ReadingsTable::Snapshot old = table.snapshot();
    ReadingRow partial = numberedRow(900001);
    partial.setNull(Field::nval);
    partial.setNull(Field::unit);

    table.rebuild(before, after, [&partial](ReadingsTable& into) {
        into.append(numberedRow(900000));
        into.append(partial);
    });

    QCOMPARE(table.rowCount(), std::int64_t(before + 2 + (kRows - after)));
    std::int64_t at = 0;
    for (int i = 0; i < before; ++i, ++at) {
        const QString diff = mismatch(table, at, numberedRow(i));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
    QVERIFY(mismatch(table, at++, numberedRow(900000)).isEmpty());
    QCOMPARE(table.row(at).no, 900001);
    QCOMPARE(table.row(at).time, partial.time);
    QVERIFY(table.isNull(at, Field::nval) && table.isNull(at, Field::unit));
    QVERIFY(!table.isNull(at, Field::value));
    ++at;
    for (int i = after; i < kRows; ++i, ++at) {
        const QString diff = mismatch(table, at, numberedRow(i));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
    // A snapshot taken before still reads the old rows.
    QCOMPARE(old.rowCount(), std::int64_t(kRows));
    for (std::int64_t i : {std::int64_t(0), std::int64_t(4100), std::int64_t(kRows - 1)}) {
        const QString diff = mismatch(old, i);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
    // Appending goes on after the rebuilt rows.
    table.append(numberedRow(7));
    QVERIFY(mismatch(table, table.rowCount() - 1, numberedRow(7)).isEmpty());
}

void ReadingsTableTest::rebuildThatThrowsLeavesTheTable() {
    ReadingsTable table;
    for (int i = 0; i < 10; ++i)
        table.append(numberedRow(i));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, table.rebuild(4, 4, [](ReadingsTable& into) {
        into.append(numberedRow(100));
        throw std::runtime_error("no memory");
    }));
    QCOMPARE(table.rowCount(), std::int64_t(10));
    for (std::int64_t i = 0; i < 10; ++i) {
        const QString diff = mismatch(table, i);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
}

void ReadingsTableTest::markTellsTheRowsAppendedSince() {
    ReadingsTable table;
    table.append(numberedRow(0));
    const ReadingsTable::Mark mark = table.mark();
    table.append(numberedRow(1));
    QCOMPARE(table.rowAfter(mark), std::int64_t(1));
    // Once the rows are emptied or rebuilt, every row present came later.
    table.rebuild(0, 0, [](ReadingsTable& into) { into.append(numberedRow(2)); });
    QCOMPARE(table.rowAfter(mark), std::int64_t(0));
    const ReadingsTable::Mark second = table.mark();
    table.clear();
    table.append(numberedRow(3));
    QCOMPARE(table.rowAfter(second), std::int64_t(0));
}

QTEST_APPLESS_MAIN(ReadingsTableTest)
#include "ReadingsTableTest.moc"
