#include "bench/BenchSupport.h"
#include "record/ReadingsGrid.h"
#include "record/ReadingsModel.h"
#include "record/ReadingsTable.h"
#include "record/ReadingsView.h"
#include "record/RecordClock.h"
#include "record/Recorder.h"
#include "view/TChartControl.h"
#include "view/TrendChart.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

// The recorder's path for one sample, the growth of the table, one coalesced
// refresh of the grid and the memory a recorded row costs, at the sizes the
// "limitless" record limit allows.

namespace {

using qm45::bench::residentBytes;

using namespace qm45;

constexpr std::int64_t kTenMillion = 10000000;

// Starts a new high-water mark of resident memory (Linux: clear_refs "5").
bool resetPeakResident() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

std::int64_t peakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// A clock that advances one second every three samples, as a meter sending
// about three frames a second would see it.
class SteppingClock final : public RecordClock {
public:
    QTime timeOfDay() const override {
        return QTime::fromMSecsSinceStartOfDay(int((++calls_ / 3) % 86400) * 1000);
    }
    QString timeSeparator() const override { return separator_; }

private:
    mutable std::int64_t calls_ = 0;
    QString separator_ = QStringLiteral(":");
};

// The trend chart as the window wires it to the recorder: every row adds a
// point and the page number goes to the page button.
struct WiredChart {
    TrendChart chart;
    TChartControl control{chart, TChartControl::kDefaultPageSize};

    WiredChart() {
        chart.setGeometry(0, 0, 377, 286);
        chart.setLeftAxisRange(-40000, 40000);
        chart.show();
    }
    Recorder::Chart hooks() {
        Recorder::Chart c;
        c.addValue = [this](double v) { return control.AddValue(v); };
        c.clearChart = [this] { return control.ClearChart(); };
        c.showPage = [](int page) { benchmark::DoNotOptimize(page); };
        return c;
    }
};

// Readings as the decoder leaves them: values that change from frame to
// frame, a function, unit and verdict that rarely do.
std::vector<Sample> sampleReadings() {
    std::vector<Sample> readings;
    for (int i = 0; i < 4000; ++i) {
        Sample r;
        const int count = (i * 7919) % 40000 - 20000;
        r.ValueText = QString::number(count / 10000.0, 'f', 4).toStdString();
        r.NumericValue = count;
        r.FunctionText = i % 500 < 250 ? "DC" : "AC";
        r.UnitText = "V";
        r.AutoText = "AUTO";
        r.JudgeText = i % 50 == 0 ? "Fail" : "pass";
        readings.push_back(r);
    }
    return readings;
}

// Everything a recorded row passes through, with the grid shown.
struct RecordingWindow {
    ReadingsTable table;
    ReadingsModel model{table};
    SteppingClock clock;
    WiredChart chart;
    Recorder recorder{model, clock, chart.hooks()};
    ReadingsView view;
    ReadingsGrid grid{&view, model};
    std::vector<Sample> readings = sampleReadings();
    std::size_t next = 0;

    RecordingWindow() {
        // Above "limitless", so that the samples timed at ten million rows
        // still pass the gate.
        recorder.setRecordLimit(std::numeric_limits<std::int32_t>::max());
        view.resize(334, 264);
        view.show();
        QCoreApplication::processEvents();
    }

    void sample() {
        const Sample& sample = readings[next];
        next = (next + 1) % readings.size();
        recorder.INDataToTable(sample);
    }

    // Records rows until the table holds this many, and shows them.
    void recordUpTo(std::int64_t rows) {
        while (table.rowCount() < rows)
            sample();
        model.refresh();
        QCoreApplication::processEvents();
    }
};

void BM_RecordOneSample(benchmark::State& state) {
    RecordingWindow w;
    w.recordUpTo(state.range(0));
    const std::int64_t before = w.table.rowCount();
    for (auto _ : state)
        w.sample();
    if (w.table.rowCount() - before != std::int64_t(state.iterations()))
        state.SkipWithError("a sample did not become a row");
    state.counters["rows"] = double(w.table.rowCount());
}
BENCHMARK(BM_RecordOneSample)
    ->Arg(0)
    ->Arg(kTenMillion)
    ->Iterations(200000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kNanosecond);

// Appending a million rows: the time per row, the longest single append at
// a chunk boundary and elsewhere (a table that copied itself to grow would
// stall at the boundaries), the bytes held per row, and the peak memory of
// the growth against what the finished table holds (copying to grow would
// need old and new storage at once).
void BM_TableGrowth(benchmark::State& state) {
    const std::vector<Sample> readings = sampleReadings();
    std::vector<ReadingRow> rows;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        ReadingRow r;
        r.no = std::int32_t(i);
        r.time = Recorder::formatTime(QTime::fromMSecsSinceStartOfDay(int(i) * 1000),
                                      QStringLiteral(":"));
        r.dcac = QString::fromStdString(readings[i].FunctionText);
        r.value = QString::fromStdString(readings[i].ValueText);
        r.unit = QString::fromStdString(readings[i].UnitText);
        r.judge = QString::fromStdString(readings[i].JudgeText);
        r.nval = std::int32_t(readings[i].NumericValue);
        rows.push_back(r);
    }
    const std::int64_t count = state.range(0);
    constexpr std::int64_t kChunkRows = 4096;
    std::vector<std::int64_t> nanoseconds(std::size_t(count), 0);
    double bytesPerRow = 0;
    double peakOverFinal = 0;
    std::int64_t longestAtBoundary = 0;
    std::int64_t longestElsewhere = 0;
    for (auto _ : state) {
        const bool peakReset = resetPeakResident();
        const std::int64_t before = residentBytes();
        {
            ReadingsTable table;
            QElapsedTimer t;
            for (std::int64_t i = 0; i < count; ++i) {
                t.start();
                table.append(rows[std::size_t(i) % rows.size()]);
                nanoseconds[std::size_t(i)] = t.nsecsElapsed();
            }
            const std::int64_t grown = residentBytes() - before;
            if (peakReset && grown > 0)
                peakOverFinal = double(peakResidentBytes() - before) / double(grown);
            bytesPerRow = double(table.memoryBytes()) / double(count);
        }
        for (std::int64_t i = 0; i < count; ++i) {
            std::int64_t& longest = i % kChunkRows == 0 ? longestAtBoundary : longestElsewhere;
            longest = std::max(longest, nanoseconds[std::size_t(i)]);
        }
    }
    state.counters["ns/row"] =
        benchmark::Counter(double(count) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["longest at chunk start ns"] = double(longestAtBoundary);
    state.counters["longest elsewhere ns"] = double(longestElsewhere);
    state.counters["bytes/row"] = bytesPerRow;
    if (peakOverFinal > 0)
        state.counters["peak/final memory"] = peakOverFinal;
}
BENCHMARK(BM_TableGrowth)
    ->Arg(1000000)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// One announcement of the rows recorded in 100 ms (three here) to a shown
// grid: insertion, layout, following the newest row and the repaint.
void BM_GridRefresh(benchmark::State& state) {
    RecordingWindow w;
    w.recordUpTo(state.range(0));
    QScrollBar* bar = w.view.verticalScrollBar();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 3; ++i)
            w.sample();
        state.ResumeTiming();
        w.model.refresh();
        w.view.viewport()->repaint();
        w.view.verticalHeader()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    if (bar->value() != bar->maximum() || w.view.currentIndex().row() != w.model.rowCount() - 1)
        state.SkipWithError("the grid did not follow the newest row");
    state.counters["rows"] = double(w.table.rowCount());
}
BENCHMARK(BM_GridRefresh)
    ->Arg(1000)
    ->Arg(kTenMillion)
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// Ten million recorded rows with the grid and the chart: what the
// table says it holds, and what the process grew by (table, grid, chart).
void BM_MemoryPerRow(benchmark::State& state) {
    for (auto _ : state) {
        // Memory freed by the benchmarks before stays in the process unless
        // handed back; it would otherwise be counted as room the rows reused.
        malloc_trim(0);
        const std::int64_t before = residentBytes();
        auto w = std::make_unique<RecordingWindow>();
        w->recordUpTo(state.range(0));
        w->view.viewport()->repaint();
        const std::int64_t after = residentBytes();
        const double rows = double(w->table.rowCount());
        state.counters["table bytes/row"] = double(w->table.memoryBytes()) / rows;
        state.counters["process bytes/row"] = double(after - before) / rows;
        state.counters["chart bytes/row"] = double(w->chart.chart.storedBytes()) / rows;
    }
}
BENCHMARK(BM_MemoryPerRow)->Arg(kTenMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
