#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <string_view>

namespace qm45 {

// The meter reports units in the character codes of its LCD annunciator font,
// where a few punctuation characters stand for symbols ("*" is the ohm sign,
// "#" degrees Celsius, ...). Every place that shows a unit to the user goes
// through here, so the grid, the printed report and the replica agree.

// Display text for one code character; characters without a symbol meaning
// (letters, "%") come back unchanged.
[[nodiscard]] QString unitSymbolText(QChar code);

// True for the characters that stand for a symbol rather than for themselves.
[[nodiscard]] bool isUnitSymbolCode(QChar code);

// Display text for a whole unit code such as "k*" (kilo-ohm) or "mA%".
[[nodiscard]] QString unitDisplayText(QStringView code);

// Same for the decoder's std::string unit texts, whose characters are ASCII.
[[nodiscard]] QString unitDisplayText(std::string_view code);

} // namespace qm45
