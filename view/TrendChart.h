#pragma once

#include "view/ChartPoints.h"
#include "view/ChartSurface.h"

#include <qcustomplot.h>

#include <QImage>

#include <array>
#include <cstddef>
#include <cstdint>

class QPainter;

namespace qm45 {

class SharedSeries;

// Chtshow: the trend chart. Two series draw the same points, the area series
// at index 0 and the line series at index 1; the points are held once. Only
// the window of the bottom axis is drawn, so a repaint costs the same however
// many points lie outside it. The mouse neither zooms nor pans.
class TrendChart final : public QCustomPlot, public ChartSurface {
    Q_OBJECT
public:
    static constexpr int kAreaSeries = 0;
    static constexpr int kLineSeries = 1;
    static constexpr int kSeriesCount = 2;

    explicit TrendChart(QWidget* parent = nullptr);
    ~TrendChart() override;

    // Draws exactly the series at `index`; an index the chart lacks changes nothing.
    void ShowSeries(int index);
    [[nodiscard]] bool isSeriesActive(int index) const;

    void setLeftAxisRange(double minimum, double maximum);
    [[nodiscard]] double leftMinimum() const;
    [[nodiscard]] double leftMaximum() const;

    // The value at a position, as stored.
    [[nodiscard]] double value(std::int64_t position) const { return points_.at(position); }
    [[nodiscard]] std::size_t storedBytes() const { return points_.bytes(); }

    // The chart at its on-screen size, frame included, as the user sees it.
    [[nodiscard]] QImage picture();

    [[nodiscard]] double bottomMinimum() const override;
    [[nodiscard]] double bottomMaximum() const override;
    void setBottomRange(double minimum, double maximum) override;
    [[nodiscard]] std::int64_t pointCount() const override { return points_.size(); }
    [[nodiscard]] std::optional<PositionSpan> activePositions() const override;
    void addPoint(double value) override;
    void clearPoints() override;
    void setSeriesActive(int index, bool active) override;
    void requestRepaint() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyMargins(const QSize& size);
    void drawFrame(QPainter& painter, const QRect& rect) const;

    ChartPoints points_;
    std::array<SharedSeries*, kSeriesCount> series_{};
};

} // namespace qm45
