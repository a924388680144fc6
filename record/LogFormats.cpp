#include "record/LogFormats.h"

#include "protocol/UnitSymbols.h"
#include "record/LimitNumber.h"
#include "record/TextDataFile.h"

#include <charconv>
#include <cmath>

namespace qm45 {

namespace {

constexpr std::string_view kCsvHeader =
    "timestamp,no,time,function,value,unit,si_value,auto,verdict";

// Blanks and control characters at both ends, as the window's data file drops them.
std::string_view trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

void appendInteger(std::string& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void appendTextField(std::string& out, std::string_view text) {
    const std::string_view t = trimmed(text);
    if (t.empty())
        out += "NULL";
    else
        out += t;
}

void appendCsvField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendNumber(std::string& out, double value) {
    // Locale-independent, and short: readings carry five digits at most.
    char digits[32];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 12);
    out.append(digits, result.ptr);
}

void twoDigits(std::string& out, int n) {
    out += char('0' + n / 10 % 10);
    out += char('0' + n % 10);
}

double prefixFactor(char prefix) {
    switch (prefix) {
    case 'n':
        return 1e-9;
    case 'u':
    case '+': // the micro sign's code
        return 1e-6;
    case 'm':
        return 1e-3;
    case 'k':
        return 1e3;
    case 'M':
        return 1e6;
    default:
        return 1;
    }
}

} // namespace

std::string LogFormats::header(LogFormat format) {
    switch (format) {
    case LogFormat::Text:
        return TextDataFile::kHeader;
    case LogFormat::Csv:
        return std::string(kCsvHeader) + "\r\n";
    case LogFormat::Jsonl:
        break;
    }
    return {};
}

bool LogFormats::beginsLike(LogFormat format, std::string_view firstLine) {
    switch (format) {
    case LogFormat::Text: {
        std::string_view h = TextDataFile::kHeader;
        h.remove_suffix(2);
        return firstLine == h;
    }
    case LogFormat::Csv:
        return firstLine == kCsvHeader;
    case LogFormat::Jsonl: {
        // A row, or the start of one that a crash cut; never an empty line.
        constexpr std::string_view start = "{\"timestamp\":";
        return !firstLine.empty() &&
               firstLine.substr(0, start.size()) == start.substr(0, firstLine.size());
    }
    }
    return false;
}

std::optional<std::int64_t> LogFormats::rowNumber(LogFormat format, std::string_view line) {
    std::string_view digits;
    switch (format) {
    case LogFormat::Text:
        digits = line.substr(0, line.find('\t'));
        break;
    case LogFormat::Csv: {
        const std::size_t comma = line.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        const std::string_view rest = line.substr(comma + 1);
        digits = rest.substr(0, rest.find(','));
        break;
    }
    case LogFormat::Jsonl: {
        constexpr std::string_view key = "\"no\":";
        const std::size_t at = line.find(key);
        if (at == std::string_view::npos)
            return std::nullopt;
        const std::string_view rest = line.substr(at + key.size());
        digits = rest.substr(0, rest.find_first_not_of("0123456789"));
        break;
    }
    }
    std::int64_t value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
        value < 1)
        return std::nullopt;
    return value;
}

std::string LogFormats::isoTimestamp(const QDateTime& time) {
    std::string out;
    out.reserve(29);
    const QDate d = time.date();
    const QTime t = time.time();
    appendInteger(out, d.year());
    out += '-';
    twoDigits(out, d.month());
    out += '-';
    twoDigits(out, d.day());
    out += 'T';
    twoDigits(out, t.hour());
    out += ':';
    twoDigits(out, t.minute());
    out += ':';
    twoDigits(out, t.second());
    out += '.';
    const int ms = t.msec();
    out += char('0' + ms / 100);
    twoDigits(out, ms % 100);
    int offset = time.offsetFromUtc() / 60;
    out += offset < 0 ? '-' : '+';
    offset = std::abs(offset);
    twoDigits(out, offset / 60);
    out += ':';
    twoDigits(out, offset % 60);
    return out;
}

std::string LogFormats::readableUnit(std::string_view unitCode) {
    std::string code(unitCode);
    // The decoder writes the micro prefix as a plain 'u'.
    if (code.size() > 1 && code.front() == 'u')
        code.front() = '+';
    return unitDisplayText(code).toStdString();
}

std::optional<double> LogFormats::siValue(const CurrentReading& reading, QChar decimalSeparator) {
    const std::optional<double> value =
        LimitNumber::parse(QString::fromStdString(reading.ValueText), decimalSeparator);
    if (!value)
        return std::nullopt;
    const std::string& unit = reading.UnitText;
    // A prefix is a first character with a unit after it; a percentage
    // ("mA%" of the loop current) has none.
    if (unit.size() < 2 || unit.back() == '%')
        return *value;
    return *value * prefixFactor(unit.front());
}

void LogFormats::appendLine(LogFormat format, const LogRow& row, QChar decimalSeparator,
                            std::string& out) {
    const Sample& s = *row.sample;
    switch (format) {
    case LogFormat::Text:
        appendInteger(out, row.no);
        for (const std::string* field :
             {&row.time, &s.FunctionText, &s.ValueText, &s.UnitText, &s.JudgeText}) {
            out += '\t';
            appendTextField(out, *field);
        }
        out += "\r\n";
        return;
    case LogFormat::Csv: {
        out += isoTimestamp(row.taken);
        out += ',';
        appendInteger(out, row.no);
        out += ',';
        appendCsvField(out, row.time);
        out += ',';
        appendCsvField(out, s.FunctionText);
        out += ',';
        appendCsvField(out, s.ValueText);
        out += ',';
        appendCsvField(out, readableUnit(s.UnitText));
        out += ',';
        if (const std::optional<double> si = siValue(s, decimalSeparator))
            appendNumber(out, *si);
        out += ',';
        out += s.AutoText.empty() ? "false" : "true";
        out += ',';
        appendCsvField(out, s.JudgeText);
        out += "\r\n";
        return;
    }
    case LogFormat::Jsonl: {
        out += "{\"timestamp\":";
        appendJsonString(out, isoTimestamp(row.taken));
        out += ",\"no\":";
        appendInteger(out, row.no);
        out += ",\"time\":";
        appendJsonString(out, row.time);
        out += ",\"function\":";
        appendJsonString(out, s.FunctionText);
        out += ",\"value\":";
        appendJsonString(out, s.ValueText);
        out += ",\"unit\":";
        appendJsonString(out, readableUnit(s.UnitText));
        out += ",\"si_value\":";
        if (const std::optional<double> si = siValue(s, decimalSeparator))
            appendNumber(out, *si);
        else
            out += "null";
        out += ",\"auto\":";
        out += s.AutoText.empty() ? "false" : "true";
        out += ",\"verdict\":";
        if (s.JudgeText.empty())
            out += "null";
        else
            appendJsonString(out, s.JudgeText);
        out += "}\n";
        return;
    }
    }
}

} // namespace qm45
