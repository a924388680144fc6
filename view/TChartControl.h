#pragma once

#include "view/ChartSurface.h"

#include <cstdint>

namespace qm45 {

// Pages a chart's bottom axis: one window of PageSize positions, moved a whole
// page at a time, following the newest page until the user steps back. Every
// operation returns the page number the caller shows on the page button.
// Main thread only; the chart must outlive this object.
class TChartControl {
public:
    static constexpr std::int32_t kDefaultPageSize = 100;

    // A page size below 1 has no pages; it is taken as kDefaultPageSize.
    TChartControl(ChartSurface& chart, std::int32_t pageSize);

    std::int32_t AddValue(double value);
    std::int32_t FirstPage();
    std::int32_t PreviousPage();
    std::int32_t NextPage();
    std::int32_t LastPage();
    std::int32_t SetPageSize(std::int32_t pageSize);
    std::int32_t ClearChart();

    [[nodiscard]] std::int32_t CurrentPage() const { return CurrentPage_; }
    [[nodiscard]] std::int32_t PageSize() const { return PageSize_; }
    [[nodiscard]] std::int32_t PageCount() const { return PageCount_; }
    [[nodiscard]] bool Browsing() const { return Browsing_; }
    // The window of positions the bottom axis shows, both ends included.
    [[nodiscard]] std::int64_t FirstPosition() const { return FirstPosition_; }
    [[nodiscard]] std::int64_t LastPosition() const { return LastPosition_; }

private:
    void recomputePageCount();
    // Up to `times` single shifts in one direction. Each shift is allowed only
    // while a point of the drawn series lies beyond the window on that side;
    // the first refused shift refuses all later ones too, since nothing moved.
    // No shift moves the window before position 1: the placeholder left of
    // page 1 never counts as a page of its own.
    void shiftForward(std::int64_t times);
    void shiftBackward(std::int64_t times);
    // Puts the window on the first page and draws it.
    void showFirstWindow();
    // The window is kept here, not read back from the axis: the axis refuses a
    // range of zero width, which a page of one position would be.
    void applyWindow(std::int64_t first);
    void addPlaceholder();

    ChartSurface& Chart;
    std::int32_t CurrentPage_ = 1;
    std::int32_t PageSize_ = kDefaultPageSize;
    std::int32_t PageCount_ = 1;
    bool Browsing_ = false;
    std::int64_t FirstPosition_ = 1;
    std::int64_t LastPosition_ = kDefaultPageSize;
};

} // namespace qm45
