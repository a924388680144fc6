#pragma once

#include <QChar>

#include <cstdint>
#include <limits>

namespace qm45 {

namespace decimal_detail {
inline int codeOf(char c) {
    return static_cast<unsigned char>(c);
}
inline int codeOf(QChar c) {
    return c.unicode();
}
} // namespace decimal_detail

// A 32-bit integer written as an optional sign and decimal digits, leading
// zeros allowed; nothing else, not even blanks. For QByteArrayView and
// QStringView alike.
template <typename Text>
[[nodiscard]] bool parseDecimalInteger(const Text& text, std::int32_t& value) {
    using decimal_detail::codeOf;
    const auto size = text.size();
    if (size == 0)
        return false;
    decltype(text.size()) i = 0;
    const int first = codeOf(text[0]);
    const bool negative = first == '-';
    if (first == '-' || first == '+')
        ++i;
    if (i == size)
        return false;
    constexpr std::int64_t kLimit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t magnitude = 0;
    for (; i < size; ++i) {
        const int code = codeOf(text[i]);
        if (code < '0' || code > '9')
            return false;
        magnitude = magnitude * 10 + (code - '0');
        if (magnitude > kLimit)
            return false;
    }
    if (!negative && magnitude == kLimit)
        return false;
    value = std::int32_t(negative ? -magnitude : magnitude);
    return true;
}

} // namespace qm45
