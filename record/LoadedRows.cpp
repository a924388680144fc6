#include "record/LoadedRows.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace qm45 {

namespace {

// Bytes 0x80 to 0x9F of Windows-1252; the rest of the code equals Latin-1.
// The five bytes the code leaves undefined keep their Latin-1 value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b <= 0x9F) ? QChar(kWindows1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

// A field cut after its first bytes may end inside a UTF-8 sequence; without
// this the whole field would fail as UTF-8 and come out as Windows-1252.
QByteArrayView withoutIncompleteTail(QByteArrayView bytes) {
    qsizetype start = bytes.size() - 1;
    while (start > 0 && bytes.size() - start < 4 &&
           (static_cast<unsigned char>(bytes[start]) & 0xC0) == 0x80)
        --start;
    if (start < 0)
        return bytes;
    const auto lead = static_cast<unsigned char>(bytes[start]);
    const qsizetype length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return start + length > bytes.size() ? bytes.first(start) : bytes;
}

QString decodeField(QByteArrayView bytes, bool cut) {
    bool ascii = true;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(cut ? withoutIncompleteTail(bytes) : bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

// Eight bytes at a time through a multiply-and-fold mix; field bytes are
// short, so this is a handful of instructions.
std::uint64_t hashBytes(QByteArrayView bytes) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = std::uint64_t(bytes.size()) * kMultiplier;
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    for (; left > 0; left -= 8, p += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, std::size_t(std::min<qsizetype>(left, 8)));
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    return h;
}

std::uint64_t hashText(QStringView text) {
    return hashBytes(QByteArrayView(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
}

} // namespace

template <typename Entry>
void LoadedRows::insert(std::vector<Entry>& table, std::size_t& count, const Entry& entry) {
    const auto place = [&table](const Entry& e) {
        const std::size_t mask = table.size() - 1;
        std::size_t i = std::size_t(e.hash) & mask;
        while (table[i].id != kNoId)
            i = (i + 1) & mask;
        table[i] = e;
    };
    if (2 * (count + 1) > table.size()) {
        std::vector<Entry> old(table.size() * 2);
        old.swap(table);
        for (const Entry& e : old)
            if (e.id != kNoId)
                place(e);
    }
    place(entry);
    ++count;
}

LoadedRows::LoadedRows() {
    store(QString(), hashText(QStringView())); // id 0: the empty text of a default Row
    lastByteCount_.fill(-1);
}

std::uint32_t LoadedRows::store(QString text, std::uint64_t hash) {
    const auto id = std::uint32_t(texts_.size());
    insert(textEntries_, textEntryCount_, TextEntry{hash, id});
    texts_.append(std::move(text));
    return id;
}

std::uint32_t LoadedRows::textId(int slot, QStringView text) {
    const QStringView kept = text.left(ReadingsTable::kTextSize);
    std::uint32_t& last = lastId_[std::size_t(slot)];
    if (texts_[last] == kept)
        return last;
    const std::uint64_t hash = hashText(kept);
    const std::size_t mask = textEntries_.size() - 1;
    for (std::size_t i = std::size_t(hash) & mask; textEntries_[i].id != kNoId;
         i = (i + 1) & mask) {
        const TextEntry& e = textEntries_[i];
        if (e.hash == hash && texts_[e.id] == kept) {
            last = e.id;
            return last;
        }
    }
    last = store(kept.toString(), hash);
    return last;
}

std::uint32_t* LoadedRows::findBytes(QByteArrayView bytes, std::uint64_t hash) {
    const std::size_t mask = byteEntries_.size() - 1;
    for (std::size_t i = std::size_t(hash) & mask;; i = (i + 1) & mask) {
        ByteEntry& e = byteEntries_[i];
        if (e.id == kNoId)
            return nullptr;
        if (e.hash == hash && e.size == std::uint32_t(bytes.size()) &&
            std::memcmp(byteKeys_.data() + e.offset, bytes.data(), std::size_t(bytes.size())) == 0)
            return &e.id;
    }
}

void LoadedRows::addBytes(QByteArrayView bytes, std::uint64_t hash, std::uint32_t id) {
    insert(byteEntries_, byteEntryCount_,
           ByteEntry{hash, id, std::uint32_t(bytes.size()), byteKeys_.size()});
    byteKeys_.append(bytes.data(), std::size_t(bytes.size()));
}

std::uint32_t LoadedRows::textIdForBytes(int slot, QByteArrayView bytes, bool cut) {
    const auto s = std::size_t(slot);
    if (lastByteCount_[s] == bytes.size() &&
        std::equal(bytes.begin(), bytes.end(), lastBytes_[s].begin()))
        return lastId_[s];
    const std::uint64_t hash = hashBytes(bytes);
    std::uint32_t id;
    if (const std::uint32_t* found = findBytes(bytes, hash)) {
        id = *found;
    } else {
        id = textId(slot, decodeField(bytes, cut));
        addBytes(bytes, hash, id);
    }
    if (bytes.size() <= kLastBytes) {
        std::copy(bytes.begin(), bytes.end(), lastBytes_[s].begin());
        lastByteCount_[s] = int(bytes.size());
    } else {
        lastByteCount_[s] = -1;
    }
    lastId_[s] = id;
    return id;
}

bool LoadedRows::append(const Row& row) {
    if (rowCount_ >= kMaxRows)
        return false;
    if (rowCount_ % kRowsPerChunk == 0)
        chunks_.push_back(std::make_unique<Row[]>(std::size_t(kRowsPerChunk)));
    chunks_.back()[std::size_t(rowCount_ % kRowsPerChunk)] = row;
    ++rowCount_;
    return true;
}

ReadingRow LoadedRows::row(std::int64_t index) const {
    const Row& r = at(index);
    ReadingRow out;
    out.no = r.no;
    out.time = texts_[r.text[0]];
    out.dcac = texts_[r.text[1]];
    out.value = texts_[r.text[2]];
    out.unit = texts_[r.text[3]];
    out.judge = texts_[r.text[4]];
    out.nval = r.nval;
    out.nullMask = r.nullMask;
    return out;
}

void LoadedRows::appendTo(ReadingsTable& table) const {
    ReadingsTable::PooledAppender appender(table, texts_);
    for (std::int64_t i = 0; i < rowCount_; ++i) {
        if (!appender.append(at(i)))
            return;
    }
}

} // namespace qm45
