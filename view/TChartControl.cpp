#include "view/TChartControl.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm45 {

namespace {
std::int32_t usablePageSize(std::int32_t pageSize) {
    return pageSize < 1 ? TChartControl::kDefaultPageSize : pageSize;
}

// How many steps of `pageSize` it takes until `gap` is covered; gap > 0.
std::int64_t stepsToCover(double gap, std::int32_t pageSize) {
    return std::int64_t(std::ceil(gap / double(pageSize)));
}
} // namespace

TChartControl::TChartControl(ChartSurface& chart, std::int32_t pageSize)
    : Chart(chart), PageSize_(usablePageSize(pageSize)) {
    Chart.setBottomRange(1, PageSize_);
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

void TChartControl::shiftForward(std::int64_t times) {
    const auto span = Chart.activePositions();
    const double maximum = Chart.bottomMaximum();
    if (times <= 0 || !span || double(span->largest) <= maximum)
        return;
    const std::int64_t shifts =
        std::min(times, stepsToCover(double(span->largest) - maximum, PageSize_));
    const double by = double(shifts) * PageSize_;
    Chart.setBottomRange(Chart.bottomMinimum() + by, maximum + by);
    Chart.requestRepaint();
}

void TChartControl::shiftBackward(std::int64_t times) {
    const auto span = Chart.activePositions();
    const double minimum = Chart.bottomMinimum();
    if (times <= 0 || !span || double(span->smallest) >= minimum)
        return;
    const std::int64_t shifts =
        std::min(times, stepsToCover(minimum - double(span->smallest), PageSize_));
    const double by = double(shifts) * PageSize_;
    Chart.setBottomRange(minimum - by, Chart.bottomMaximum() - by);
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
    Chart.setBottomRange(1, PageSize_);
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
