#pragma once

#include <QObject>

#include <array>

class QTableView;

namespace qm45 {

class ReadingsModel;
class RowIndicatorHeader;

// Sets the grid DBGrid1 up over the readings model and keeps it on the newest
// row: titles, widths, alignment and fonts of the six columns, read-only cells,
// a row indicator and resizable columns.
//
// DBGrid1 is meant to be a ReadingsView, whose refresh costs the same however
// many rows the table holds. A plain QTableView works as well, but its
// vertical header keeps an entry per row and walks them all after each
// announcement.
//
// Following costs one layout per announcement of the model (at most ten a
// second), never per sample. It moves the scroll bar to its end and makes the
// newest row current without QAbstractItemView::scrollTo, whose position
// queries on a plain QTableView walk the header's sections.
//
// Main thread only.
class ReadingsGrid final : public QObject {
    Q_OBJECT
public:
    static constexpr std::array<int, 6> kColumnWidths{53, 53, 54, 56, 35, 35};
    static constexpr int kDataPixelSize = 12;
    static constexpr int kTitlePixelSize = 11;
    // Room between a cell's edge and its text, each side.
    static constexpr int kCellTextMargin = 2;

    ReadingsGrid(QTableView* view, ReadingsModel& model, QObject* parent = nullptr);

    [[nodiscard]] QTableView* view() const { return view_; }

    // Lays the view out for the rows just announced and moves to the newest.
    void followNewest();

private:
    QTableView* view_;
    ReadingsModel& model_;
    RowIndicatorHeader* indicator_;
};

} // namespace qm45
