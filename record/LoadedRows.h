#pragma once

#include "record/ReadingsTable.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qm45 {

// Rows read from a data file, held until the main thread appends them to the
// readings table in one batch. A reader fills it on a worker thread; nothing
// else touches it until the worker has finished.
//
// A row costs 32 bytes here and each distinct text is stored once: a file of
// millions of rows repeats the same few units, functions and verdicts, and a
// QString per field would cost four times the memory.
class LoadedRows {
public:
    // Five times the largest table the recorder is measured at. A file with
    // more rows is treated as damaged rather than let it take gigabytes of
    // memory: this batch and the table would need 5 GB at the cap already.
    static constexpr std::int64_t kMaxRows = 50'000'000;

    using Row = PooledRow;

    LoadedRows();

    // The text cut to the table's width, stored once. `slot` (0 to 4: time,
    // dc/ac, value, unit, auto) picks the field whose last text is compared
    // first: function, unit and verdict rarely change from row to row.
    [[nodiscard]] std::uint32_t textId(int slot, QStringView text);
    // A field's raw bytes from a text file: UTF-8 when they are valid UTF-8,
    // otherwise Windows-1252, the single-byte code such files were written in.
    // `cut` says the reader kept only the first bytes of a longer field.
    [[nodiscard]] std::uint32_t textIdForBytes(int slot, QByteArrayView bytes, bool cut);

    // False, and nothing added, once kMaxRows rows are held.
    [[nodiscard]] bool append(const Row& row);

    [[nodiscard]] std::int64_t rowCount() const { return rowCount_; }
    [[nodiscard]] ReadingRow row(std::int64_t index) const;

    // Main thread.
    void appendTo(ReadingsTable& table) const;

private:
    // Rows sit in chunks, so a growing batch never copies itself and never
    // needs twice its size for a moment.
    static constexpr std::int64_t kRowsPerChunk = 65536;
    static constexpr int kSlots = 5;
    static constexpr int kLastBytes = 80;

    std::uint32_t store(QString text, std::uint64_t hash);
    [[nodiscard]] const Row& at(std::int64_t index) const {
        return chunks_[std::size_t(index / kRowsPerChunk)][std::size_t(index % kRowsPerChunk)];
    }

    std::vector<std::unique_ptr<Row[]>> chunks_;
    std::int64_t rowCount_ = 0;
    std::array<std::uint32_t, kSlots> lastId_{};
    std::array<std::array<char, kLastBytes>, kSlots> lastBytes_{};
    std::array<int, kSlots> lastByteCount_{}; // -1: no bytes remembered for the slot
    QList<QString> texts_;
    // Hash tables with open addressing, at most half full, from a text and
    // from a text file's raw field bytes to the text's id. They run for the
    // time and the value of nearly every row; with QHash, whose nodes lie
    // apart in memory, the look-ups were a fifth of a million-row load.
    static constexpr std::uint32_t kNoId = 0xFFFFFFFFu;
    struct TextEntry {
        std::uint64_t hash = 0;
        std::uint32_t id = kNoId;
    };
    struct ByteEntry {
        std::uint64_t hash = 0;
        std::uint32_t id = kNoId;
        std::uint32_t size = 0;
        std::uint64_t offset = 0; // into byteKeys_
    };
    [[nodiscard]] std::uint32_t* findBytes(QByteArrayView bytes, std::uint64_t hash);
    void addBytes(QByteArrayView bytes, std::uint64_t hash, std::uint32_t id);
    template <typename Entry>
    static void insert(std::vector<Entry>& table, std::size_t& count, const Entry& entry);

    std::vector<TextEntry> textEntries_ = std::vector<TextEntry>(1024);
    std::size_t textEntryCount_ = 0;
    std::vector<ByteEntry> byteEntries_ = std::vector<ByteEntry>(1024);
    std::size_t byteEntryCount_ = 0;
    std::string byteKeys_;
};

} // namespace qm45
