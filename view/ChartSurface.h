#pragma once

#include <cstdint>
#include <optional>

namespace qm45 {

// What the page arithmetic needs of a chart. Every series of the chart holds
// the same points; a point's position on the bottom axis is its index in the
// series, so only values are ever added.
class ChartSurface {
public:
    struct PositionSpan {
        std::int64_t smallest = 0;
        std::int64_t largest = 0;
    };

    virtual ~ChartSurface() = default;

    [[nodiscard]] virtual double bottomMinimum() const = 0;
    [[nodiscard]] virtual double bottomMaximum() const = 0;
    virtual void setBottomRange(double minimum, double maximum) = 0;

    // Points of the first series.
    [[nodiscard]] virtual std::int64_t pointCount() const = 0;
    // Empty when no series is drawn or the series hold no point.
    [[nodiscard]] virtual std::optional<PositionSpan> activePositions() const = 0;

    // Appends to every series; the new point's position is the old count.
    virtual void addPoint(double value) = 0;
    // Empties every series.
    virtual void clearPoints() = 0;
    virtual void setSeriesActive(int index, bool active) = 0;
    // Coalesces: several requests before the next event-loop turn draw once.
    virtual void requestRepaint() = 0;
};

} // namespace qm45
