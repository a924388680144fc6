#pragma once

#include <QPersistentModelIndex>
#include <QTableView>

#include <cstdint>

namespace qm45 {

// The grid DBGrid1: a table view whose rows all have the vertical header's
// default section size, so that where a row lies follows from its number.
// The first row shown whole is the vertical scroll bar's value and lies at
// the viewport's top; at the end of the scroll range the rows move down
// instead until the last row lies on the viewport's foot, as QTableView lays
// them out, leaving part of a row above the first.
//
// QTableView keeps the rows' geometry in its vertical header, one entry per
// row. After rows are added the header recomputes every row's position on
// the next query, and each repaint of the header clears a selection cache
// of two bits per row: a refresh then costs time in proportion to the table.
// This view gives its vertical header no rows at all (RowIndicatorHeader
// paints the rows the view shows) and answers everything QTableView would
// ask that header about rows itself: painting, hit testing, keyboard moves,
// scrolling to an item, the scroll range. Columns remain the horizontal
// header's. A refresh then costs the same at ten rows and at ten million,
// and nothing is held per row.
//
// Rows scroll whole (the scroll bar counts rows, whatever verticalScrollMode
// says); they cannot be hidden, resized or moved, there are no spans, and
// the view lays out left to right. The vertical header must be set before
// the model. QTableView's non-virtual row queries (rowAt,
// rowViewportPosition, rowHeight) still ask the empty header and answer
// nothing useful; use indexAt() and visualRect().
//
// Main thread only.
class ReadingsView final : public QTableView {
    Q_OBJECT
public:
    explicit ReadingsView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;

    [[nodiscard]] QModelIndex indexAt(const QPoint& point) const override;
    [[nodiscard]] QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    // Measures the rows on screen only, not up to a thousand rows of the
    // table as QTableView does.
    [[nodiscard]] int sizeHintForColumn(int column) const override;
    // Typing into the grid looks nothing up: QAbstractItemView would search
    // the model row by row from the current row, through the whole table
    // whenever nothing matches.
    void keyboardSearch(const QString& search) override;
    void reset() override;

    [[nodiscard]] int rowCount() const;
    [[nodiscard]] int uniformRowHeight() const;
    // The first row shown whole: the scroll bar's value.
    [[nodiscard]] int firstWholeRow() const;
    // Rows that fit the viewport whole; at least one.
    [[nodiscard]] int wholeRowsShown() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    [[nodiscard]] int verticalOffset() const override;
    [[nodiscard]] QModelIndex moveCursor(CursorAction action,
                                         Qt::KeyboardModifiers modifiers) override;
    [[nodiscard]] QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    // How far the rows lie below where firstWholeRow() at the viewport's top
    // would put them.
    [[nodiscard]] int rowShift() const;
    // The first and last rows at least partly inside the viewport; the last
    // is before the first when none is.
    [[nodiscard]] int firstRowInViewport() const;
    [[nodiscard]] int lastRowInViewport() const;
    // Top of a row in viewport coordinates; rows far off screen are placed
    // just as far off as plain int geometry can carry.
    [[nodiscard]] int rowTop(int row) const;
    // The row lying at a height of the viewport, which may be above the
    // first row or below the last.
    [[nodiscard]] std::int64_t rowAtHeight(int y) const;
    void drawCell(QPainter& painter, const QStyleOptionViewItem& option,
                  const QModelIndex& index) const;
    void rowsChanged();

    // What the vertical header is given instead of the model.
    QAbstractItemModel* noRows_;
    // The cell under the mouse, for styles that paint hovered cells.
    QPersistentModelIndex hover_;
};

} // namespace qm45
