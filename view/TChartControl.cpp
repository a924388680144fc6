#include "view/TChartControl.h"

#include <algorithm>
#include <limits>

namespace qm45 {

namespace {
std::int32_t usablePageSize(std::int32_t pageSize) {
    return pageSize < 1 ? TChartControl::kDefaultPageSize : pageSize;
}

// How many steps of `pageSize` it takes until `gap` is covered; gap > 0.
std::int64_t stepsToCover(std::int64_t gap, std::int32_t pageSize) {
    return (gap + pageSize - 1) / pageSize;
}
} // namespace

TChartControl::TChartControl(ChartSurface& chart, std::int32_t pageSize)
    : Chart(chart), PageSize_(usablePageSize(pageSize)) {
    showFirstWindow();
    PageCount_ = 1;
    CurrentPage_ = 1;
    Browsing_ = false;
    addPlaceholder();
    Chart.setSeriesActive(0, true);
}

void TChartControl::addPlaceholder() {
    // The placeholder sits at position 0, left of page 1, so that the n-th
    // reading lands at position n.
    Chart.addPoint(0.0);
}

void TChartControl::recomputePageCount() {
    const std::int64_t points = Chart.pointCount();
    std::int64_t pages = points / PageSize_;
    if (points % PageSize_ > 0)
        ++pages;
    PageCount_ =
        std::int32_t(std::min<std::int64_t>(pages, std::numeric_limits<std::int32_t>::max()));
}

void TChartControl::showFirstWindow() {
    applyWindow(1);
}

void TChartControl::applyWindow(std::int64_t first) {
    FirstPosition_ = first;
    LastPosition_ = first + PageSize_ - 1;
    if (FirstPosition_ == LastPosition_)
        Chart.setBottomRange(double(FirstPosition_) - 0.5, double(LastPosition_) + 0.5);
    else
        Chart.setBottomRange(double(FirstPosition_), double(LastPosition_));
}

void TChartControl::shiftForward(std::int64_t times) {
    const auto span = Chart.activePositions();
    if (times <= 0 || !span || span->largest <= LastPosition_)
        return;
    const std::int64_t shifts =
        std::min(times, stepsToCover(span->largest - LastPosition_, PageSize_));
    applyWindow(FirstPosition_ + shifts * PageSize_);
    Chart.requestRepaint();
}

void TChartControl::shiftBackward(std::int64_t times) {
    const auto span = Chart.activePositions();
    if (times <= 0 || !span || span->smallest >= FirstPosition_)
        return;
    // Whole pages between the window and position 1.
    const std::int64_t room = (FirstPosition_ - 1) / PageSize_;
    const std::int64_t shifts =
        std::min({times, room, stepsToCover(FirstPosition_ - span->smallest, PageSize_)});
    if (shifts <= 0)
        return;
    applyWindow(FirstPosition_ - shifts * PageSize_);
    Chart.requestRepaint();
}

std::int32_t TChartControl::AddValue(double value) {
    Chart.addPoint(value);
    recomputePageCount();
    if (!Browsing_) {
        shiftForward(1);
        CurrentPage_ = PageCount_;
    }
    return CurrentPage_;
}

std::int32_t TChartControl::FirstPage() {
    if (PageCount_ <= 1 || CurrentPage_ == 1)
        return CurrentPage_;
    shiftBackward(std::int64_t(CurrentPage_) - 1);
    CurrentPage_ = 1;
    Browsing_ = true;
    return CurrentPage_;
}

std::int32_t TChartControl::LastPage() {
    if (PageCount_ <= 1 || CurrentPage_ == PageCount_)
        return CurrentPage_;
    shiftForward(std::int64_t(PageCount_) - CurrentPage_);
    CurrentPage_ = PageCount_;
    Browsing_ = false;
    return CurrentPage_;
}

std::int32_t TChartControl::NextPage() {
    if (PageCount_ > 1 && CurrentPage_ != PageCount_) {
        shiftForward(1);
        ++CurrentPage_;
        Browsing_ = CurrentPage_ != PageCount_;
    }
    return CurrentPage_;
}

std::int32_t TChartControl::PreviousPage() {
    if (CurrentPage_ > 1) {
        shiftBackward(1);
        --CurrentPage_;
        Browsing_ = true;
    }
    return CurrentPage_;
}

std::int32_t TChartControl::SetPageSize(std::int32_t pageSize) {
    pageSize = usablePageSize(pageSize);
    if (pageSize == PageSize_)
        return CurrentPage_;
    PageSize_ = pageSize;
    showFirstWindow();
    Chart.requestRepaint();
    recomputePageCount();
    shiftForward(std::int64_t(PageCount_) - 1);
    CurrentPage_ = PageCount_;
    Browsing_ = false;
    return CurrentPage_;
}

std::int32_t TChartControl::ClearChart() {
    FirstPage();
    Chart.clearPoints();
    addPlaceholder();
    Browsing_ = false;
    // Left as it was, the old count would let NextPage and LastPage step onto
    // pages that no longer hold a point.
    PageCount_ = 1;
    Chart.requestRepaint();
    return CurrentPage_;
}

} // namespace qm45
