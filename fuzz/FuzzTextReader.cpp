// The text data file reader (what LoadDataFile does with a file that is not
// XML): the bytes of a file through TextDataReader into LoadedRows.
//
// The reader takes a file in pieces of any size, so the file is read twice,
// whole and cut at places the input picks, and both reads must agree row for
// row.

#include "FuzzCheck.h"

#include "record/LoadedRows.h"
#include "record/TextDataReader.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

struct Outcome {
    bool fed = true;
    bool finished = false;
    std::int64_t failedLine = 0;
};

Outcome read(qm45::TextDataReader& reader, QByteArrayView file, std::size_t piece) {
    Outcome outcome;
    for (qsizetype at = 0; at < file.size() && outcome.fed; at += qsizetype(piece))
        outcome.fed = reader.feed(file.sliced(at, std::min(qsizetype(piece), file.size() - at)));
    if (outcome.fed)
        outcome.finished = reader.finish();
    outcome.failedLine = reader.failedLine();
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 16;
    const QByteArrayView file(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    qm45::LoadedRows whole;
    qm45::TextDataReader wholeReader(whole);
    const Outcome a = read(wholeReader, file, std::size_t(file.size()) + 1);

    qm45::LoadedRows cut;
    qm45::TextDataReader cutReader(cut);
    const Outcome b = read(cutReader, file, piece);

    QM45_FUZZ_CHECK(a.fed == b.fed);
    QM45_FUZZ_CHECK(a.finished == b.finished);
    QM45_FUZZ_CHECK(a.failedLine == b.failedLine);
    QM45_FUZZ_CHECK(whole.rowCount() == cut.rowCount());
    for (std::int64_t i = 0; i < whole.rowCount(); ++i) {
        const qm45::ReadingRow row = whole.row(i);
        QM45_FUZZ_CHECK(row == cut.row(i));
        // Texts are cut to the table's width.
        for (const QString* text : {&row.time, &row.dcac, &row.value, &row.unit, &row.judge})
            QM45_FUZZ_CHECK(text->size() <= qm45::ReadingsTable::kTextSize);
    }
    return 0;
}
