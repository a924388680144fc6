#include "record/LimitNumber.h"

#include <QLocale>

#include <cmath>

namespace qm45::LimitNumber {

namespace {
bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Appends the run of ASCII digits starting at `i` to `out`; returns how many.
qsizetype takeDigits(const QString& text, qsizetype& i, QString& out) {
    const qsizetype start = i;
    while (i < text.size() && isAsciiDigit(text.at(i)))
        out += text.at(i++);
    return i - start;
}
} // namespace

QChar separatorOf(const QString& decimalMark) {
    if (decimalMark.isEmpty() || decimalMark.at(0).isSpace())
        return {};
    return decimalMark.at(0);
}

std::optional<double> parse(const QString& text, QChar separator) {
    const QLatin1Char blank(' ');
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == blank)
        ++i;

    // Rebuilt in the C locale's notation so the conversion itself does not
    // depend on any locale.
    QString c;
    c.reserve(text.size() + 2);
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        c += text.at(i++);
    qsizetype digits = takeDigits(text, i, c);
    if (!separator.isNull() && i < text.size() && text.at(i) == separator) {
        ++i;
        c += QLatin1Char('.');
        digits += takeDigits(text, i, c);
    }
    if (digits == 0)
        return std::nullopt;

    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ++i;
        c += QLatin1Char('e');
        if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            c += text.at(i++);
        if (takeDigits(text, i, c) == 0)
            return std::nullopt;
    }

    while (i < text.size() && text.at(i) == blank)
        ++i;
    if (i != text.size())
        return std::nullopt;

    bool ok = false;
    double value = QLocale::c().toDouble(c, &ok);
    // The syntax is valid here, so a failed conversion is a range error:
    // infinity on overflow, zero on underflow.
    if (!ok) {
        if (std::isinf(value))
            return std::nullopt;
        value = 0.0;
    }
    if (value == kFallback)
        return std::nullopt;
    return value;
}

std::optional<bool> judge(const QString& valueText, const QString& highText,
                          const QString& lowText, QChar separator) {
    const std::optional<double> high = parse(highText, separator);
    const std::optional<double> low = parse(lowText, separator);
    if (!high || !low)
        return std::nullopt;
    const std::optional<double> value = parse(valueText, separator);
    // No ordering of the limits: with low above high every reading fails.
    return value && !(*value < *low) && !(*value > *high);
}

} // namespace qm45::LimitNumber
