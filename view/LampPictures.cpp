#include "view/LampPictures.h"

#include <QColor>
#include <QPainter>
#include <QRect>

namespace qm45 {

namespace {

const QColor kOutline(0x20, 0x20, 0x20);
const QColor kMonitorCase(0xC8, 0xC8, 0xC8);
const QColor kMeterCase(0xF2, 0xB8, 0x1C);
const QColor kLitScreen(0x4C, 0xE0, 0x5A);
const QColor kLitMeterScreen(0xC8, 0xF0, 0xA0);
const QColor kDarkScreen(0x30, 0x38, 0x30);

// At 25 pixels every detail is a pixel or two, so the picture is built from
// whole-pixel rectangles without antialiasing to stay crisp.
void outlined(QPainter& p, const QRect& r, const QColor& inside) {
    p.fillRect(r, kOutline);
    p.fillRect(r.adjusted(1, 1, -1, -1), inside);
}

QImage draw(QSize size, bool lit) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);

    const int h = size.height();
    const QColor screen = lit ? kLitScreen : kDarkScreen;
    const QColor meterScreen = lit ? kLitMeterScreen : kDarkScreen;

    // Computer: monitor with stand on the left, its foot on the bottom row.
    const QRect monitor(0, 1, 15, h - 6);
    outlined(p, monitor, kMonitorCase);
    p.fillRect(monitor.adjusted(2, 2, -2, -3), screen);
    p.fillRect(QRect(6, monitor.bottom() + 1, 3, 2), kOutline);
    p.fillRect(QRect(3, h - 3, 9, 2), kOutline);

    // Meter: an upright handheld on the right, its display near the top and
    // the round selector under it.
    const QRect meter(16, 0, 9, h);
    outlined(p, meter, kMeterCase);
    const QRect meterDisplay(18, 2, 5, h >= 24 ? 6 : 5);
    p.fillRect(meterDisplay, kOutline);
    p.fillRect(meterDisplay.adjusted(1, 1, -1, -1), meterScreen);
    const int dialTop = meterDisplay.bottom() + 3;
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawEllipse(QRectF(18.0, dialTop, 5.0, 5.0));
    p.setRenderHint(QPainter::Antialiasing, false);

    // The cable from the computer's foot into the meter's side.
    p.fillRect(QRect(12, h - 2, 4, 1), kOutline);
    return image;
}

} // namespace

QImage LampPictures::lit() {
    return draw(litSize, true);
}

QImage LampPictures::dark() {
    return draw(darkSize, false);
}

} // namespace qm45
