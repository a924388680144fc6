#pragma once

#include <QFont>

namespace qm45 {

// The fonts the window names, mapped onto families every Debian desktop has.
// Sizes are in pixels so the fixed layout does not scale with the screen's
// font settings.
namespace Fonts {
// Arial: Liberation Sans has the same metrics.
QFont arial(int pixelSize, bool bold = false);
// The window font ("MS Sans Serif"), a bitmap sans serif of the same widths.
QFont sansSerif(int pixelSize, bool bold = false);
// The window's own font: 8 point bold at 96 dpi.
QFont window();
} // namespace Fonts

} // namespace qm45
