#include "record/ReadingsView.h"

#include <QAbstractTableModel>
#include <QBitArray>
#include <QHeaderView>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <cstdint>

namespace qm45 {

namespace {

class NoRows final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex&) const override { return 0; }
    int columnCount(const QModelIndex&) const override { return 0; }
    QVariant data(const QModelIndex&, int) const override { return {}; }
};

// Farther off screen than any viewport reaches, and small enough that
// rectangles and regions built on it do not overflow.
constexpr std::int64_t kFarOff = 1 << 24;

constexpr std::int64_t kOffsetCap = 1 << 30;

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

} // namespace

ReadingsView::ReadingsView(QWidget* parent) : QTableView(parent), noRows_(new NoRows(this)) {
    setVerticalScrollMode(ScrollPerItem);
}

void ReadingsView::setModel(QAbstractItemModel* model) {
    if (model == this->model())
        return;
    // Not QTableView::setModel: it gives the vertical header the model, and
    // the header lays out one section per row at once (for a table of two
    // billion rows, it cannot). What QTableView adds besides, following
    // spans and submitting edits row by row, this view has no use for.
    verticalHeader()->setModel(noRows_);
    horizontalHeader()->setModel(model);
    QAbstractItemView::setModel(model);
}

void ReadingsView::setSelectionModel(QItemSelectionModel* selectionModel) {
    // QTableView would hand it to the vertical header too, which refuses a
    // selection model of a model it does not show.
    horizontalHeader()->setSelectionModel(selectionModel);
    QAbstractItemView::setSelectionModel(selectionModel);
}

int ReadingsView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ReadingsView::uniformRowHeight() const {
    return std::max(1, verticalHeader()->defaultSectionSize());
}

int ReadingsView::firstWholeRow() const {
    return verticalScrollBar()->value();
}

int ReadingsView::wholeRowsShown() const {
    return std::max(1, viewport()->height() / uniformRowHeight());
}

int ReadingsView::rowShift() const {
    // QTableView, scrolled to the end, sets its vertical header's offset to
    // the header's length less the viewport's height.
    const QScrollBar* rows = verticalScrollBar();
    if (rows->maximum() == 0 || rows->value() < rows->maximum())
        return 0;
    return viewport()->height() - wholeRowsShown() * uniformRowHeight();
}

std::int64_t ReadingsView::rowAtHeight(int y) const {
    return firstWholeRow() + floorDivide(std::int64_t(y) - rowShift(), uniformRowHeight());
}

int ReadingsView::firstRowInViewport() const {
    return int(std::max<std::int64_t>(0, rowAtHeight(0)));
}

int ReadingsView::lastRowInViewport() const {
    return int(std::min<std::int64_t>(rowCount() - 1, rowAtHeight(viewport()->height() - 1)));
}

int ReadingsView::rowTop(int row) const {
    const std::int64_t top =
        (std::int64_t(row) - firstWholeRow()) * uniformRowHeight() + rowShift();
    return int(std::clamp(top, -kFarOff, kFarOff));
}

int ReadingsView::verticalOffset() const {
    // QAbstractItemView adds viewport positions to the offset to remember
    // where a drag began; the cap keeps that sum within int. Beyond it (some
    // sixty million rows down) a drag that scrolls measures from the wrong
    // place, which the grid's single-cell selection never uses.
    const std::int64_t offset = std::int64_t(firstWholeRow()) * uniformRowHeight() - rowShift();
    return int(std::clamp<std::int64_t>(offset, 0, kOffsetCap));
}

QModelIndex ReadingsView::indexAt(const QPoint& point) const {
    if (!model() || point.y() < 0)
        return {};
    const std::int64_t row = rowAtHeight(point.y());
    const int column = columnAt(point.x());
    if (row < 0 || row >= rowCount() || column < 0)
        return {};
    return model()->index(int(row), column, rootIndex());
}

QRect ReadingsView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        isColumnHidden(index.column()))
        return {};
    const int grid = showGrid() ? 1 : 0;
    return {columnViewportPosition(index.column()), rowTop(index.row()),
            columnWidth(index.column()) - grid, uniformRowHeight() - grid};
}

QRegion ReadingsView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int first = firstRowInViewport();
    const int last = lastRowInViewport();
    const int height = uniformRowHeight();
    const int grid = showGrid() ? 1 : 0;
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.model() != model() || range.parent() != rootIndex())
            continue;
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), last);
        if (top > bottom)
            continue;
        for (int column = range.left(); column <= range.right(); ++column) {
            if (isColumnHidden(column))
                continue;
            region += QRect(columnViewportPosition(column), rowTop(top), columnWidth(column) - grid,
                            (bottom - top + 1) * height - grid);
        }
    }
    return region;
}

void ReadingsView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        isColumnHidden(index.column()))
        return;

    QScrollBar* rows = verticalScrollBar();
    {
        // QTableView brings the column into view; the row it would scroll to
        // comes from the empty vertical header, so the first row shown is
        // put back unannounced.
        const QSignalBlocker quiet(rows);
        const int first = rows->value();
        QTableView::scrollTo(index, hint);
        rows->setValue(first);
    }

    const int row = index.row();
    const int whole = wholeRowsShown();
    const int height = uniformRowHeight();
    const int viewportHeight = viewport()->height();
    if (hint == EnsureVisible) {
        const int top = rowTop(row);
        if (top < 0 || height > viewportHeight)
            hint = PositionAtTop;
        else if (top + height > viewportHeight)
            hint = PositionAtBottom;
        else
            return;
    }
    std::int64_t top = row;
    if (hint == PositionAtBottom)
        top = std::int64_t(row) - whole + 1;
    else if (hint == PositionAtCenter)
        top = std::int64_t(row) - std::max(0, viewportHeight / 2 / height - 1);
    rows->setValue(int(std::max<std::int64_t>(top, 0)));
}

QModelIndex ReadingsView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const int rows = rowCount();
    const QHeaderView* columns = horizontalHeader();
    int firstColumn = 0;
    while (firstColumn < columns->count() &&
           columns->isSectionHidden(columns->logicalIndex(firstColumn)))
        ++firstColumn;
    int lastColumn = columns->count() - 1;
    while (lastColumn >= firstColumn && columns->isSectionHidden(columns->logicalIndex(lastColumn)))
        --lastColumn;
    if (rows == 0 || lastColumn < firstColumn)
        return {};

    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, columns->logicalIndex(firstColumn), rootIndex());

    int row = current.row();
    int column = columns->visualIndex(current.column());
    const auto shownColumnAfter = [&](int visual, int step) {
        for (visual += step; visual >= firstColumn && visual <= lastColumn; visual += step) {
            if (!columns->isSectionHidden(columns->logicalIndex(visual)))
                return visual;
        }
        return -1;
    };
    const std::int64_t height = uniformRowHeight();
    const std::int64_t viewportHeight = viewport()->height();
    const int grid = showGrid() ? 1 : 0;

    switch (action) {
    case MoveUp:
        row = std::max(0, row - 1);
        break;
    case MoveDown:
        row = std::min(rows - 1, row + 1);
        break;
    case MoveLeft:
    case MovePrevious: {
        const int before = shownColumnAfter(column, -1);
        if (before >= 0) {
            column = before;
        } else if (action == MovePrevious) {
            column = lastColumn;
            row = row > 0 ? row - 1 : rows - 1;
        }
        break;
    }
    case MoveRight:
    case MoveNext: {
        const int after = shownColumnAfter(column, 1);
        if (after >= 0) {
            column = after;
        } else if (action == MoveNext) {
            column = firstColumn;
            row = row < rows - 1 ? row + 1 : 0;
        }
        break;
    }
    case MoveHome:
        column = firstColumn;
        if (modifiers & Qt::ControlModifier)
            row = 0;
        break;
    case MoveEnd:
        column = lastColumn;
        if (modifiers & Qt::ControlModifier)
            row = rows - 1;
        break;
    case MovePageUp: {
        // The row a viewport's height above the current row's foot, as
        // QTableView pages.
        const std::int64_t y = std::int64_t(row) * height + height - grid - 1 - viewportHeight;
        row = int(std::max<std::int64_t>(0, floorDivide(y, height)));
        break;
    }
    case MovePageDown: {
        const std::int64_t y = std::int64_t(row) * height + viewportHeight;
        row = int(std::min<std::int64_t>(rows - 1, y / height));
        break;
    }
    }
    return model()->index(row, columns->logicalIndex(column), rootIndex());
}

void ReadingsView::updateGeometries() {
    QScrollBar* rows = verticalScrollBar();
    const int shift = rowShift();
    {
        // QTableView sizes the vertical scroll bar by its vertical header,
        // which has no rows here; its range would pull the first row shown
        // to 0. The bar is put back as it was, unannounced, and then given
        // the range of the table, so that the scroll area hears only of the
        // real change.
        const QSignalBlocker quiet(rows);
        const int minimum = rows->minimum();
        const int maximum = rows->maximum();
        const int first = rows->value();
        QTableView::updateGeometries();
        rows->setRange(minimum, maximum);
        rows->setValue(first);
    }
    const int whole = wholeRowsShown();
    rows->setRange(0, std::max(0, rowCount() - whole));
    rows->setPageStep(whole);
    rows->setSingleStep(1);
    // Reaching or leaving the end of the range moves the rows without
    // scrolling.
    if (rowShift() != shift) {
        viewport()->update();
        verticalHeader()->viewport()->update();
    }
}

void ReadingsView::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, 0);
    if (dy != 0) {
        viewport()->update();
        verticalHeader()->viewport()->update();
        updateEditorGeometries();
    }
}

void ReadingsView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QTableView::rowsInserted(parent, start, end);
    if (parent == rootIndex())
        rowsChanged();
}

void ReadingsView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    QTableView::rowsAboutToBeRemoved(parent, start, end);
    if (parent == rootIndex())
        rowsChanged();
}

void ReadingsView::reset() {
    QTableView::reset();
    rowsChanged();
}

void ReadingsView::rowsChanged() {
    scheduleDelayedItemsLayout();
    viewport()->update();
    verticalHeader()->viewport()->update();
}

int ReadingsView::sizeHintForColumn(int column) const {
    if (!model())
        return -1;
    ensurePolished();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int hint = 0;
    for (int row = firstRowInViewport(), last = lastRowInViewport(); row <= last; ++row) {
        const QModelIndex index = model()->index(row, column, rootIndex());
        hint = std::max(hint, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return showGrid() ? hint + 1 : hint;
}

void ReadingsView::keyboardSearch(const QString&) {}

bool ReadingsView::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        hover_ = indexAt(static_cast<QHoverEvent*>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        hover_ = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QTableView::viewportEvent(event);
}

void ReadingsView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QHeaderView* columns = horizontalHeader();
    const int first = firstRowInViewport();
    const int last = lastRowInViewport();
    if (!model() || last < first || columns->count() == 0 || !itemDelegate())
        return;

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int grid = showGrid() ? 1 : 0;
    const QColor gridColor = QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
    const QPen gridPen(gridColor, 1, gridStyle());
    const int height = uniformRowHeight();
    const bool alternate = alternatingRowColors();
    const int contentRight = columns->length() - columns->offset() - 1;
    const int contentBottom = rowTop(last) + height - 1;

    // Cells are painted once even where the dirty rectangles overlap: text
    // painted twice comes out heavier.
    int firstColumn = columns->visualIndexAt(0);
    int lastColumn = columns->visualIndexAt(columns->width());
    if (firstColumn < 0)
        firstColumn = 0;
    if (lastColumn < 0)
        lastColumn = columns->count() - 1;
    const int columnsShown = lastColumn - firstColumn + 1;
    QBitArray drawn((last - first + 1) * columnsShown);

    for (QRect dirty : event->region()) {
        dirty.setBottom(std::min(dirty.bottom(), contentBottom));
        dirty.setRight(std::min(dirty.right(), contentRight));
        if (!dirty.isValid())
            continue;
        int left = columns->visualIndexAt(dirty.left());
        int right = columns->visualIndexAt(dirty.right());
        if (left < 0)
            left = 0;
        if (right < 0)
            right = columns->count() - 1;
        const int top = int(std::max<std::int64_t>(first, rowAtHeight(dirty.top())));
        const int bottom = int(std::min<std::int64_t>(last, rowAtHeight(dirty.bottom())));

        for (int row = top; row <= bottom; ++row) {
            const int y = rowTop(row);
            if (alternate)
                option.features.setFlag(QStyleOptionViewItem::Alternate, (row & 1) != 0);
            for (int visual = left; visual <= right; ++visual) {
                const int bit = (row - first) * columnsShown + visual - firstColumn;
                if (bit < 0 || bit >= drawn.size() || drawn.testBit(bit))
                    continue;
                drawn.setBit(bit);
                const int column = columns->logicalIndex(visual);
                if (columns->isSectionHidden(column))
                    continue;
                const QModelIndex index = model()->index(row, column, rootIndex());
                if (!index.isValid())
                    continue;
                option.rect = QRect(columnViewportPosition(column), y, columnWidth(column) - grid,
                                    height - grid);
                drawCell(painter, option, index);
            }
        }

        if (grid) {
            const QPen pen = painter.pen();
            painter.setPen(gridPen);
            for (int row = top; row <= bottom; ++row) {
                const int y = rowTop(row) + height - grid;
                painter.drawLine(QLineF(dirty.left(), y, dirty.right(), y).translated(0.5, 0.5));
            }
            for (int visual = left; visual <= right; ++visual) {
                const int column = columns->logicalIndex(visual);
                if (columns->isSectionHidden(column))
                    continue;
                const int x = columnViewportPosition(column) + columnWidth(column) - grid;
                painter.drawLine(QLineF(x, dirty.top(), x, dirty.bottom()).translated(0.5, 0.5));
            }
            painter.setPen(pen);
        }
    }
}

void ReadingsView::drawCell(QPainter& painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    if (selectionModel() && selectionModel()->isSelected(index))
        cell.state |= QStyle::State_Selected;
    if (hover_ == index)
        cell.state |= QStyle::State_MouseOver;
    if (option.state & QStyle::State_Enabled) {
        const bool enabled = index.flags().testFlag(Qt::ItemIsEnabled);
        cell.state.setFlag(QStyle::State_Enabled, enabled);
        cell.palette.setCurrentColorGroup(enabled ? QPalette::Normal : QPalette::Disabled);
    }
    if (index == currentIndex() && (hasFocus() || viewport()->hasFocus()))
        cell.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, &painter, this);
    itemDelegateForIndex(index)->paint(&painter, cell, index);
}

} // namespace qm45
