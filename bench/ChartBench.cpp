#include "bench/BenchSupport.h"
#include "view/TChartControl.h"
#include "view/TrendChart.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>

// The trend chart as the recorder feeds it: what one more reading costs, what
// drawing one page costs, and what the points cost in memory, each with few
// and with many points already recorded.

namespace {

using qm45::bench::residentBytes;

using qm45::TChartControl;
using qm45::TrendChart;

constexpr std::int64_t kMillion = 1'000'000;

// A meter count between -40000 and 40000 that changes from reading to reading.
double reading(std::int64_t i) {
    return double((i * 37) % 80001 - 40000);
}

struct RecordedChart {
    explicit RecordedChart(std::int64_t readings) {
        chart.setGeometry(0, 0, 377, 286);
        chart.setLeftAxisRange(-40000, 40000);
        chart.show();
        for (std::int64_t i = 0; i < readings; ++i)
            control.AddValue(reading(i));
        chart.replot();
    }
    TrendChart chart;
    TChartControl control{chart, TChartControl::kDefaultPageSize};
};

// Built once per size: ten million readings take a while to record.
RecordedChart& chartWith(std::int64_t readings) {
    static std::map<std::int64_t, std::unique_ptr<RecordedChart>> charts;
    auto& slot = charts[readings];
    if (!slot)
        slot = std::make_unique<RecordedChart>(readings);
    return *slot;
}


// Runs first, in a process that has not yet freed memory for malloc to reuse.
void ChartMemory(benchmark::State& state) {
    const std::int64_t readings = state.range(0);
    std::int64_t before = 0;
    std::int64_t after = 0;
    std::size_t stored = 0;
    for (auto _ : state) {
        before = residentBytes();
        auto recorded = std::make_unique<RecordedChart>(readings);
        after = residentBytes();
        stored = recorded->chart.storedBytes();
        benchmark::DoNotOptimize(recorded->chart.pointCount());
    }
    state.counters["resident_bytes_per_point"] = double(after - before) / double(readings);
    state.counters["stored_bytes_per_point"] = double(stored) / double(readings);
    state.counters["resident_MB"] = double(after - before) / double(1 << 20);
}
BENCHMARK(ChartMemory)->Arg(10 * kMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// One reading while following the newest page: the page count, at most one
// shift and a queued repaint.
void AddValue(benchmark::State& state) {
    RecordedChart& recorded = chartWith(state.range(0));
    if (state.range(0) == 0)
        recorded.control.ClearChart();
    std::int64_t i = recorded.chart.pointCount();
    for (auto _ : state)
        benchmark::DoNotOptimize(recorded.control.AddValue(reading(i++)));
    state.counters["points"] = double(recorded.chart.pointCount());
}
BENCHMARK(AddValue)
    ->Arg(0)
    ->Arg(kMillion)
    ->Arg(10 * kMillion)
    ->Iterations(200'000)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// Drawing one full page of 100 points with the argument's count of points
// before it: following, the window stands on the page of the last reading.
void ReplotPage(benchmark::State& state) {
    RecordedChart& recorded = chartWith(state.range(0) + 100);
    for (auto _ : state)
        recorded.chart.replot(QCustomPlot::rpImmediateRefresh);
    state.counters["window_from"] = recorded.chart.bottomMinimum();
}
BENCHMARK(ReplotPage)
    ->Arg(0)
    ->Arg(kMillion)
    ->Arg(10 * kMillion)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

} // namespace
