#include "record/TextDataFile.h"

#include "record/DataFileProgress.h"
#include "record/OutputBuffer.h"

namespace qm45 {

namespace {

// Blanks and control characters: every code up to 32.
QStringView trimmed(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

constexpr Field kTextFields[] = {Field::time, Field::dcac, Field::value, Field::unit, Field::judge};

} // namespace

bool TextDataFile::write(const ReadingsTable::Snapshot& rows, QIODevice& out,
                         DataFileProgress* progress) {
    OutputBuffer buffer(out);
    buffer.append(kHeader);
    const std::int64_t count = rows.rowCount();
    for (std::int64_t r = 0; r < count; ++r) {
        if (rows.isNull(r, Field::no))
            buffer.append("NULL");
        else
            buffer.appendInteger(rows.integer(r, Field::no));
        for (const Field f : kTextFields) {
            buffer.append('\t');
            const QStringView text = trimmed(rows.text(r, f));
            if (text.isEmpty())
                buffer.append("NULL");
            else
                buffer.appendUtf8(text);
        }
        buffer.append("\r\n");
        if (!buffer.writeIfFull())
            return false;
        if (!continueAfterRow(progress, r, count))
            return false;
    }
    if (!buffer.write())
        return false;
    if (progress)
        progress->report(count, count);
    return true;
}

} // namespace qm45
