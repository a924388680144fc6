#pragma once

#include "record/ReadingsTable.h"

class QIODevice;

namespace qm45 {

class DataFileProgress;

// The tab-separated data file as written: the header line, then per row no,
// time, dc/ac, value, unit and auto separated by tabs, every line ended by
// CR LF. Texts lose blanks and control characters at both ends; a text left
// empty, and a NULL no, is written "NULL". nval is not written. Texts go out
// as UTF-8, which is plain ASCII for everything the meter produces.
class TextDataFile {
public:
    // The first line, with its line end.
    static constexpr const char* kHeader = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";

    // Any thread. False when a write failed or a stop was requested; what was
    // written so far is then incomplete.
    [[nodiscard]] static bool write(const ReadingsTable::Snapshot& rows, QIODevice& out,
                                    DataFileProgress* progress = nullptr);
};

} // namespace qm45
