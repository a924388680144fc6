#include "record/Fonts.h"

#include <QStringList>

namespace qm45::Fonts {

namespace {
QFont make(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
} // namespace

QFont arial(int pixelSize, bool bold) {
    return make(pixelSize, bold);
}
QFont sansSerif(int pixelSize, bool bold) {
    return make(pixelSize, bold);
}
QFont window() {
    return make(11, true);
}

} // namespace qm45::Fonts
