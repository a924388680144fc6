#include "record/ReportPainter.h"

#include "record/Fonts.h"

#include <QPainter>
#include <QStringList>

#include <cmath>

namespace qm45 {

namespace {

// QFont sizes are whole pixels, so the texts are set in units of 1/100 mm:
// 10 point (3.528 mm) becomes 353 units, off by less than 0.1 %.
constexpr double kUnitsPerMm = 100.0;

int fontUnits() {
    return int(std::lround(ReportLayout::kPointSize * 25.4 / 72.0 * kUnitsPerMm));
}

} // namespace

QFont ReportPainter::font(ReportLayout::Face face) {
    QFont font = Fonts::arial(fontUnits());
    // The meter's annunciator font exists nowhere; like the LCD replica, the
    // report sets its letters in Arial's metric clone and its unit codes through
    // the symbol mapping.
    if (face == ReportLayout::Face::Symbol)
        font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    return font;
}

ReportPainter::ReportPainter(ReadingsTable::Snapshot rows)
    : rows_(std::move(rows)), symbol_(font(ReportLayout::Face::Symbol)),
      arial_(font(ReportLayout::Face::Arial)), symbolMetrics_(symbol_), arialMetrics_(arial_) {}

std::int64_t ReportPainter::pageCount() const {
    return ReportLayout::pageCount(rows_.rowCount());
}

void ReportPainter::paintPage(QPainter& painter, std::int64_t page) const {
    const std::vector<ReportLayout::Text> texts = ReportLayout::pageTexts(rows_, page);
    painter.save();
    painter.scale(1.0 / kUnitsPerMm, 1.0 / kUnitsPerMm);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    const QFont* current = nullptr;
    for (const ReportLayout::Text& t : texts) {
        const bool arial = t.face == ReportLayout::Face::Arial;
        const QFont& font = arial ? arial_ : symbol_;
        const QFontMetricsF& metrics = arial ? arialMetrics_ : symbolMetrics_;
        if (current != &font) {
            painter.setFont(font);
            current = &font;
        }
        const QRectF box(t.box.topLeft() * kUnitsPerMm, t.box.size() * kUnitsPerMm);
        const qreal width = metrics.horizontalAdvance(t.text);
        qreal left = box.left();
        if (t.centred)
            left += (box.width() - width) / 2;
        const QPointF baseline(left, box.top() + metrics.ascent());
        if (width <= box.width()) {
            painter.drawText(baseline, t.text);
            continue;
        }
        painter.save();
        painter.setClipRect(box, Qt::IntersectClip);
        painter.drawText(baseline, t.text);
        painter.restore();
    }
    painter.restore();
}

} // namespace qm45
