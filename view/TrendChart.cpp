#include "view/TrendChart.h"

#include <QPainter>
#include <QResizeEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace qm45 {

namespace {
const QColor kAreaLine(0, 128, 255);
const QColor kAreaFill(255, 255, 128);
const QColor kLineColour(Qt::red);
const QColor kLeftAxisLine(0, 64, 128);
constexpr double kFormLeftMinimum = -41000;
constexpr double kFormLeftMaximum = 41000;

class FourMinorTicks final : public QCPAxisTicker {
protected:
    int getSubTickCount(double) override { return 4; }
};
} // namespace

// One series of the chart. It reads the shared points and draws only those
// inside the bottom axis window, plus one neighbour on each side so that the
// line enters and leaves the window the way it runs.
class SharedSeries final : public QCPAbstractPlottable {
public:
    enum class Style { Area, Line };

    SharedSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, const ChartPoints& points, Style style)
        : QCPAbstractPlottable(keyAxis, valueAxis), points_(points), style_(style) {
        setSelectable(QCP::stNone);
    }

    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const override {
        const std::int64_t last = points_.size() - 1;
        const double lower = inSignDomain == QCP::sdPositive ? 1 : 0;
        foundRange = inSignDomain != QCP::sdNegative && double(last) >= lower;
        return foundRange ? QCPRange(lower, double(last)) : QCPRange();
    }

    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain,
                           const QCPRange&) const override {
        double lower = points_.smallest();
        double upper = points_.largest();
        if (inSignDomain == QCP::sdPositive)
            lower = std::max(lower, std::numeric_limits<double>::min());
        if (inSignDomain == QCP::sdNegative)
            upper = std::min(upper, -std::numeric_limits<double>::min());
        foundRange = points_.size() > 0 && lower <= upper;
        return foundRange ? QCPRange(lower, upper) : QCPRange();
    }

protected:
    void draw(QCPPainter* painter) override {
        if (!mKeyAxis || !mValueAxis || points_.size() == 0)
            return;
        collectRuns();
        const double base = mValueAxis->coordToPixel(mValueAxis->range().lower);
        for (const QPolygonF& run : runs_) {
            if (style_ == Style::Area && run.size() > 1) {
                QPolygonF area = run;
                area << QPointF(run.last().x(), base) << QPointF(run.first().x(), base);
                applyFillAntialiasingHint(painter);
                painter->setPen(Qt::NoPen);
                painter->setBrush(mBrush);
                painter->drawPolygon(area);
            }
            applyDefaultAntialiasingHint(painter);
            painter->setPen(mPen);
            painter->setBrush(Qt::NoBrush);
            painter->drawPolyline(run);
        }
    }

    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override {
        painter->setPen(mPen);
        painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
    }

private:
    // Splits the visible points into runs of finite values. When a window holds
    // more points than the axis has pixels, each pixel column keeps only its
    // first, smallest, largest and last value: the same picture at a cost set by
    // the width, not the page size.
    void collectRuns() {
        runs_.clear();
        const QCPRange keys = mKeyAxis->range();
        const double lastPosition = double(points_.size() - 1);
        const double from = std::max(0.0, std::floor(keys.lower) - 1);
        const double to = std::min(lastPosition, std::ceil(keys.upper) + 1);
        if (from > to)
            return;
        const auto first = std::int64_t(from);
        const auto last = std::int64_t(to);

        const QRect plot = mKeyAxis->axisRect()->rect();
        // Values far off the axis are pulled in to a band around the plot: the
        // painter is slow, or worse, with coordinates near the float limit.
        const double yLow = plot.top() - 4.0 * plot.height();
        const double yHigh = plot.bottom() + 4.0 * plot.height();
        const bool columns = (last - first + 1) > 2 * std::max(1, plot.width());

        QPolygonF run;
        bool columnOpen = false;
        int column = 0;
        double columnX = 0;
        double columnFirst = 0;
        double columnMin = 0;
        double columnMax = 0;
        double columnLast = 0;
        const auto closeColumn = [&] {
            if (!columnOpen)
                return;
            run << QPointF(columnX, columnFirst) << QPointF(columnX, columnMin)
                << QPointF(columnX, columnMax) << QPointF(columnX, columnLast);
            columnOpen = false;
        };
        const auto closeRun = [&] {
            closeColumn();
            if (!run.isEmpty())
                runs_.push_back(run);
            run.clear();
        };

        for (std::int64_t position = first; position <= last; ++position) {
            const float stored = points_.at(position);
            if (!std::isfinite(stored)) {
                closeRun();
                continue;
            }
            const double x = mKeyAxis->coordToPixel(double(position));
            const double y = std::clamp(mValueAxis->coordToPixel(double(stored)), yLow, yHigh);
            if (!columns) {
                run << QPointF(x, y);
                continue;
            }
            const int pixel = int(std::floor(x));
            if (columnOpen && pixel == column) {
                columnMin = std::min(columnMin, y);
                columnMax = std::max(columnMax, y);
                columnLast = y;
                continue;
            }
            closeColumn();
            columnOpen = true;
            column = pixel;
            columnX = x;
            columnFirst = columnMin = columnMax = columnLast = y;
        }
        closeRun();
    }

    const ChartPoints& points_;
    const Style style_;
    std::vector<QPolygonF> runs_;
};

TrendChart::TrendChart(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("Chtshow"));
    setInteractions(QCP::Interactions());
    setBackground(palette().brush(QPalette::Base));
    axisRect()->setBackground(QBrush(Qt::white));
    plotLayout()->setAutoMargins(QCP::msNone);
    applyMargins(size());

    // A title of two blanks: it keeps the room above the plot that a title takes.
    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPixelSize(13);
    auto* title = new QCPTextElement(this, QStringLiteral("  "), titleFont);
    title->setTextColor(Qt::blue);
    plotLayout()->insertRow(0);
    plotLayout()->addElement(0, 0, title);

    yAxis->setBasePen(QPen(kLeftAxisLine, 1, Qt::DashLine));
    yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new FourMinorTicks));
    yAxis->setTickLength(0, 3);
    yAxis->setSubTickLength(0, 3);
    yAxis->setRange(kFormLeftMinimum, kFormLeftMaximum);
    xAxis->setRange(1, 100);

    auto* area = new SharedSeries(xAxis, yAxis, points_, SharedSeries::Style::Area);
    area->setName(QStringLiteral("Series2"));
    area->setPen(QPen(kAreaLine));
    area->setBrush(QBrush(kAreaFill));
    auto* line = new SharedSeries(xAxis, yAxis, points_, SharedSeries::Style::Line);
    line->setName(QStringLiteral("Series1"));
    line->setPen(QPen(kLineColour));
    series_ = {area, line};
}

TrendChart::~TrendChart() {
    // The series read points_, which goes before the base class deletes them.
    clearPlottables();
}

void TrendChart::ShowSeries(int index) {
    if (index < 0 || index >= kSeriesCount)
        return;
    for (int i = 0; i < kSeriesCount; ++i)
        series_[std::size_t(i)]->setVisible(i == index);
    requestRepaint();
}

bool TrendChart::isSeriesActive(int index) const {
    return index >= 0 && index < kSeriesCount && series_[std::size_t(index)]->visible();
}

void TrendChart::setSeriesActive(int index, bool active) {
    if (index < 0 || index >= kSeriesCount)
        return;
    series_[std::size_t(index)]->setVisible(active);
    requestRepaint();
}

void TrendChart::setLeftAxisRange(double minimum, double maximum) {
    yAxis->setRange(minimum, maximum);
    requestRepaint();
}

double TrendChart::leftMinimum() const {
    return yAxis->range().lower;
}

double TrendChart::leftMaximum() const {
    return yAxis->range().upper;
}

double TrendChart::bottomMinimum() const {
    return xAxis->range().lower;
}

double TrendChart::bottomMaximum() const {
    return xAxis->range().upper;
}

void TrendChart::setBottomRange(double minimum, double maximum) {
    xAxis->setRange(minimum, maximum);
}

std::optional<ChartSurface::PositionSpan> TrendChart::activePositions() const {
    const bool drawn = std::any_of(series_.begin(), series_.end(),
                                   [](const SharedSeries* s) { return s->visible(); });
    if (!drawn || points_.size() == 0)
        return std::nullopt;
    return PositionSpan{0, points_.size() - 1};
}

void TrendChart::addPoint(double value) {
    const auto position = double(points_.size());
    points_.append(value);
    const QCPRange window = xAxis->range();
    if (position >= std::floor(window.lower) - 1 && position <= std::ceil(window.upper) + 1)
        requestRepaint();
}

void TrendChart::clearPoints() {
    points_.clear();
    requestRepaint();
}

void TrendChart::requestRepaint() {
    replot(rpQueuedReplot);
}

QImage TrendChart::picture() {
    applyMargins(size());
    QImage image = toPixmap(width(), height(), 1.0).toImage().convertToFormat(QImage::Format_RGB32);
    QPainter painter(&image);
    drawFrame(painter, image.rect());
    painter.end();
    // Rendering borrowed the viewport; the screen is drawn afresh from it.
    requestRepaint();
    return image;
}

void TrendChart::applyMargins(const QSize& size) {
    // Left and bottom 1 %, top 4 %, right 3 % of the chart's size.
    plotLayout()->setMargins(QMargins(qRound(size.width() * 0.01), qRound(size.height() * 0.04),
                                      qRound(size.width() * 0.03), qRound(size.height() * 0.01)));
}

void TrendChart::drawFrame(QPainter& painter, const QRect& rect) const {
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    qDrawShadePanel(&painter, rect.adjusted(1, 1, -1, -1), palette(), true, 1, nullptr);
}

void TrendChart::resizeEvent(QResizeEvent* event) {
    applyMargins(event->size());
    QCustomPlot::resizeEvent(event);
}

void TrendChart::paintEvent(QPaintEvent* event) {
    QCustomPlot::paintEvent(event);
    QPainter painter(this);
    drawFrame(painter, rect());
}

} // namespace qm45
