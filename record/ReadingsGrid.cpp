#include "record/ReadingsGrid.h"

#include "record/Fonts.h"
#include "record/ReadingsModel.h"
#include "record/RowIndicatorHeader.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QProxyStyle>
#include <QScrollBar>
#include <QTableView>

namespace qm45 {

namespace {
// Cells keep 2 pixels of room on either side of their text instead of the
// style's 3, so that a time such as "23:59:59" fits its 53-pixel column whole.
class NarrowCellStyle final : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_FocusFrameHMargin)
            return ReadingsGrid::kCellTextMargin - 1;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};
} // namespace

ReadingsGrid::ReadingsGrid(QTableView* view, ReadingsModel& model, QObject* parent)
    : QObject(parent), view_(view), model_(model), indicator_(new RowIndicatorHeader(view)) {
    view_->setFont(Fonts::arial(kDataPixelSize));
    auto* cellStyle = new NarrowCellStyle;
    cellStyle->setParent(view_);
    view_->setStyle(cellStyle);
    view_->setVerticalHeader(indicator_);
    view_->setModel(&model_);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectItems);
    view_->setShowGrid(true);
    view_->setWordWrap(false);
    view_->setCornerButtonEnabled(false);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* titles = view_->horizontalHeader();
    titles->setFont(Fonts::sansSerif(kTitlePixelSize));
    titles->setHighlightSections(false);
    titles->setSectionsClickable(false);
    titles->setStretchLastSection(false);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    for (int column = 0; column < int(kColumnWidths.size()); ++column)
        titles->resizeSection(column, kColumnWidths[std::size_t(column)]);

    // Every row has the same fixed height, so the header never measures rows;
    // a ReadingsView places its rows by the header's default section size.
    const int rowHeight = QFontMetrics(view_->font()).height() + 4;
    indicator_->setMinimumSectionSize(1);
    indicator_->setDefaultSectionSize(rowHeight);
    indicator_->setSectionResizeMode(QHeaderView::Fixed);

    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, indicator_,
            [this] { indicator_->viewport()->update(); });
    connect(&model_, &ReadingsModel::newestRowsShown, this, &ReadingsGrid::followNewest);
}

void ReadingsGrid::followNewest() {
    const int last = model_.rowCount() - 1;
    if (last < 0)
        return;
    // The view would lay itself out for the new rows later from the event
    // loop; doing it now gives the scroll bar its new range to move to.
    view_->doItemsLayout();
    QScrollBar* bar = view_->verticalScrollBar();
    bar->setValue(bar->maximum());

    QItemSelectionModel* selection = view_->selectionModel();
    const int column = qMax(0, selection->currentIndex().column());
    const bool autoScroll = view_->hasAutoScroll();
    view_->setAutoScroll(false);
    selection->setCurrentIndex(model_.index(last, column), QItemSelectionModel::ClearAndSelect);
    view_->setAutoScroll(autoScroll);
}

} // namespace qm45
