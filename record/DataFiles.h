#pragma once

#include "record/LoadedRows.h"
#include "record/ReadingsTable.h"

#include <QString>

namespace qm45 {

class DataFileProgress;

enum class DataFileFormat { Text, Xml };

// XML exactly when the name's extension, after the last dot of the last path
// component, is ".xml" in lower case; ".XML", ".Xml", ".xls", ".txt" and no
// extension at all give the tab-separated text.
[[nodiscard]] DataFileFormat dataFileFormat(const QString& fileName);

struct DataFileSaveResult {
    enum class Outcome { Saved, Failed, Stopped };
    Outcome outcome = Outcome::Failed;
    // When failed: names the file and gives the system's reason.
    QString error;

    [[nodiscard]] bool saved() const { return outcome == Outcome::Saved; }
};

// Writes the rows in the format the name chooses. Any thread.
//
// The file is written under a temporary name beside it and renamed over the
// old one only once every byte is written and flushed, so a save that fails
// or is stopped half-way (disk full, device gone, program ended) leaves the
// file that was there as it was.
[[nodiscard]] DataFileSaveResult saveDataFile(const ReadingsTable::Snapshot& rows,
                                              const QString& fileName,
                                              DataFileProgress* progress = nullptr);

struct DataFileLoadResult {
    enum class Outcome { Loaded, Failed, Stopped };
    Outcome outcome = Outcome::Failed;
    DataFileFormat format = DataFileFormat::Text;
    // A text file: the rows of the lines before a failure, to be kept even
    // when it failed. An XML file: the whole table when loaded, else nothing.
    LoadedRows rows;

    [[nodiscard]] bool loaded() const { return outcome == Outcome::Loaded; }
    // A loaded XML file takes the table's place.
    [[nodiscard]] bool replacesTable() const { return format == DataFileFormat::Xml && loaded(); }
    // A text file's rows stay even when it failed; a failed XML file and a
    // stopped load leave the table alone.
    [[nodiscard]] bool keepsRows() const {
        return outcome != Outcome::Stopped && (format == DataFileFormat::Text || loaded());
    }
};

// Reads a data file in the format its name chooses. Any thread. Only a
// regular file is read: a FIFO or a device could block or never end.
[[nodiscard]] DataFileLoadResult loadDataFile(const QString& fileName,
                                              DataFileProgress* progress = nullptr);

// Main thread. For a table no grid shows; with a grid, go through its model
// so that the views learn of a replaced table.
void applyLoadedRows(const DataFileLoadResult& result, ReadingsTable& table);

} // namespace qm45
