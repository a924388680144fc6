#include "ChartTestWindow.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

using namespace qm45;

namespace {

using Ink = std::function<bool(QRgb)>;

bool lineRed(QRgb c) {
    return qRed(c) > 150 && qGreen(c) < 150 && qBlue(c) < 150;
}
bool areaFill(QRgb c) {
    return qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) < 170;
}
bool areaLine(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 120;
}

// The chart as the user would see it, with a way to look at the band of rows
// where a value is drawn, away from the window's left and right edges.
struct Picture {
    explicit Picture(TrendChart& c) : chart(c), image(c.picture()) {}

    [[nodiscard]] int count(double value, const Ink& ink) const {
        const QRect plot = chart.axisRect()->rect();
        const int y = int(std::lround(chart.yAxis->coordToPixel(value)));
        int found = 0;
        for (int row = std::max(plot.top(), y - 2); row <= std::min(plot.bottom(), y + 2); ++row) {
            for (int x = plot.left() + 6; x <= plot.right() - 6; ++x)
                found += ink(image.pixel(x, row)) ? 1 : 0;
        }
        return found;
    }
    [[nodiscard]] int width() const { return chart.axisRect()->rect().width() - 12; }

    TrendChart& chart;
    QImage image;
};

QString said(const char* what, double value, int found, int width) {
    return QStringLiteral("%1 at value %2: %3 matching pixels across a plot %4 wide")
        .arg(QLatin1String(what))
        .arg(value)
        .arg(found)
        .arg(width);
}

} // namespace

class ChartDrawingTest : public QObject {
    Q_OBJECT

private slots:
    void areaIsFilledBelowItsLine();
    void lineSeriesDrawsOnlyTheLine();
    void onlyTheWindowIsDrawn();
    void manyPointsPerPixelKeepTheirExtremes();
    void meterCountsAreStoredExactly();
    void unusableValuesLeaveGapsAndNoCrash();
};

void ChartDrawingTest::areaIsFilledBelowItsLine() {
    ChartTestWindow w;
    w.window.show();
    w.panel->ShowSeries(TrendChart::kAreaSeries);
    w.addReadings(100, 20000);

    const Picture p(*w.Chtshow);
    const int width = p.width();
    QVERIFY2(p.count(0, areaFill) > width * 4,
             qPrintable(said("fill below the line", 0, p.count(0, areaFill), width)));
    QVERIFY2(p.count(20000, areaLine) > width / 2,
             qPrintable(said("area line", 20000, p.count(20000, areaLine), width)));
    QVERIFY2(p.count(32000, areaFill) == 0,
             qPrintable(said("fill above", 32000, p.count(32000, areaFill), width)));
    QVERIFY2(p.count(20000, lineRed) == 0,
             qPrintable(said("line series", 20000, p.count(20000, lineRed), width)));
}

void ChartDrawingTest::lineSeriesDrawsOnlyTheLine() {
    ChartTestWindow w;
    w.window.show();
    w.panel->ShowSeries(TrendChart::kLineSeries);
    w.addReadings(100, 20000);

    const Picture p(*w.Chtshow);
    const int width = p.width();
    QVERIFY2(p.count(20000, lineRed) > width / 2,
             qPrintable(said("line", 20000, p.count(20000, lineRed), width)));
    QVERIFY2(p.count(0, areaFill) == 0, qPrintable(said("fill", 0, p.count(0, areaFill), width)));
}

void ChartDrawingTest::onlyTheWindowIsDrawn() {
    ChartTestWindow w;
    w.window.show();
    w.panel->ShowSeries(TrendChart::kLineSeries);
    // With the placeholder, 200 points: two pages.
    w.addReadings(100, 30000);
    w.addReadings(99, -30000);
    QCOMPARE(w.control().PageCount(), 2);

    {
        const Picture p(*w.Chtshow);
        const int width = p.width();
        QVERIFY2(p.count(-30000, lineRed) > width / 2,
                 qPrintable(said("page 2 line", -30000, p.count(-30000, lineRed), width)));
        QVERIFY2(p.count(30000, lineRed) == 0,
                 qPrintable(said("page 1 line on page 2", 30000, p.count(30000, lineRed), width)));
    }
    w.Panel19->BtFirst->click();
    {
        const Picture p(*w.Chtshow);
        const int width = p.width();
        QVERIFY2(p.count(30000, lineRed) > width / 2,
                 qPrintable(said("page 1 line", 30000, p.count(30000, lineRed), width)));
        QVERIFY2(p.count(-30000, lineRed) == 0, qPrintable(said("page 2 line on page 1", -30000,
                                                                p.count(-30000, lineRed), width)));
    }
}

void ChartDrawingTest::manyPointsPerPixelKeepTheirExtremes() {
    ChartTestWindow w;
    w.window.show();
    w.panel->ShowSeries(TrendChart::kLineSeries);
    w.applyPageSizeText(QStringLiteral("20000"));
    for (int i = 0; i < 20000; ++i)
        w.panel->AddValue(i % 2 == 0 ? 30000 : -30000);
    QCOMPARE(w.Chtshow->bottomMaximum(), 20000.0);

    const Picture p(*w.Chtshow);
    const int width = p.width();
    // Every pixel column swings through both extremes.
    QVERIFY2(p.count(30000, lineRed) >= width,
             qPrintable(said("top", 30000, p.count(30000, lineRed), width)));
    QVERIFY2(p.count(-30000, lineRed) >= width,
             qPrintable(said("bottom", -30000, p.count(-30000, lineRed), width)));
}

void ChartDrawingTest::meterCountsAreStoredExactly() {
    ChartTestWindow w;
    const double counts[] = {40000, -40000, 39999, -39999, 1, -1, 0, 12345};
    for (double c : counts)
        w.panel->AddValue(c);
    for (int i = 0; i < int(std::size(counts)); ++i)
        QCOMPARE(w.Chtshow->value(i + 1), counts[i]);
}

void ChartDrawingTest::unusableValuesLeaveGapsAndNoCrash() {
    ChartTestWindow w;
    w.window.show();
    w.panel->ShowSeries(TrendChart::kLineSeries);
    const double awkward[] = {std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(),
                              1e300,
                              -1e300,
                              std::numeric_limits<double>::denorm_min()};
    for (double v : awkward) {
        w.addReadings(14, 20000);
        w.panel->AddValue(v);
    }
    w.addReadings(5, 20000);
    QCOMPARE(w.control().PageCount(), 1);
    QCOMPARE(w.Chtshow->pointCount(), 1 + 6 * 15 + 5);
    QVERIFY(std::isnan(w.Chtshow->value(15)));
    QCOMPARE(w.Chtshow->value(60), double(std::numeric_limits<float>::max()));
    QCOMPARE(w.Chtshow->value(75), -double(std::numeric_limits<float>::max()));

    const Picture p(*w.Chtshow);
    QVERIFY2(p.count(20000, lineRed) > p.width() / 2,
             qPrintable(said("line between the gaps", 20000, p.count(20000, lineRed), p.width())));
}

QTEST_MAIN(ChartDrawingTest)
#include "ChartDrawingTest.moc"
