#pragma once

#include "record/LoadedRows.h"

#include <QByteArrayView>

#include <array>
#include <cstdint>

namespace qm45 {

// Splits the bytes of a tab-separated data file into rows.
//
// Lines end with CR LF, LF or CR; line 1 is dropped. Bytes 1 to 32 separate
// fields, a run of them counting as one. A field that begins with a double
// quote runs to the closing quote ("" inside standing for one quote) or to
// the end of the line; the next byte after the closing quote starts the next
// field even without a separator. Fields 1 to 7 go to no, time, dc/ac, value,
// unit, auto and nval; fields missing at the end of a line leave the rest
// NULL; a line without fields is skipped.
//
// The file is fed in pieces of any size, so memory stays bounded whatever the
// file holds: a field keeps only the bytes that can make its first 20
// characters, so a gigabyte without a line end costs no more than a short
// line.
class TextDataReader {
public:
    explicit TextDataReader(LoadedRows& rows) : rows_(rows) {}

    // False once the file has proved bad: more than seven fields in a line, a
    // no or nval that is not a 32-bit integer, or more rows than a load takes.
    // The rows of the lines before the bad one are in `rows`; the bad line's
    // row is not.
    [[nodiscard]] bool feed(QByteArrayView bytes);
    // The end of the file. False for a file without a single byte.
    [[nodiscard]] bool finish();

    [[nodiscard]] bool failed() const { return failed_; }
    // 1-based line that made the load fail; 0 while nothing failed.
    [[nodiscard]] std::int64_t failedLine() const { return failed_ ? line_ : 0; }

private:
    // 20 characters of UTF-8 take at most 80 bytes.
    static constexpr int kFieldBytes = 80;
    static constexpr int kMaxFields = 7;

    struct FieldBytes {
        std::array<char, kFieldBytes> bytes;
        int size = 0;
        bool cut = false;
    };
    enum class State { BetweenFields, Bare, Quoted, QuoteInQuoted };

    bool startField();
    void addByte(char byte);
    void addBytes(const char* bytes, qsizetype count);
    bool endLine();
    bool fail();

    LoadedRows& rows_;
    std::array<FieldBytes, kMaxFields> fields_{};
    int fieldCount_ = 0;
    State state_ = State::BetweenFields;
    std::int64_t line_ = 1;
    bool inFirstLine_ = true;
    bool afterCarriageReturn_ = false;
    bool anyByte_ = false;
    bool failed_ = false;
};

} // namespace qm45
