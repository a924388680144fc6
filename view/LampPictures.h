#pragma once

#include <QImage>
#include <QSize>

namespace qm45 {

// The connection lamp: a computer and a meter joined by a cable. Lit screens
// (CONok) while frames arrive, dark screens (CONokN) otherwise. Both are
// 25 pixels wide and share one place, so they are drawn left/top aligned with
// the same layout; the dark one is the shorter picture.
class LampPictures {
public:
    static constexpr QSize litSize{25, 24};
    static constexpr QSize darkSize{25, 20};

    [[nodiscard]] static QImage lit();
    [[nodiscard]] static QImage dark();
};

} // namespace qm45
