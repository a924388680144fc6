#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QStringView>

#include <charconv>
#include <cstdint>

namespace qm45 {

// Collects a data file's bytes and hands them to the device in blocks, so a
// million rows cost a few dozen writes instead of millions. Every write is
// checked; after the first failure nothing more is written.
class OutputBuffer {
public:
    explicit OutputBuffer(QIODevice& out) : out_(out) { bytes_.reserve(kBlock + kBlock / 8); }

    void append(char c) { bytes_.append(c); }
    void append(const char* text) { bytes_.append(text); }
    void append(const QByteArray& text) { bytes_.append(text); }
    void appendInteger(std::int32_t value) {
        char digits[12];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        bytes_.append(digits, result.ptr - digits);
    }
    // UTF-8; the common all-ASCII text is copied without a conversion.
    void appendUtf8(QStringView text) {
        for (const QChar c : text) {
            if (c.unicode() >= 0x80) {
                bytes_.append(text.toUtf8());
                return;
            }
        }
        const qsizetype start = bytes_.size();
        bytes_.resize(start + text.size());
        char* out = bytes_.data() + start;
        for (const QChar c : text)
            *out++ = char(c.unicode());
    }

    [[nodiscard]] bool writeIfFull() { return bytes_.size() < kBlock || write(); }
    [[nodiscard]] bool write() {
        if (!ok_)
            return false;
        ok_ = out_.write(bytes_) == bytes_.size();
        bytes_.clear();
        return ok_;
    }

private:
    // Large enough that the write calls cost nothing next to formatting, small
    // enough that progress moves smoothly.
    static constexpr qsizetype kBlock = 1 << 20;

    QIODevice& out_;
    QByteArray bytes_;
    bool ok_ = true;
};

} // namespace qm45
