#include "record/ReadingsTable.h"

#include "record/ChunkDirectory.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

namespace qm45 {

namespace {

constexpr int kTextFields = 5; // time, dc/ac, value, unit, auto
constexpr std::uint8_t kAllFields = (1u << kFieldCount) - 1;
constexpr std::array<Field, kTextFields> kTextFieldOrder{Field::time, Field::dcac, Field::value,
                                                         Field::unit, Field::judge};

bool isTextNull(std::uint8_t mask, int slot) {
    return (mask >> int(kTextFieldOrder[std::size_t(slot)])) & 1u;
}

// Rows sit in chunks of this many; 4096 rows are 116 KiB, small enough that a
// new chunk is no stall and large enough that the directory stays tiny.
constexpr std::size_t kRowsPerChunk = 4096;
constexpr std::size_t kTextsPerChunk = 1024;

// A row as stored: 28 bytes plus one byte of NULL flags kept beside it in the
// chunk, so a row costs 29 bytes and its texts are indices into the pool.
struct PackedRow {
    std::int32_t no;
    std::int32_t nval;
    std::uint32_t text[kTextFields];
};

struct RowChunk {
    PackedRow rows[kRowsPerChunk];
    std::uint8_t nulls[kRowsPerChunk];
};

struct TextChunk {
    QString texts[kTextsPerChunk];
};

int textSlot(Field f) {
    switch (f) {
    case Field::time:
        return 0;
    case Field::dcac:
        return 1;
    case Field::value:
        return 2;
    case Field::unit:
        return 3;
    case Field::judge:
        return 4;
    case Field::no:
    case Field::nval:
        break;
    }
    return -1;
}

const QString& emptyText() {
    static const QString empty;
    return empty;
}

// Heap bytes of one text's character block: Qt's header, the characters, the
// terminator and malloc's own header, rounded up to malloc's 16-byte granule.
std::size_t textHeapBytes(const QString& text) {
    if (text.isEmpty())
        return 0;
    const std::size_t raw = 16 + 2 * std::size_t(text.size() + 1) + 8;
    return (raw + 15) & ~std::size_t(15);
}

} // namespace

// One generation of the table, from its creation to the next clear. Snapshots
// share it, so a clear starts a new generation and leaves this one to them.
//
// Threads: the main thread writes (append) and is the only user of the
// interning index and the per-field caches. Any thread reads rows and texts
// below a row count obtained from rowCount(): that acquire load pairs with the
// release store in append, which comes after the row and its texts are
// written, so everything a reader can reach is complete and never written
// again.
class ReadingsTableStorage {
public:
    ReadingsTableStorage() {
        // Text 0 is the empty text, which NULL texts point at too.
        const TextChunk* first = textChunks_.chunkForWrite(0);
        (void)first;
        writerTexts_ = 1;
    }

    [[nodiscard]] std::int64_t rowCount() const { return rows_.load(std::memory_order_acquire); }

    [[nodiscard]] const PackedRow& packed(std::int64_t row) const {
        return rowChunks_.chunk(std::size_t(row) / kRowsPerChunk)
            ->rows[std::size_t(row) % kRowsPerChunk];
    }
    [[nodiscard]] std::uint8_t nulls(std::int64_t row) const {
        return rowChunks_.chunk(std::size_t(row) / kRowsPerChunk)
            ->nulls[std::size_t(row) % kRowsPerChunk];
    }
    [[nodiscard]] const QString& textAt(std::uint32_t index) const {
        return textChunks_.chunk(index / kTextsPerChunk)->texts[index % kTextsPerChunk];
    }

    [[nodiscard]] std::int32_t integer(std::int64_t row, Field f) const {
        if (row < 0 || row >= rowCount())
            return 0;
        if (f == Field::no)
            return packed(row).no;
        if (f == Field::nval)
            return packed(row).nval;
        return 0;
    }
    [[nodiscard]] const QString& text(std::int64_t row, Field f) const {
        const int slot = textSlot(f);
        if (slot < 0 || row < 0 || row >= rowCount())
            return emptyText();
        return textAt(packed(row).text[slot]);
    }
    [[nodiscard]] bool isNull(std::int64_t row, Field f) const {
        if (row < 0 || row >= rowCount() || int(f) < 0 || int(f) >= kFieldCount)
            return false;
        return (nulls(row) >> int(f)) & 1u;
    }
    [[nodiscard]] ReadingRow row(std::int64_t row) const {
        ReadingRow r;
        if (row < 0 || row >= rowCount())
            return r;
        const PackedRow& p = packed(row);
        r.no = p.no;
        r.nval = p.nval;
        r.time = textAt(p.text[0]);
        r.dcac = textAt(p.text[1]);
        r.value = textAt(p.text[2]);
        r.unit = textAt(p.text[3]);
        r.judge = textAt(p.text[4]);
        r.nullMask = nulls(row);
        return r;
    }

    // Main thread only. False when the table cannot hold another row or text.
    bool append(const ReadingRow& r) {
        const std::array<const QString*, kTextFields> texts{&r.time, &r.dcac, &r.value, &r.unit,
                                                            &r.judge};
        const std::uint8_t mask = std::uint8_t(r.nullMask & kAllFields);
        PackedRow p{};
        for (int i = 0; i < kTextFields; ++i) {
            if (isTextNull(mask, i))
                continue;
            const std::int64_t index = intern(i, *texts[std::size_t(i)]);
            if (index < 0)
                return false;
            p.text[i] = std::uint32_t(index);
        }
        p.no = r.no;
        p.nval = r.nval;
        return appendPacked(p, mask);
    }

    // Main thread only. A row whose texts are pool indices already; NULL
    // numbers are stored as 0. False when the table cannot hold another row.
    bool appendPacked(PackedRow p, std::uint8_t mask) {
        const std::int64_t at = writerRows_;
        RowChunk* chunk = rowChunks_.chunkForWrite(std::size_t(at) / kRowsPerChunk);
        if (!chunk)
            return false;
        if ((mask >> int(Field::no)) & 1u)
            p.no = 0;
        if ((mask >> int(Field::nval)) & 1u)
            p.nval = 0;
        chunk->rows[std::size_t(at) % kRowsPerChunk] = p;
        chunk->nulls[std::size_t(at) % kRowsPerChunk] = mask;
        writerRows_ = at + 1;
        rows_.store(writerRows_, std::memory_order_release);
        return true;
    }

    // Main thread only, on the generation being built. Appends rows
    // [begin, end) of `source`, each distinct text looked up once.
    bool appendRange(const ReadingsTableStorage& source, std::int64_t begin, std::int64_t end) {
        std::vector<std::uint32_t> mapped(std::size_t(source.writerTexts_), UINT32_MAX);
        mapped[0] = 0;
        for (std::int64_t row = begin; row < end; ++row) {
            PackedRow p = source.packed(row);
            for (int i = 0; i < kTextFields; ++i) {
                std::uint32_t& to = mapped[p.text[i]];
                if (to == UINT32_MAX) {
                    const std::int64_t index = intern(i, source.textAt(p.text[i]));
                    if (index < 0)
                        return false;
                    to = std::uint32_t(index);
                }
                p.text[i] = to;
            }
            if (!appendPacked(p, source.nulls(row)))
                return false;
        }
        return true;
    }

    // Main thread only.
    [[nodiscard]] std::size_t memoryBytes() const {
        return sizeof(*this) + rowChunks_.memoryBytes() + textChunks_.memoryBytes() +
               textHeapBytes_ +
               std::size_t(index_.capacity()) * (sizeof(QString) + sizeof(std::uint32_t) + 2);
    }

    // The pool index of a text, adding it when new; -1 when the pool is full.
    // Main thread only.
    std::int64_t intern(int slot, const QString& raw) {
        const QStringView text = QStringView(raw).left(ReadingsTable::kTextSize);
        if (text.isEmpty())
            return 0;
        // Function, unit and verdict rarely change between rows; the last one
        // of each field is compared first, which spares most hash look-ups.
        const std::uint32_t last = lastIndex_[std::size_t(slot)];
        if (last != 0 && textAt(last) == text)
            return last;
        QString cut;
        if (raw.size() > ReadingsTable::kTextSize)
            cut = text.toString();
        auto it = index_.constFind(cut.isNull() ? raw : cut);
        std::uint32_t index = 0;
        if (it != index_.constEnd()) {
            index = it.value();
        } else {
            // A copy of exactly the text: the caller's string may carry spare
            // capacity or point at a buffer it owns (QString::fromRawData).
            const QString key(text.data(), text.size());
            const std::int64_t at = writerTexts_;
            if (at >= std::int64_t(UINT32_MAX))
                return -1;
            TextChunk* chunk = textChunks_.chunkForWrite(std::size_t(at) / kTextsPerChunk);
            if (!chunk)
                return -1;
            chunk->texts[std::size_t(at) % kTextsPerChunk] = key;
            index = std::uint32_t(at);
            index_.insert(key, index);
            textHeapBytes_ += textHeapBytes(key);
            writerTexts_ = at + 1;
        }
        lastIndex_[std::size_t(slot)] = index;
        return index;
    }

private:
    ChunkDirectory<RowChunk> rowChunks_;
    ChunkDirectory<TextChunk> textChunks_;
    std::atomic<std::int64_t> rows_{0};

    // Main thread only.
    std::int64_t writerRows_ = 0;
    std::int64_t writerTexts_ = 0;
    QHash<QString, std::uint32_t> index_;
    std::array<std::uint32_t, kTextFields> lastIndex_{};
    std::size_t textHeapBytes_ = 0;
};

namespace {
constexpr std::array<const char*, kFieldCount> kFieldNames{"no",   "time", "dc/ac", "value",
                                                           "unit", "auto", "nval"};
} // namespace

namespace {
constexpr std::uint32_t kUnmapped = UINT32_MAX;
} // namespace

ReadingsTable::PooledAppender::PooledAppender(ReadingsTable& table, const QList<QString>& pool)
    : storage_(table.storage_), pool_(pool), tableIndex_(std::size_t(pool.size()), kUnmapped) {}

bool ReadingsTable::PooledAppender::append(const PooledRow& row) {
    const std::uint8_t mask = std::uint8_t(row.nullMask & kAllFields);
    PackedRow p{};
    for (int i = 0; i < kTextFields; ++i) {
        if (isTextNull(mask, i))
            continue;
        const std::uint32_t id = row.text[std::size_t(i)];
        if (id >= tableIndex_.size())
            return false;
        std::uint32_t& mapped = tableIndex_[id];
        if (mapped == kUnmapped) {
            const std::int64_t index = storage_->intern(i, pool_[qsizetype(id)]);
            if (index < 0)
                return false;
            mapped = std::uint32_t(index);
        }
        p.text[i] = mapped;
    }
    p.no = row.no;
    p.nval = row.nval;
    return storage_->appendPacked(p, mask);
}

ReadingsTable::ReadingsTable() : storage_(std::make_shared<ReadingsTableStorage>()) {}

ReadingsTable::~ReadingsTable() = default;

QString ReadingsTable::fieldName(Field f) {
    const int i = int(f);
    if (i < 0 || i >= kFieldCount)
        return {};
    return QLatin1String(kFieldNames[std::size_t(i)]);
}

int ReadingsTable::fieldIndex(QStringView name) {
    for (int i = 0; i < kFieldCount; ++i) {
        if (name.compare(QLatin1String(kFieldNames[std::size_t(i)]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

std::int64_t ReadingsTable::rowCount() const {
    return storage_->rowCount();
}

void ReadingsTable::append(const ReadingRow& row) {
    // A table of four billion rows is beyond any memory this runs in; the
    // check keeps an impossible row from writing past the directory.
    const bool stored = storage_->append(row);
    Q_ASSERT(stored);
    (void)stored;
}

void ReadingsTable::clear() {
    // Snapshot takers on other threads read storage_ through atomic_load.
    std::atomic_store(&storage_, std::make_shared<ReadingsTableStorage>());
    ++generation_;
}

std::int64_t ReadingsTable::rowAfter(const Mark& mark) const {
    if (mark.generation != generation_)
        return 0;
    return std::clamp<std::int64_t>(mark.rows, 0, rowCount());
}

void ReadingsTable::rebuild(std::int64_t before, std::int64_t after,
                            const std::function<void(ReadingsTable&)>& insert) {
    const std::int64_t rows = rowCount();
    before = std::clamp<std::int64_t>(before, 0, rows);
    after = std::clamp<std::int64_t>(after, before, rows);
    if (before == rows) {
        if (insert)
            insert(*this);
        return;
    }
    ReadingsTable fresh;
    bool stored = fresh.storage_->appendRange(*storage_, 0, before);
    if (insert)
        insert(fresh);
    stored = stored && fresh.storage_->appendRange(*storage_, after, rows);
    Q_ASSERT(stored);
    (void)stored;
    std::atomic_store(&storage_, std::move(fresh.storage_));
    ++generation_;
}

std::int32_t ReadingsTable::integer(std::int64_t row, Field f) const {
    return storage_->integer(row, f);
}

const QString& ReadingsTable::text(std::int64_t row, Field f) const {
    return storage_->text(row, f);
}

bool ReadingsTable::isNull(std::int64_t row, Field f) const {
    return storage_->isNull(row, f);
}

ReadingRow ReadingsTable::row(std::int64_t row) const {
    return storage_->row(row);
}

ReadingsTable::Snapshot ReadingsTable::snapshot() const {
    Snapshot s;
    s.storage_ = std::atomic_load(&storage_);
    s.rows_ = s.storage_->rowCount();
    return s;
}

std::size_t ReadingsTable::memoryBytes() const {
    return sizeof(*this) + storage_->memoryBytes();
}

std::int32_t ReadingsTable::Snapshot::integer(std::int64_t row, Field f) const {
    if (!storage_ || row < 0 || row >= rows_)
        return 0;
    return storage_->integer(row, f);
}

const QString& ReadingsTable::Snapshot::text(std::int64_t row, Field f) const {
    if (!storage_ || row < 0 || row >= rows_)
        return emptyText();
    return storage_->text(row, f);
}

bool ReadingsTable::Snapshot::isNull(std::int64_t row, Field f) const {
    if (!storage_ || row < 0 || row >= rows_)
        return false;
    return storage_->isNull(row, f);
}

ReadingRow ReadingsTable::Snapshot::row(std::int64_t row) const {
    if (!storage_ || row < 0 || row >= rows_)
        return {};
    return storage_->row(row);
}

} // namespace qm45
