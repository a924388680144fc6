#include "record/RowIndicatorHeader.h"

#include <QItemSelectionModel>
#include <QPainter>
#include <QPolygon>

namespace qm45 {

RowIndicatorHeader::RowIndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
    setFixedWidth(kWidth);
    setHighlightSections(false);
    setSectionsClickable(false);
}

QSize RowIndicatorHeader::sizeHint() const {
    return {kWidth, defaultSectionSize()};
}

void RowIndicatorHeader::paintSection(QPainter* painter, const QRect& rect,
                                      int logicalIndex) const {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    const QItemSelectionModel* selection = selectionModel();
    if (!selection || selection->currentIndex().row() != logicalIndex)
        return;
    const int h = qMin(rect.height() - 4, rect.width() - 4) / 2 * 2;
    if (h < 4)
        return;
    const int left = rect.left() + (rect.width() - h / 2) / 2;
    const int top = rect.top() + (rect.height() - h) / 2;
    const QPolygon arrow(
        {QPoint(left, top), QPoint(left + h / 2, top + h / 2), QPoint(left, top + h)});
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    painter->setBrush(palette().color(QPalette::WindowText));
    painter->drawPolygon(arrow);
    painter->restore();
}

} // namespace qm45
