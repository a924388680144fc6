#include "record/TextDataReader.h"

#include "record/DecimalInteger.h"

#include <algorithm>

namespace qm45 {

namespace {

bool isSeparator(unsigned char byte) {
    return byte >= 1 && byte <= 32;
}

bool parseInteger(QByteArrayView text, bool cut, std::int32_t& value) {
    return !cut && parseDecimalInteger(text, value);
}

} // namespace

bool TextDataReader::fail() {
    failed_ = true;
    return false;
}

bool TextDataReader::startField() {
    if (fieldCount_ == kMaxFields)
        return fail();
    FieldBytes& field = fields_[std::size_t(fieldCount_++)];
    field.size = 0;
    field.cut = false;
    return true;
}

void TextDataReader::addByte(char byte) {
    FieldBytes& field = fields_[std::size_t(fieldCount_ - 1)];
    if (field.size < kFieldBytes)
        field.bytes[std::size_t(field.size++)] = byte;
    else
        field.cut = true;
}

void TextDataReader::addBytes(const char* bytes, qsizetype count) {
    FieldBytes& field = fields_[std::size_t(fieldCount_ - 1)];
    const qsizetype kept = std::min<qsizetype>(count, kFieldBytes - field.size);
    std::copy(bytes, bytes + kept, field.bytes.begin() + field.size);
    field.size += int(kept);
    field.cut = field.cut || kept < count;
}

bool TextDataReader::endLine() {
    const int count = fieldCount_;
    fieldCount_ = 0;
    state_ = State::BetweenFields;
    if (count > 0) {
        const auto view = [this](int i) {
            const FieldBytes& f = fields_[std::size_t(i)];
            return QByteArrayView(f.bytes.data(), f.size);
        };
        LoadedRows::Row row;
        if (!parseInteger(view(0), fields_[0].cut, row.no))
            return fail();
        for (int i = 1; i <= 5; ++i) {
            if (i < count)
                row.text[std::size_t(i - 1)] =
                    rows_.textIdForBytes(i - 1, view(i), fields_[std::size_t(i)].cut);
            else
                row.nullMask |= std::uint8_t(1u << i);
        }
        if (count == kMaxFields) {
            if (!parseInteger(view(6), fields_[6].cut, row.nval))
                return fail();
        } else {
            row.nullMask |= std::uint8_t(1u << int(Field::nval));
        }
        if (!rows_.append(row))
            return fail();
    }
    ++line_;
    return true;
}

bool TextDataReader::feed(QByteArrayView bytes) {
    if (failed_)
        return false;
    if (!bytes.isEmpty())
        anyByte_ = true;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end) {
        const char byte = *p++;
        if (afterCarriageReturn_) {
            afterCarriageReturn_ = false;
            if (byte == '\n')
                continue;
        }
        if (byte == '\r' || byte == '\n') {
            afterCarriageReturn_ = byte == '\r';
            if (inFirstLine_) {
                inFirstLine_ = false;
                ++line_;
            } else if (!endLine()) {
                return false;
            }
            continue;
        }
        if (inFirstLine_) {
            while (p != end && *p != '\r' && *p != '\n')
                ++p;
            continue;
        }
        const auto b = static_cast<unsigned char>(byte);
        switch (state_) {
        case State::QuoteInQuoted:
            if (byte == '"') {
                addByte('"');
                state_ = State::Quoted;
                break;
            }
            state_ = State::BetweenFields;
            [[fallthrough]];
        case State::BetweenFields:
            if (isSeparator(b))
                break;
            if (!startField())
                return false;
            if (byte == '"') {
                state_ = State::Quoted;
                break;
            }
            state_ = State::Bare;
            [[fallthrough]];
        case State::Bare: {
            if (isSeparator(b)) {
                state_ = State::BetweenFields;
                break;
            }
            // The rest of the field in one go; line ends are separators too.
            const char* const run = p - 1;
            while (p != end && !isSeparator(static_cast<unsigned char>(*p)))
                ++p;
            addBytes(run, p - run);
            break;
        }
        case State::Quoted:
            if (byte == '"')
                state_ = State::QuoteInQuoted;
            else
                addByte(byte);
            break;
        }
    }
    return true;
}

bool TextDataReader::finish() {
    if (failed_)
        return false;
    if (!anyByte_)
        return fail();
    return inFirstLine_ || endLine();
}

} // namespace qm45
