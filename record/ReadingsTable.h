#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qm45 {

// The seven fields of a row, in file and grid order.
enum class Field : int { no, time, dcac, value, unit, judge, nval };
inline constexpr int kFieldCount = 7;

// One row as values. Text fields hold at most 20 characters (longer texts are
// cut when appended). A field can be NULL: a row loaded from a file that did
// not give it. nullMask has bit (1 << int(Field)) set for each NULL field.
struct ReadingRow {
    std::int32_t no = 0;
    QString time;
    QString dcac;
    QString value;
    QString unit;
    QString judge;
    std::int32_t nval = 0;
    std::uint8_t nullMask = 0;

    [[nodiscard]] bool isNull(Field f) const { return (nullMask >> int(f)) & 1u; }
    void setNull(Field f, bool null = true) {
        nullMask = std::uint8_t(null ? (nullMask | (1u << int(f))) : (nullMask & ~(1u << int(f))));
    }

    friend bool operator==(const ReadingRow& a, const ReadingRow& b) {
        return a.no == b.no && a.nval == b.nval && a.nullMask == b.nullMask && a.time == b.time &&
               a.dcac == b.dcac && a.value == b.value && a.unit == b.unit && a.judge == b.judge;
    }
    friend bool operator!=(const ReadingRow& a, const ReadingRow& b) { return !(a == b); }
};

// A row whose texts are indices into a text pool that goes with it, as a
// file reader collects them: a file of a million rows holds few distinct
// texts, each kept once.
struct PooledRow {
    std::int32_t no = 0;
    std::int32_t nval = 0;
    std::array<std::uint32_t, 5> text{}; // time, dc/ac, value, unit, auto
    std::uint8_t nullMask = 0;           // as ReadingRow::nullMask
};

class ReadingsTableStorage;

// The readings table: an append-only in-memory table. Rows are only appended
// or all removed together (Close Data), except that a loaded file's rows can
// be put in at a place marked earlier (rebuild). Storage grows in fixed chunks, so the
// table never copies itself to grow; texts are interned, so a row costs a few
// bytes however often the same text recurs.
//
// Threads: append, clear and every non-const call on the main thread only.
// A Snapshot may be read from any thread while the main thread goes on
// appending or clears the table, and snapshot() may be called from any thread.
// The table's own readers (rowCount, integer, text, isNull, row) belong to the
// main thread; a text reference they return stays valid until the next clear,
// one from a Snapshot as long as the Snapshot.
class ReadingsTable {
public:
    static constexpr int kTextSize = 20;

    ReadingsTable();
    ~ReadingsTable();
    ReadingsTable(const ReadingsTable&) = delete;
    ReadingsTable& operator=(const ReadingsTable&) = delete;

    // Field names as files and the grid know them: "no", "time", "dc/ac",
    // "value", "unit", "auto", "nval". Look-up ignores case; -1 when unknown.
    [[nodiscard]] static QString fieldName(Field f);
    [[nodiscard]] static int fieldIndex(QStringView name);

    [[nodiscard]] std::int64_t rowCount() const;
    void append(const ReadingRow& row);
    void clear();

    // A place in the table: the row count at some moment, and which contents
    // it belongs to (a clear or a rebuild starts new contents).
    struct Mark {
        std::uint64_t generation = 0;
        std::int64_t rows = 0;
    };
    [[nodiscard]] Mark mark() const { return {generation_, rowCount()}; }
    // The row that was appended first after `mark`: the mark's row count, or
    // 0 when the contents changed since (every row present came later).
    [[nodiscard]] std::int64_t rowAfter(const Mark& mark) const;

    // Replaces the contents by rows [0, before), then the rows `insert`
    // appends to the table it is handed, then rows [after, rowCount()), each
    // part in its order. O(rows) once: the new contents are built beside the
    // old ones and take their place at the end, so an exception leaves the
    // table as it was, and snapshots keep the rows they had. When there are
    // no rows from `before` on, `insert` appends to this table directly.
    // Main thread only.
    void rebuild(std::int64_t before, std::int64_t after,
                 const std::function<void(ReadingsTable&)>& insert);

    // Texts are returned by reference into the interned pool: no allocation.
    [[nodiscard]] std::int32_t integer(std::int64_t row, Field f) const; // no, nval
    [[nodiscard]] const QString& text(std::int64_t row, Field f) const;  // the five texts
    [[nodiscard]] bool isNull(std::int64_t row, Field f) const;
    [[nodiscard]] ReadingRow row(std::int64_t row) const;

    // The rows present now, unchanged by later appends or a clear.
    class Snapshot {
    public:
        Snapshot() = default;
        [[nodiscard]] std::int64_t rowCount() const { return rows_; }
        [[nodiscard]] std::int32_t integer(std::int64_t row, Field f) const;
        [[nodiscard]] const QString& text(std::int64_t row, Field f) const;
        [[nodiscard]] bool isNull(std::int64_t row, Field f) const;
        [[nodiscard]] ReadingRow row(std::int64_t row) const;

    private:
        friend class ReadingsTable;
        std::shared_ptr<const ReadingsTableStorage> storage_;
        std::int64_t rows_ = 0;
    };
    [[nodiscard]] Snapshot snapshot() const;

    // Appends pooled rows. Each pool text is interned once, at its first use,
    // so a row costs a few array look-ups rather than five hash look-ups.
    // Main thread only; neither the pool nor the table (by a clear) may change
    // otherwise while the appender lives.
    class PooledAppender {
    public:
        PooledAppender(ReadingsTable& table, const QList<QString>& pool);
        // False, and nothing appended, when a text index lies outside the
        // pool or the table cannot hold another row.
        [[nodiscard]] bool append(const PooledRow& row);

    private:
        std::shared_ptr<ReadingsTableStorage> storage_;
        const QList<QString>& pool_;
        std::vector<std::uint32_t> tableIndex_; // per pool text; kUnmapped until first use
    };

    // Bytes held for rows and texts, for the memory benchmark.
    [[nodiscard]] std::size_t memoryBytes() const;

private:
    std::shared_ptr<ReadingsTableStorage> storage_;
    std::uint64_t generation_ = 0; // main thread only
};

} // namespace qm45
