#pragma once

#include "record/Sample.h"

#include <QDateTime>
#include <QChar>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm45 {

// The formats qm45-log writes, one row per line.
//
// - Text: the window's tab-separated data file (its header, CR LF lines), so
//   the window's "Open old data files" reads a log back.
// - Csv: RFC 4180 with a header line and CR LF line ends. Fields: timestamp
//   (ISO 8601 with date, milliseconds and offset from UTC), no, time (as in
//   the window), function, value (as shown), unit (readable symbol), si_value
//   (the value in SI units, a number; empty when the value is not one),
//   auto (true/false), verdict ("pass", "Fail", empty before the first one).
// - Jsonl: one JSON object per line with the same fields; si_value and
//   verdict are null when empty.
enum class LogFormat { Text, Csv, Jsonl };

struct LogRow {
    std::int32_t no = 0;
    QDateTime taken;  // local time with its offset
    std::string time; // the time column, "hh:mm:ss" with the system's separator
    const Sample* sample = nullptr;
};

namespace LogFormats {

// What a file of the format begins with (with its line end; empty for Jsonl).
[[nodiscard]] std::string header(LogFormat format);
// Whether an existing file's first line (without its line end) is of the format.
[[nodiscard]] bool beginsLike(LogFormat format, std::string_view firstLine);
// The number of the row a line of the format holds; none for a header or a
// line that is not a row.
[[nodiscard]] std::optional<std::int64_t> rowNumber(LogFormat format, std::string_view line);
// Appends the row's line, with its line end.
void appendLine(LogFormat format, const LogRow& row, QChar decimalSeparator, std::string& out);

// "2026-12-10T14:27:01.123+01:00".
[[nodiscard]] std::string isoTimestamp(const QDateTime& time);
// The unit code as a person reads it: "k*" gives "kΩ", "uA" gives "µA".
[[nodiscard]] std::string readableUnit(std::string_view unitCode);
// The reading in the unit without its prefix (1.2345 "mV" gives 0.0012345);
// none for an overload or a value that is not a number.
[[nodiscard]] std::optional<double> siValue(const CurrentReading& reading, QChar decimalSeparator);

} // namespace LogFormats
} // namespace qm45
