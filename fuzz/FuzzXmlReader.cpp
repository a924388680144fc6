// The XML data file reader (what LoadDataFile does with a ".xml" file):
// XmlDataFile::read over the bytes of a file, which must give a table that
// saves and loads back unchanged, and the streaming parser under it, which
// must report the same elements whether the document comes whole or cut
// into pieces.
//
// Input: the first byte picks the piece size (1 to 64), the rest is the file.

#include "FuzzCheck.h"

#include "record/LoadedRows.h"
#include "record/ReadingsTable.h"
#include "record/XmlDataFile.h"
#include "record/XmlPacketParser.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Every element event as text, so two parses can be compared.
class Log final : public qm45::XmlPacketParser::Handler {
public:
    bool startElement(QByteArrayView name,
                      const std::vector<qm45::XmlPacketParser::Attribute>& attributes) override {
        events += QStringLiteral("<") + QString::fromUtf8(name);
        for (const auto& a : attributes)
            events += QStringLiteral(" ") + QString::fromUtf8(a.name) + QStringLiteral("=") +
                      a.value.toString();
        events += QStringLiteral(">");
        return true;
    }
    bool endElement() override {
        events += QStringLiteral("</>");
        return true;
    }
    QString events;
};

struct Parse {
    bool fed = true;
    bool finished = false;
    QString events;
};

Parse parse(QByteArrayView file, qsizetype piece) {
    Log log;
    qm45::XmlPacketParser parser(log);
    Parse result;
    for (qsizetype at = 0; at < file.size() && result.fed; at += piece)
        result.fed =
            parser.feed(QByteArrayView(file).sliced(at, std::min(piece, file.size() - at)));
    if (result.fed)
        result.finished = parser.finish();
    result.events = log.events;
    return result;
}

bool read(const QByteArray& file, qm45::LoadedRows& rows) {
    QBuffer buffer;
    buffer.setData(file);
    return buffer.open(QIODevice::ReadOnly) && qm45::XmlDataFile::read(buffer, file.size(), rows);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArray file(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // A packet that loads saves and loads again as the same table.
    qm45::LoadedRows rows;
    if (read(file, rows)) {
        qm45::ReadingsTable table;
        rows.appendTo(table);
        QM45_FUZZ_CHECK(table.rowCount() == rows.rowCount());
        QBuffer saved;
        QM45_FUZZ_CHECK(saved.open(QIODevice::WriteOnly));
        QM45_FUZZ_CHECK(qm45::XmlDataFile::write(table.snapshot(), saved));
        saved.close();
        qm45::LoadedRows again;
        QM45_FUZZ_CHECK(read(saved.data(), again));
        QM45_FUZZ_CHECK(again.rowCount() == rows.rowCount());
        for (std::int64_t i = 0; i < rows.rowCount(); ++i) {
            const qm45::ReadingRow row = rows.row(i);
            QM45_FUZZ_CHECK(row == again.row(i));
            for (const QString* text : {&row.time, &row.dcac, &row.value, &row.unit, &row.judge})
                QM45_FUZZ_CHECK(text->size() <= qm45::ReadingsTable::kTextSize);
        }
    }

    const Parse whole = parse(file, file.size() + 1);
    const Parse cut = parse(file, piece);
    QM45_FUZZ_CHECK(whole.fed == cut.fed);
    QM45_FUZZ_CHECK(whole.finished == cut.finished);
    // The same elements however the document arrives, up to where it proved bad.
    QM45_FUZZ_CHECK(whole.events == cut.events);
    return 0;
}
