#pragma once

#include <QHeaderView>

namespace qm45 {

// The grid's row indicator: a narrow vertical header that marks the current
// row with a triangle, instead of numbering rows.
//
// It paints one section per row the table shows, finding the rows through
// the table's indexAt() and visualRect(), never through sections of its own:
// under ReadingsView it has none, and QHeaderView's own painting would also
// clear a selection cache of two bits per section on every repaint. Sections
// are the default section size high.
//
// Its width is fixed. QHeaderView's own size hint measures the contents of
// sections at both ends of the header each time rows are added; a fixed width
// keeps a refresh independent of how many rows there are.
class RowIndicatorHeader final : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int kWidth = 12;

    explicit RowIndicatorHeader(QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintRow(QPainter& painter, const QRect& rect, int row, int rowCount, bool current) const;
};

} // namespace qm45
