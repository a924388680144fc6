#include "record/RowIndicatorHeader.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyleOptionHeader>
#include <QTableView>

namespace qm45 {

RowIndicatorHeader::RowIndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
    setFixedWidth(kWidth);
    setHighlightSections(false);
    setSectionsClickable(false);
}

QSize RowIndicatorHeader::sizeHint() const {
    return {kWidth, defaultSectionSize()};
}

void RowIndicatorHeader::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    // The header lies beside the table's viewport, top to top, so a row lies
    // at the same height in both.
    int paintedTo = area.top();
    const auto* table = qobject_cast<const QTableView*>(parentWidget());
    if (table && table->model()) {
        const int rowCount = table->model()->rowCount(table->rootIndex());
        const int current = table->currentIndex().row();
        const int height = defaultSectionSize();
        for (QModelIndex index = table->indexAt(QPoint(0, area.top())); index.isValid();
             index = index.siblingAtRow(index.row() + 1)) {
            const QRect row(0, table->visualRect(index).top(), viewport()->width(), height);
            if (row.top() > area.bottom())
                break;
            paintRow(painter, row, index.row(), rowCount, index.row() == current);
            paintedTo = row.bottom() + 1;
        }
    }
    if (paintedTo <= area.bottom()) {
        QStyleOption below;
        below.initFrom(this);
        below.state &= ~QStyle::State_Horizontal;
        below.rect = QRect(0, paintedTo, viewport()->width(), area.bottom() - paintedTo + 1);
        style()->drawControl(QStyle::CE_HeaderEmptyArea, &below, &painter, this);
    }
}

void RowIndicatorHeader::paintRow(QPainter& painter, const QRect& rect, int row, int rowCount,
                                  bool current) const {
    QStyleOptionHeader section;
    initStyleOption(&section);
    if (window()->isActiveWindow())
        section.state |= QStyle::State_Active;
    section.rect = rect;
    section.section = row;
    section.textAlignment = defaultAlignment();
    section.iconAlignment = Qt::AlignVCenter;
    const bool first = row == 0;
    const bool last = row == rowCount - 1;
    section.position = first && last ? QStyleOptionHeader::OnlyOneSection
                       : first       ? QStyleOptionHeader::Beginning
                       : last        ? QStyleOptionHeader::End
                                     : QStyleOptionHeader::Middle;
    section.selectedPosition = QStyleOptionHeader::NotAdjacent;
    // The style puts back the clip it found, and a painter without one then
    // clips everything away: what is painted after the section would vanish.
    painter.save();
    style()->drawControl(QStyle::CE_Header, &section, &painter, this);
    painter.restore();

    if (!current)
        return;
    const int h = qMin(rect.height() - 4, rect.width() - 4) / 2 * 2;
    if (h < 4)
        return;
    const int left = rect.left() + (rect.width() - h / 2) / 2;
    const int top = rect.top() + (rect.height() - h) / 2;
    const QPolygon arrow(
        {QPoint(left, top), QPoint(left + h / 2, top + h / 2), QPoint(left, top + h)});
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::WindowText));
    painter.drawPolygon(arrow);
    painter.restore();
}

} // namespace qm45
