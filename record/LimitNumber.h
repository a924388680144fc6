#pragma once

#include <QChar>
#include <QString>

#include <optional>

namespace qm45 {

// How the limit texts and the measured value are read as numbers: floating
// point in the locale's notation, with the locale's decimal mark.
namespace LimitNumber {

// The conversion's fallback. A text that converts to exactly this value is
// indistinguishable from a failed conversion, so it never counts as a number.
inline constexpr double kFallback = -999999.0;

// The decimal mark as typed and read: the first character of the locale's
// mark, or a null QChar when that character is a blank or the mark is empty
// (the locale could not be determined; then no decimal character is valid).
[[nodiscard]] QChar separatorOf(const QString& decimalMark);

// Blanks (spaces) around, an optional sign, ASCII digits with at most one
// `separator`, and an optional exponent ("e" or "E", optional sign, digits).
// At least one mantissa digit is needed. Texts whose magnitude exceeds the
// range of a double are not numbers (an infinite limit would silently turn
// the comparison off); texts too small for a double read as zero.
[[nodiscard]] std::optional<double> parse(const QString& text, QChar separator);

// The verdict texts stored with a reading and written to the readings table.
inline constexpr const char* kPassText = "pass";
inline constexpr const char* kFailText = "Fail";

// Judges a reading's value text against the two limit texts: true for pass
// (low <= value <= high), false for fail (also a value that is not a number,
// an overload, and every value when low is above high). Nothing while either
// limit is not a number: the previous verdict then stands.
[[nodiscard]] std::optional<bool> judge(const QString& valueText, const QString& highText,
                                        const QString& lowText, QChar separator);

} // namespace LimitNumber
} // namespace qm45
