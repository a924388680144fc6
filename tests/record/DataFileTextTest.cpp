#include "DataFileSizeLimit.h"
#include "DataFileTestRows.h"

#include "record/DataFiles.h"
#include "record/TextDataReader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm45;
using namespace datafiletest;

namespace {

// The table behind fixtures/saved-rows.txt.
void fillTextTestRows(ReadingsTable& table) {
    table.append(rowFrom(QStringLiteral("12|10:41:07|DC|1.2345|V|pass|12345")));
    table.append(rowFrom(QStringLiteral("13|10:41:08|| -0.012 |k*||-12")));
    ReadingRow padded = rowFrom(QStringLiteral("-5||AC+DC|OL|uF|Fail|0"));
    padded.time = QStringLiteral("\t\x01 x y \x1f");
    table.append(padded);
    table.append(rowFrom(QStringLiteral("<null>|<null>|<null>|<null>|<null>|<null>|<null>")));
    table.append(rowFrom(QStringLiteral("2147483647|µs°|Temperature|0|#|pass|1")));
    ReadingRow blank = rowFrom(QStringLiteral("-2147483648|   | ||||7"));
    blank.value = QStringLiteral("\t");
    blank.unit = QStringLiteral("\r\n");
    table.append(blank);
}

QString fixture(const char* name) {
    return QFINDTESTDATA(QStringLiteral("fixtures/") + QLatin1String(name));
}

QStringList readAll(const QByteArray& bytes, qsizetype pieceSize, std::int64_t& failedLine) {
    LoadedRows rows;
    TextDataReader reader(rows);
    bool ok = true;
    for (qsizetype at = 0; ok && at < bytes.size(); at += pieceSize)
        ok = reader.feed(
            QByteArrayView(bytes.constData() + at, std::min(pieceSize, bytes.size() - at)));
    if (ok)
        (void)reader.finish();
    failedLine = reader.failedLine();
    return describeAll(rows);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class DataFileTextTest : public QObject {
    Q_OBJECT
private slots:
    void textSaveWritesExactBytes_data();
    void textSaveWritesExactBytes();
    void xmlIsChosenOnlyByLowerCaseXmlExtension_data();
    void xmlIsChosenOnlyByLowerCaseXmlExtension();
    void readerSplitsLinesIntoRows_data();
    void readerSplitsLinesIntoRows();
    void failedLoadKeepsTheRowsBeforeTheBadLine();
    void savedTextLoadsBackAfterTheRowsWithEmptyNval();
    void thousandsOfDistinctTextsLoadBack();
    void loadRefusesWhatIsNotARegularFile_data();
    void loadRefusesWhatIsNotARegularFile();
    void saveToUnwritablePathFailsAndCreatesNothing_data();
    void saveToUnwritablePathFailsAndCreatesNothing();
    void saveFailingHalfWayLeavesTheOldFileIntact_data();
    void saveFailingHalfWayLeavesTheOldFileIntact();
};

void DataFileTextTest::textSaveWritesExactBytes_data() {
    QTest::addColumn<bool>("withRows");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expectedFile");

    QTest::newRow("empty table: header line only")
        << false << "empty.txt" << fixture("saved-empty.txt");
    QTest::newRow(".txt") << true << "rows.txt" << fixture("saved-rows.txt");
    QTest::newRow(".xls gives the same bytes") << true << "rows.xls" << fixture("saved-rows.txt");
    QTest::newRow(".XML writes text") << true << "rows.XML" << fixture("saved-rows.txt");
    QTest::newRow(".Xml writes text") << true << "rows.Xml" << fixture("saved-rows.txt");
    QTest::newRow("no extension") << true << "rows" << fixture("saved-rows.txt");
    QTest::newRow(".xml only in the folder name")
        << true << "in.xml/rows" << fixture("saved-rows.txt");
}

void DataFileTextTest::textSaveWritesExactBytes() {
    QFETCH(bool, withRows);
    QFETCH(QString, fileName);
    QFETCH(QString, expectedFile);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("in.xml")));
    ReadingsTable table;
    if (withRows)
        fillTextTestRows(table);

    const QString path = dir.filePath(fileName);
    const DataFileSaveResult result = saveDataFile(table.snapshot(), path);
    QVERIFY2(result.saved(), qPrintable(result.error));

    const QByteArray actual = fileBytes(path);
    const QByteArray expected = fileBytes(expectedFile);
    QVERIFY2(actual == expected, qPrintable(firstDifference(actual, expected)));
}

void DataFileTextTest::xmlIsChosenOnlyByLowerCaseXmlExtension_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("xml");
    QTest::newRow("a.xml") << "a.xml" << true;
    QTest::newRow("path/a.xml") << "/data/run 1/a.xml" << true;
    QTest::newRow("only an extension") << "/data/.xml" << true;
    QTest::newRow("a.XML") << "a.XML" << false;
    QTest::newRow("a.xmL") << "a.xmL" << false;
    QTest::newRow("a.xml.txt") << "a.xml.txt" << false;
    QTest::newRow("a.xls") << "a.xls" << false;
    QTest::newRow("axml") << "axml" << false;
    QTest::newRow("folder.xml/a") << "/data/folder.xml/a" << false;
}

void DataFileTextTest::xmlIsChosenOnlyByLowerCaseXmlExtension() {
    QFETCH(QString, fileName);
    QFETCH(bool, xml);
    QCOMPARE(dataFileFormat(fileName) == DataFileFormat::Xml, xml);
}

void DataFileTextTest::readerSplitsLinesIntoRows_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expectedRows");
    QTest::addColumn<int>("failedLine"); // 0: loads completely

    const QString n = kNull;
    const QByteArray header = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    const QString x20 = QString(20, QLatin1Char('x'));
    QByteArray utf16("N\0o\0\r\0\n\0"
                     "1\0 \0a\0\r\0\n\0",
                     16);

    QTest::newRow("empty file") << QByteArray() << QStringList() << 1;
    QTest::newRow("header only, no line end") << QByteArray("No\tTime") << QStringList() << 0;
    QTest::newRow("header only") << header << QStringList() << 0;
    QTest::newRow("line 1 dropped whatever it holds")
        << QByteArray("12 a b c d e 1\r\n13 t\r\n")
        << QStringList{"13|t|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("written row: tabs, CR LF")
        << header + "12\t10:41:07\tDC\t1.2345\tV\tpass\r\n"
        << QStringList{"12|10:41:07|DC|1.2345|V|pass|" + n} << 0;
    QTest::newRow("blanks instead of tabs")
        << header + "12 10:41:07  DC 1.2345   V pass\r\n"
        << QStringList{"12|10:41:07|DC|1.2345|V|pass|" + n} << 0;
    QTest::newRow("runs of codes 1 to 32 are one separator")
        << header + "12\x01\x02 a\x1f\x20"
                    "b\tc\x0b"
                    "d\x0c"
                    "e\n"
        << QStringList{"12|a|b|c|d|e|" + n} << 0;
    QTest::newRow("LF-only lines")
        << header + "1 a\n2 b\n"
        << QStringList{"1|a|" + n + "|" + n + "|" + n + "|" + n + "|" + n,
                       "2|b|" + n + "|" + n + "|" + n + "|" + n + "|" + n}
        << 0;
    QTest::newRow("CR-only lines, last without end")
        << QByteArray("No\r1 a\r2 b")
        << QStringList{"1|a|" + n + "|" + n + "|" + n + "|" + n + "|" + n,
                       "2|b|" + n + "|" + n + "|" + n + "|" + n + "|" + n}
        << 0;
    QTest::newRow("CR CR LF leaves an empty line")
        << QByteArray("No\r\r\n1\r\n")
        << QStringList{"1|" + n + "|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("lines without fields skipped")
        << header + " \t \r\n\r\n\n1\r\n"
        << QStringList{"1|" + n + "|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("quoted fields") << header + "1 \"a b\" \"say \"\"hi\"\"\" \"\" x\r\n"
                                   << QStringList{"1|a b|say \"hi\"||x|" + n + "|" + n} << 0;
    QTest::newRow("closing quote ends the field")
        << header + "1 \"ab\"cd\r\n"
        << QStringList{"1|ab|cd|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("unclosed quote runs to the line end")
        << header + "1 \"a b\r\n2 c\r\n"
        << QStringList{"1|a b|" + n + "|" + n + "|" + n + "|" + n + "|" + n,
                       "2|c|" + n + "|" + n + "|" + n + "|" + n + "|" + n}
        << 0;
    QTest::newRow("quote inside a field is a character")
        << header + "1 a\"b\r\n"
        << QStringList{"1|a\"b|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("seventh field is nval") << header + "1 t d v u j -42\r\n"
                                           << QStringList{"1|t|d|v|u|j|-42"} << 0;
    QTest::newRow("integer limits and signs")
        << header + "2147483647 a b c d e -2147483648\r\n+5 a b c d e -0007\r\n"
        << QStringList{"2147483647|a|b|c|d|e|-2147483648", "5|a|b|c|d|e|-7"} << 0;
    QTest::newRow("NULL as text is kept")
        << header + "1 NULL\r\n"
        << QStringList{"1|NULL|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("texts cut to 20")
        << header + "1 xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n"
        << QStringList{"1|" + x20 + "|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("megabyte field cut to 20")
        << header + "1 " + QByteArray(1 << 20, 'x') + " y\r\n"
        << QStringList{"1|" + x20 + "|y|" + n + "|" + n + "|" + n + "|" + n} << 0;
    QTest::newRow("UTF-8") << header + "1 \xc2\xb5s \xe2\x82\xac\r\n"
                           << QStringList{QString::fromUtf8("1|µs|€|") + n + "|" + n + "|" + n +
                                          "|" + n}
                           << 0;
    QTest::newRow("long UTF-8 text cut between characters")
        << header + "1 " + QByteArray("\xe2\x82\xac").repeated(30) + "\r\n"
        << QStringList{"1|" + QString(20, QChar(0x20AC)) + "|" + n + "|" + n + "|" + n + "|" + n +
                       "|" + n}
        << 0;
    QTest::newRow("not UTF-8: Windows-1252")
        << header + "1 \xb5s \x80\r\n"
        << QStringList{QString::fromUtf8("1|µs|€|") + n + "|" + n + "|" + n + "|" + n} << 0;

    QTest::newRow("more than seven fields stop the load")
        << header + "1 a\r\n2 a b c d e 7 8\r\n3 a\r\n"
        << QStringList{"1|a|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 3;
    QTest::newRow("NULL in no stops the load")
        << header + "1 a\r\nNULL a\r\n3 a\r\n"
        << QStringList{"1|a|" + n + "|" + n + "|" + n + "|" + n + "|" + n} << 3;
    QTest::newRow("line 2 begins with letters") << header + "abc 1\r\n" << QStringList() << 2;
    QTest::newRow("nval not a number") << header + "1 a b c d e NULL\r\n" << QStringList() << 2;
    QTest::newRow("no beyond 32 bits") << header + "2147483648 a\r\n" << QStringList() << 2;
    QTest::newRow("decimal point in no") << header + "1.0 a\r\n" << QStringList() << 2;
    QTest::newRow("NUL byte in no") << header + QByteArray("1\0 a\r\n", 6) << QStringList() << 2;
    QTest::newRow("UTF-16 file") << utf16 << QStringList() << 2;
}

void DataFileTextTest::readerSplitsLinesIntoRows() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expectedRows);
    QFETCH(int, failedLine);

    // A line, a quote or a CR LF may straddle two reads of the file.
    const qsizetype pieceSizes[] = {bytes.size() + 1, 1, 7, 4096};
    for (const qsizetype pieceSize : pieceSizes) {
        if (pieceSize < 4096 && bytes.size() > 100'000)
            continue;
        std::int64_t actualFailedLine = -1;
        const QStringList actual = readAll(bytes, pieceSize, actualFailedLine);
        QVERIFY2(actual == expectedRows && actualFailedLine == failedLine,
                 qPrintable(QStringLiteral(
                                "fed in pieces of %1 bytes: expected rows [%2] failing at line %3, "
                                "got [%4] failing at line %5")
                                .arg(pieceSize)
                                .arg(expectedRows.join(QStringLiteral("; ")))
                                .arg(failedLine)
                                .arg(actual.join(QStringLiteral("; ")))
                                .arg(actualFailedLine)));
    }
}

void DataFileTextTest::failedLoadKeepsTheRowsBeforeTheBadLine() {
    ReadingsTable table;
    table.append(rowFrom(QStringLiteral("1|10:00:00|DC|0.001|V|pass|1")));

    const DataFileLoadResult result = loadDataFile(fixture("null-in-no.txt"));
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Failed);
    applyLoadedRows(result, table);

    const QStringList expected{"1|10:00:00|DC|0.001|V|pass|1", "7|10:41:07|DC|1.2345|V|pass|<null>",
                               "8|10:41:08|AC|0.5|mV|NULL|<null>"};
    QCOMPARE(describeAll(table), expected);
}

void DataFileTextTest::savedTextLoadsBackAfterTheRowsWithEmptyNval() {
    QTemporaryDir dir;
    ReadingsTable table;
    const QStringList recorded{"12|10:41:07|DC|1.2345|V|pass|12345", "13|10:41:08||-0.012|k*||-12",
                               "14|10:41:09|AC|OL|uF|Fail|40000"};
    for (const QString& row : recorded)
        table.append(rowFrom(row));
    const QString path = dir.filePath(QStringLiteral("twice.txt"));
    QVERIFY(saveDataFile(table.snapshot(), path).saved());

    const DataFileLoadResult result = loadDataFile(path);
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Loaded);
    applyLoadedRows(result, table);

    const QStringList expected = recorded + QStringList{"12|10:41:07|DC|1.2345|V|pass|<null>",
                                                        "13|10:41:08|NULL|-0.012|k*|NULL|<null>",
                                                        "14|10:41:09|AC|OL|uF|Fail|<null>"};
    QCOMPARE(describeAll(table), expected);
}

void DataFileTextTest::thousandsOfDistinctTextsLoadBack() {
    QTemporaryDir dir;
    ReadingsTable table;
    QStringList expected;
    for (int i = 0; i < 5000; ++i) {
        const QString row = QStringLiteral("%1|t%2|f%3|%4|u%5|j%6|7")
                                .arg(i)
                                .arg(i * 7)
                                .arg(i % 97)
                                .arg(i * 13)
                                .arg(i % 3)
                                .arg(i);
        table.append(rowFrom(row));
        expected << row.left(row.lastIndexOf(QLatin1Char('|'))) + QStringLiteral("|<null>");
    }
    const QString path = dir.filePath(QStringLiteral("many.txt"));
    QVERIFY(saveDataFile(table.snapshot(), path).saved());
    const DataFileLoadResult result = loadDataFile(path);
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Loaded);
    QCOMPARE(describeAll(result.rows), expected);
}

void DataFileTextTest::loadRefusesWhatIsNotARegularFile_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << "/nonexistent/qm45/data.txt";
    QTest::newRow("folder") << QDir::tempPath();
    QTest::newRow("device") << "/dev/zero";
}

void DataFileTextTest::loadRefusesWhatIsNotARegularFile() {
    QFETCH(QString, path);
    const DataFileLoadResult result = loadDataFile(path);
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Failed);
    QCOMPARE(result.rows.rowCount(), std::int64_t(0));
}

void DataFileTextTest::saveToUnwritablePathFailsAndCreatesNothing_data() {
    QTest::addColumn<QString>("fileName");
    QTest::newRow("text, folder missing") << "missing/data.txt";
    QTest::newRow("XML, folder missing") << "missing/data.xml";
    QTest::newRow("name of a folder") << "folder.xls";
}

void DataFileTextTest::saveToUnwritablePathFailsAndCreatesNothing() {
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.xls")));
    ReadingsTable table;
    fillTextTestRows(table);

    const QString path = dir.filePath(fileName);
    const DataFileSaveResult result = saveDataFile(table.snapshot(), path);
    QVERIFY2(!result.saved(), qPrintable(path));
    QVERIFY2(result.error.contains(path), qPrintable(result.error));
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("folder.xls")});
    QVERIFY(QFileInfo(path).isDir() || !QFileInfo::exists(path));
}

void DataFileTextTest::saveFailingHalfWayLeavesTheOldFileIntact_data() {
    QTest::addColumn<QString>("fileName");
    QTest::newRow("text") << "run.txt";
    QTest::newRow("XML") << "run.xml";
}

void DataFileTextTest::saveFailingHalfWayLeavesTheOldFileIntact() {
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    const QByteArray oldBytes = "the file a previous save left\r\n";
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write(oldBytes), oldBytes.size());
    }
    ReadingsTable table;
    for (int i = 0; i < 20000; ++i)
        table.append(rowFrom(QStringLiteral("%1|10:41:07|DC|1.2345|V|pass|12345").arg(i)));

    DataFileSaveResult result;
    {
        // Far less than the 600 kB the rows take in either format.
        DataFileSizeLimit limit(64 * 1024);
        QVERIFY(limit.active());
        result = saveDataFile(table.snapshot(), path);
    }
    QVERIFY2(!result.saved(), "a save past the file size limit reported success");
    QVERIFY2(result.error.contains(path), qPrintable(result.error));
    QCOMPARE(fileBytes(path), oldBytes);
    QCOMPARE(filesIn(dir.path()), QStringList{fileName});
}

QTEST_GUILESS_MAIN(DataFileTextTest)
#include "DataFileTextTest.moc"
