#pragma once

#include <QHeaderView>

namespace qm45 {

// The grid's row indicator: a narrow vertical header that marks the current
// row with a triangle, instead of numbering rows.
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
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

} // namespace qm45
