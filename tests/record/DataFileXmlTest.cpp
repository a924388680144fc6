#include "DataFileTestRows.h"

#include "record/DataFiles.h"
#include "record/LoadedRows.h"
#include "record/XmlDataFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace qm45;
using namespace datafiletest;

namespace {

QString fixture(const char* name) {
    return QFINDTESTDATA(QStringLiteral("fixtures/") + QLatin1String(name));
}

// The rows of fixtures/packet.xml.
QList<ReadingRow> packetRows() {
    ReadingRow escaped = rowFrom(QStringLiteral("-7|<null>||a&b<c>\"d'||<null>|<null>"));
    escaped.unit = QStringLiteral("\t\n\r");
    ReadingRow unusual = rowFrom(QStringLiteral("2||µΩ|😀|<null>|<null>|-2147483648"));
    unusual.time = QStringLiteral("x\x01y");
    return {rowFrom(QStringLiteral("1|10:41:07|DC|1.2345|k*|pass|12345")), escaped, unusual};
}

// Every kind of value a field can hold, each field NULL once, and the
// characters XML treats specially or cannot carry as they are.
QList<ReadingRow> roundTripRows() {
    QList<ReadingRow> rows{rowFrom(QStringLiteral("1|10:41:07|DC|1.2345|k*|pass|12345")),
                           rowFrom(QStringLiteral("2147483647|a|b|c|d|e|-2147483648")),
                           rowFrom(QStringLiteral("-2147483648||||||0"))};
    for (int f = 0; f < kFieldCount; ++f) {
        ReadingRow row = rowFrom(QStringLiteral("7|t|AC|0.5|mV|Fail|5"));
        row.setNull(Field(f));
        if (f > 0 && f < kFieldCount - 1)
            (&row.time)[f - 1].clear();
        rows << row;
    }
    const QString texts[] = {
        QStringLiteral("a&b<c>\"d'e]]>"),
        QStringLiteral("\t\n\r"),
        QStringLiteral("  blanks kept  "),
        QStringLiteral("µΩ°€"),
        QStringLiteral("😀x"),
        QString(QChar(0)) + QStringLiteral("nul"),
        QStringLiteral("\x01\x1f\x7f"),
        QString(QChar(0xD800)) + QStringLiteral("a"),
        QString(QChar(0xDC00)),
        QString(QChar(0xFFFE)),
        QStringLiteral("12345678901234567890"),
        QStringLiteral("&amp;&#65;"),
    };
    int no = 100;
    for (const QString& text : texts) {
        ReadingRow row = rowFrom(QStringLiteral("%1|t|d|v|u|j|1").arg(no++));
        row.time = text;
        row.unit = text;
        rows << row;
    }
    // Enough distinct texts that the batch's look-up tables grow a few times.
    for (int i = 0; i < 5000; ++i)
        rows << rowFrom(QStringLiteral("%1|t%2|f%3|%4|u%5|j%6|%7")
                            .arg(i)
                            .arg(i * 7)
                            .arg(i % 97)
                            .arg(i * 13)
                            .arg(i % 3)
                            .arg(i)
                            .arg(-i));
    return rows;
}

QString visible(const QString& text) {
    QString out;
    for (const QChar c : text)
        out += (c.unicode() < 0x20 || c.unicode() >= 0x7F)
                   ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                   : QString(c);
    return out;
}

QByteArray header(const QByteArray& fields) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET "
           "Version=\"2.0\"><METADATA><FIELDS>" +
           fields + "</FIELDS></METADATA>";
}

const QByteArray kFields = "<FIELD attrname=\"no\" fieldtype=\"i4\"/>"
                           "<FIELD attrname=\"time\" fieldtype=\"string\" WIDTH=\"20\"/>"
                           "<FIELD attrname=\"dc_x002F_ac\" fieldtype=\"string\" WIDTH=\"20\"/>"
                           "<FIELD attrname=\"value\" fieldtype=\"string\" WIDTH=\"20\"/>"
                           "<FIELD attrname=\"unit\" fieldtype=\"string\" WIDTH=\"20\"/>"
                           "<FIELD attrname=\"auto\" fieldtype=\"string\" WIDTH=\"20\"/>"
                           "<FIELD attrname=\"nval\" fieldtype=\"i4\"/>";

QByteArray packet(const QByteArray& rows, const QByteArray& fields = kFields) {
    return header(fields) + "<ROWDATA>" + rows + "</ROWDATA></DATAPACKET>\n";
}

QByteArray withoutField(const char* name) {
    QByteArray fields = kFields;
    const qsizetype at = fields.indexOf(QByteArray("attrname=\"") + name + '"');
    const qsizetype begin = fields.lastIndexOf('<', at);
    fields.remove(begin, fields.indexOf("/>", at) + 2 - begin);
    return fields;
}

DataFileLoadResult loadBytes(const QByteArray& bytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("packet.xml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    return loadDataFile(path);
}

} // namespace

class DataFileXmlTest : public QObject {
    Q_OBJECT
private slots:
    void xmlSaveWritesTheDataPacket();
    void dataPacketFixtureLoads();
    void xmlRoundTripKeepsEveryFieldAndReplacesTheTable();
    void badPacketFailsAndLeavesTheTable_data();
    void badPacketFailsAndLeavesTheTable();
    void packetLoadsWhatItValidlyHolds_data();
    void packetLoadsWhatItValidlyHolds();
    void packetReadInPiecesGivesTheSameRows_data();
    void packetReadInPiecesGivesTheSameRows();
};

void DataFileXmlTest::xmlSaveWritesTheDataPacket() {
    QTemporaryDir dir;
    ReadingsTable table;
    for (const ReadingRow& row : packetRows())
        table.append(row);
    const QString path = dir.filePath(QStringLiteral("packet.xml"));
    const DataFileSaveResult result = saveDataFile(table.snapshot(), path);
    QVERIFY2(result.saved(), qPrintable(result.error));

    const QByteArray actual = fileBytes(path);
    const QByteArray expected = fileBytes(fixture("packet.xml"));
    QVERIFY2(actual == expected, qPrintable(firstDifference(actual, expected)));
}

void DataFileXmlTest::dataPacketFixtureLoads() {
    const DataFileLoadResult result = loadDataFile(fixture("packet.xml"));
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Loaded);
    QStringList expected;
    for (const ReadingRow& row : packetRows())
        expected << describe(row);
    QCOMPARE(describeAll(result.rows), expected);
}

void DataFileXmlTest::xmlRoundTripKeepsEveryFieldAndReplacesTheTable() {
    QTemporaryDir dir;
    const QList<ReadingRow> rows = roundTripRows();
    ReadingsTable saved;
    for (const ReadingRow& row : rows)
        saved.append(row);
    const QString path = dir.filePath(QStringLiteral("all.xml"));
    QVERIFY(saveDataFile(saved.snapshot(), path).saved());

    ReadingsTable table;
    table.append(rowFrom(QStringLiteral("999|replaced|DC|0|V|pass|0")));
    const DataFileLoadResult result = loadDataFile(path);
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Loaded);
    applyLoadedRows(result, table);

    QCOMPARE(table.rowCount(), std::int64_t(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString expected = describe(rows[i]);
        const QString actual = describe(table.row(i));
        QVERIFY2(actual == expected, qPrintable(QStringLiteral("row %1: expected %2, got %3")
                                                    .arg(i)
                                                    .arg(visible(expected), visible(actual))));
    }
}

void DataFileXmlTest::badPacketFailsAndLeavesTheTable_data() {
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray row = "<ROW no=\"1\" time=\"t\" dc_x002F_ac=\"DC\" value=\"1\" unit=\"V\" "
                           "auto=\"pass\" nval=\"1\"/>";
    const QByteArray whole = packet(row + row);
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 7919 % 256);
    const QByteArray laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE DATAPACKET [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e "
        "\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g "
        "\"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>";

    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("cut in the middle") << whole.left(whole.size() / 2);
    QTest::newRow("cut after the last row") << whole.left(whole.indexOf("</ROWDATA>"));
    QTest::newRow("a text file") << QByteArray(
        "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t10:41:07\tDC\t1\tV\tpass\r\n");
    QTest::newRow("binary") << binary;
    QTest::newRow("entity expansion")
        << laughs + whole.mid(whole.indexOf("<DATAPACKET")).replace("time=\"t\"", "time=\"&g;\"");
    QTest::newRow("external entity")
        << "<?xml version=\"1.0\"?><!DOCTYPE DATAPACKET [<!ENTITY x SYSTEM "
           "\"file:///etc/passwd\">]>" +
               whole.mid(whole.indexOf("<DATAPACKET")).replace("time=\"t\"", "time=\"&x;\"");
    QTest::newRow("undeclared entity")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"&x;\""));
    QTest::newRow("other root") << QByteArray(whole).replace("DATAPACKET", "TABLE");
    QTest::newRow("no METADATA") << QByteArray("<DATAPACKET><ROWDATA>" + row +
                                               "</ROWDATA></DATAPACKET>");
    QTest::newRow("METADATA without nval") << packet(row, withoutField("nval"));
    QTest::newRow("METADATA without dc/ac") << packet(row, withoutField("dc_x002F_ac"));
    QTest::newRow("integer field declared as text") << packet(
        row, QByteArray(kFields).replace("\"no\" fieldtype=\"i4\"", "\"no\" fieldtype=\"string\""));
    QTest::newRow("field declared twice")
        << packet(row, kFields + "<FIELD attrname=\"unit\" fieldtype=\"string\" WIDTH=\"20\"/>");
    QTest::newRow("ROWDATA before METADATA")
        << QByteArray("<DATAPACKET><ROWDATA>" + row + "</ROWDATA><METADATA><FIELDS>" + kFields +
                      "</FIELDS></METADATA></DATAPACKET>");
    QTest::newRow("no ROWDATA") << header(kFields) + "</DATAPACKET>";
    QTest::newRow("no not a number")
        << packet(row + QByteArray(row).replace("no=\"1\"", "no=\"abc\""));
    QTest::newRow("no with a blank") << packet(QByteArray(row).replace("no=\"1\"", "no=\" 1\""));
    QTest::newRow("nval beyond 32 bits")
        << packet(QByteArray(row).replace("nval=\"1\"", "nval=\"2147483648\""));
    QTest::newRow("not UTF-8") << packet(QByteArray(row).replace("time=\"t\"", "time=\"\xb5s\""));
    QTest::newRow("bad hexadecimal text")
        << packet(QByteArray(row).replace("time=\"t\"", "time.utf16=\"00zz\""));
    QTest::newRow("hexadecimal text of odd length")
        << packet(QByteArray(row).replace("time=\"t\"", "time.utf16=\"007\""));
    QTest::newRow("content after the root") << whole + "<ROW/>";
    QTest::newRow("end tag of another element")
        << QByteArray(whole).replace("</ROWDATA>", "</ROWS>");
    QTest::newRow("attribute given twice")
        << packet(QByteArray(row).replace("<ROW ", "<ROW no=\"2\" "));
    QTest::newRow("unquoted attribute") << packet(QByteArray(row).replace("no=\"1\"", "no=1"));
    QTest::newRow("no blank between attributes")
        << packet(QByteArray(row).replace("\" time=", "\"time="));
    QTest::newRow("< in a value") << packet(QByteArray(row).replace("time=\"t\"", "time=\"a<b\""));
    QTest::newRow("reference to a character XML forbids")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"&#1;\""));
    QTest::newRow("unfinished reference")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"&amp\""));
    QTest::newRow("raw control character")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"a\x01\""));
    QTest::newRow("overlong UTF-8")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"\xc0\xaf\""));
    QTest::newRow("UTF-8 of a surrogate")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"\xed\xa0\x80\""));
    QTest::newRow("UTF-8 cut short")
        << packet(QByteArray(row).replace("time=\"t\"", "time=\"\xe2\x82\""));
    QTest::newRow("declared in another encoding")
        << QByteArray(whole).replace("standalone=", "encoding=\"ISO-8859-1\" standalone=");
    QTest::newRow("UTF-16") << QByteArray("\xff\xfe<\0D\0");
    QTest::newRow("text outside the root") << "text" + whole;
    QTest::newRow("CDATA outside the root") << "<![CDATA[x]]>" + whole;
    QTest::newRow("comment without end") << whole + "<!-- ";
    QTest::newRow("nested 300 deep")
        << packet(QByteArray("<A>").repeated(300) + QByteArray("</A>").repeated(300));
    QTest::newRow("endless attribute value") << packet(
        QByteArray(row).replace("time=\"t\"", "time=\"" + QByteArray(8 << 20, 'x') + '"'));
}

void DataFileXmlTest::badPacketFailsAndLeavesTheTable() {
    QFETCH(QByteArray, bytes);
    ReadingsTable table;
    table.append(rowFrom(QStringLiteral("5|kept|DC|0|V|pass|0")));

    const DataFileLoadResult result = loadBytes(bytes);
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Failed);
    applyLoadedRows(result, table);
    QCOMPARE(describeAll(table), QStringList{QStringLiteral("5|kept|DC|0|V|pass|0")});
}

void DataFileXmlTest::packetLoadsWhatItValidlyHolds_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expectedRows");

    const QByteArray row = "<ROW no=\"1\" time=\"t\" dc_x002F_ac=\"DC\" value=\"1\" unit=\"V\" "
                           "auto=\"pass\" nval=\"2\"/>";
    const QString loaded = QStringLiteral("1|t|DC|1|V|pass|2");

    QTest::newRow("unknown elements and attributes passed over")
        << packet("<EXTRA><ROW no=\"9\"/></EXTRA>" +
                      QByteArray(row).replace("/>",
                                              " extra=\"x\"><CHILD no=\"8\"><ROW/></CHILD></ROW>"),
                  kFields + "<FIELD attrname=\"extra\" fieldtype=\"r8\"/>") +
               "<!-- after -->"
        << QStringList{loaded};
    QTest::newRow("PARAMS and comments")
        << QByteArray(packet(row))
               .replace("</METADATA>", "<PARAMS LCID=\"0\"/></METADATA><!-- c --><?pi x?>")
        << QStringList{loaded};
    QTest::newRow("missing attributes are NULL")
        << packet("<ROW/><ROW no=\"5\" value=\"\"/>")
        << QStringList{"<null>|<null>|<null>|<null>|<null>|<null>|<null>",
                       "5|<null>|<null>||<null>|<null>|<null>"};
    QTest::newRow("field names in other letter case")
        << packet("<ROW NO=\"3\" Time=\"t\"/>",
                  QByteArray(kFields).replace("\"no\"", "\"NO\"").replace("\"time\"", "\"Time\""))
        << QStringList{"3|t|<null>|<null>|<null>|<null>|<null>"};
    QTest::newRow("texts cut to 20")
        << packet("<ROW no=\"1\" value=\"123456789012345678901234567890\"/>")
        << QStringList{"1|<null>|<null>|12345678901234567890|<null>|<null>|<null>"};
    QTest::newRow("no declaration, byte order mark")
        << "\xef\xbb\xbf" + packet(row).mid(packet(row).indexOf("<DATAPACKET"))
        << QStringList{loaded};
    QTest::newRow("empty ROWDATA") << packet(QByteArray()) << QStringList();
    QTest::newRow("XML as written by hand")
        << QByteArray(packet("<ROW no = '1'\r\n time='a&#65;&#x263A;&apos;' >text<![CDATA[<ROW "
                             "no=\"2\"/>]]></ROW >"))
               .replace("</ROWDATA>", "</ROWDATA\n>")
        << QStringList{QString::fromUtf8("1|aA☺'|<null>|<null>|<null>|<null>|<null>")};
    QTest::newRow("CR LF in a value reads as one blank")
        << packet("<ROW no=\"1\" time=\"a\r\nb\"/>")
        << QStringList{"1|a b|<null>|<null>|<null>|<null>|<null>"};
    QTest::newRow("raw tab in a value reads as a blank")
        << packet("<ROW no=\"1\" time=\"a\tb\"/>")
        << QStringList{"1|a b|<null>|<null>|<null>|<null>|<null>"};
}

void DataFileXmlTest::packetLoadsWhatItValidlyHolds() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expectedRows);
    const DataFileLoadResult result = loadBytes(bytes);
    QCOMPARE(result.outcome, DataFileLoadResult::Outcome::Loaded);
    QCOMPARE(describeAll(result.rows), expectedRows);
}

void DataFileXmlTest::packetReadInPiecesGivesTheSameRows_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expectedRows");

    QStringList fixtureRows;
    for (const ReadingRow& row : packetRows())
        fixtureRows << describe(row);
    const QByteArray written = fileBytes(fixture("packet.xml"));
    const QByteArray dressed =
        "\xef\xbb\xbf<?xml version=\"1.0\"?><!-- a -- comment --><DATAPACKET>"
        "<METADATA><FIELDS>" +
        kFields +
        "</FIELDS></METADATA><ROWDATA>"
        "<ROW no=\"1\" time=\"&#x263A;&amp;\xc2\xb5\"><![CDATA[]]]]></ROW></ROWDATA></DATAPACKET>";
    QTest::newRow("as written") << written << fixtureRows;
    QTest::newRow("mark, comment, references, CDATA")
        << dressed << QStringList{QString::fromUtf8("1|☺&µ|<null>|<null>|<null>|<null>|<null>")};
}

// A device that hands out its bytes a few at a time, as a slow disk or a
// network share may.
class TrickleDevice final : public QIODevice {
public:
    TrickleDevice(QByteArray bytes, qint64 piece) : bytes_(std::move(bytes)), piece_(piece) {
        open(ReadOnly);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 n = std::min({maxSize, piece_, qint64(bytes_.size()) - at_});
        std::memcpy(data, bytes_.constData() + at_, std::size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 piece_;
    qint64 at_ = 0;
};

void DataFileXmlTest::packetReadInPiecesGivesTheSameRows() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expectedRows);
    for (const qint64 piece : {1, 2, 3, 7, 64}) {
        TrickleDevice device(bytes, piece);
        LoadedRows rows;
        const bool read = XmlDataFile::read(device, bytes.size(), rows);
        const QStringList actual = describeAll(rows);
        QVERIFY2(read && actual == expectedRows,
                 qPrintable(QStringLiteral("in pieces of %1 bytes: expected [%2], got %3 [%4]")
                                .arg(piece)
                                .arg(expectedRows.join(QStringLiteral("; ")),
                                     read ? QStringLiteral("") : QStringLiteral("a failure and"),
                                     actual.join(QStringLiteral("; ")))));
    }
}

QTEST_GUILESS_MAIN(DataFileXmlTest)
#include "DataFileXmlTest.moc"
