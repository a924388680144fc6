#include "app/LoggerConsole.h"
#include "app/LoggerOptions.h"
#include "app/LoggerRun.h"
#include "bench/BenchSupport.h"
#include "tests/link/FakeSerialPlatform.h"
#include "tests/link/FixedPortDirectory.h"
#include "tests/support/MeterFrames.h"
#include "tools/Scenario.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// qm45-log's cost per frame through its whole path: the bytes a serial read
// delivers go through framing, the decoder, the verdict, the recording rules
// and the format to one write(2) of the row to a log file on disk (synced at
// most once a second), and the memory a long run holds.

namespace {

using namespace qm45;

// The virtual meter's tour: every function, overloads, the L0 form, and now
// and then a truncated, noisy or rejected frame. One loop, as bytes per frame.
const std::vector<std::vector<std::uint8_t>>& scenarioFrames() {
    static const std::vector<std::vector<std::uint8_t>> frames = [] {
        sim::Scenario scenario(sim::Scenario::standardSteps());
        std::vector<std::vector<std::uint8_t>> out;
        for (int i = 0; i < scenario.framesPerLoop(); ++i)
            out.push_back(scenario.next().bytes);
        return out;
    }();
    return frames;
}

// The high-water mark of resident memory (VmHWM), counted as statm counts.
std::int64_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            std::int64_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

constexpr double kMiB = 1024.0 * 1024.0;

// One run on COM 2 of a scripted port that never delivers anything by
// itself: the benchmark hands it the frames. Warnings go to /dev/null.
struct BenchRun {
    explicit BenchRun(LoggerOptions::Format format)
        : nullFd(::open("/dev/null", O_WRONLY | O_CLOEXEC)), console(nullFd, false) {
        LoggerOptions options;
        options.comNumber = 2;
        options.format = format;
        options.output = dir.filePath(QStringLiteral("run.log")).toStdString();
        auto ports = std::make_shared<test::FixedPortDirectory>();
        ports->setDevice(2, QStringLiteral("/dev/ttyBENCH"));
        LoggerServices services;
        services.serialPlatform = std::make_unique<test::FakeSerialPlatform>(serial);
        services.serialPorts = ports;
        services.locale = std::make_shared<test::FixedLocale>(QStringLiteral("."));
        run = std::make_unique<LoggerRun>(options, std::move(services), console);
        started = dir.isValid() && nullFd >= 0 && !run->start();
        const std::uint8_t lineFeed = '\n';
        run->received(&lineFeed, 1);
    }
    ~BenchRun() {
        run->stop();
        run.reset();
        if (nullFd >= 0)
            ::close(nullFd);
    }
    BenchRun(const BenchRun&) = delete;
    BenchRun& operator=(const BenchRun&) = delete;

    void frame() {
        const std::vector<std::uint8_t>& bytes = frames[next];
        next = next + 1 == frames.size() ? 0 : next + 1;
        run->received(bytes.data(), std::int32_t(bytes.size()));
    }
    [[nodiscard]] std::int64_t fileBytes() const {
        return QFileInfo(dir.filePath(QStringLiteral("run.log"))).size();
    }
    // Whether the run went on writing a row for nearly every frame.
    [[nodiscard]] const char* fault() const {
        if (!started)
            return "the run did not start";
        if (run->isFinished())
            return "the run ended (the output could not be written?)";
        if (run->rowsWritten() < run->frames() * 9 / 10)
            return "fewer rows than frames";
        return nullptr;
    }

    QTemporaryDir dir; // $TMPDIR, else /tmp: must be on a disk for the figures to mean anything
    int nullFd;
    LoggerConsole console;
    test::FakeSerialPlatform::State serial;
    std::unique_ptr<LoggerRun> run;
    bool started = false;
    const std::vector<std::vector<std::uint8_t>>& frames = scenarioFrames();
    std::size_t next = 0;
};

const char* formatName(std::int64_t format) {
    switch (LoggerOptions::Format(format)) {
    case LoggerOptions::Format::Text:
        return "text";
    case LoggerOptions::Format::Csv:
        return "csv";
    case LoggerOptions::Format::Jsonl:
        return "jsonl";
    }
    return "?";
}

void formatArgs(benchmark::internal::Benchmark* b) {
    for (const auto f :
         {LoggerOptions::Format::Text, LoggerOptions::Format::Csv, LoggerOptions::Format::Jsonl})
        b->Arg(int(f));
}

// One frame of the scenario per iteration, serial read to row on disk.
void BM_LoggerFrame(benchmark::State& state) {
    BenchRun r(LoggerOptions::Format(state.range(0)));
    state.SetLabel(formatName(state.range(0)));
    for (std::size_t i = 0; i < r.frames.size(); ++i) // one loop to warm up
        r.frame();
    const std::int64_t rowsBefore = r.run->rowsWritten();
    const std::int64_t bytesBefore = r.fileBytes();
    for (auto _ : state)
        r.frame();
    if (const char* fault = r.fault()) {
        state.SkipWithError(fault);
        return;
    }
    const std::int64_t rows = r.run->rowsWritten() - rowsBefore;
    state.SetItemsProcessed(std::int64_t(state.iterations()));
    state.counters["rows/frame"] = double(rows) / double(state.iterations());
    state.counters["bytes/row"] = double(r.fileBytes() - bytesBefore) / double(rows);
}
BENCHMARK(BM_LoggerFrame)->Apply(formatArgs)->Unit(benchmark::kMicrosecond);

// Resident memory of one run after a million and after ten million frames:
// the logger keeps no table, so it must stay flat.
void BM_LoggerMemory(benchmark::State& state) {
    constexpr std::int64_t kMillion = 1'000'000;
    double start = 0;
    double atOne = 0;
    double atTen = 0;
    double rows = 0;
    double fileMiB = 0;
    for (auto _ : state) {
        BenchRun r(LoggerOptions::Format(state.range(0)));
        for (std::size_t i = 0; i < r.frames.size(); ++i)
            r.frame();
        start = double(bench::residentBytes());
        for (std::int64_t i = 0; i < kMillion; ++i)
            r.frame();
        atOne = double(bench::residentBytes());
        for (std::int64_t i = kMillion; i < 10 * kMillion; ++i)
            r.frame();
        atTen = double(bench::residentBytes());
        if (const char* fault = r.fault()) {
            state.SkipWithError(fault);
            return;
        }
        rows = double(r.run->rowsWritten());
        fileMiB = double(r.fileBytes()) / kMiB;
    }
    state.SetLabel(formatName(state.range(0)));
    state.counters["RSS start MiB"] = start / kMiB;
    state.counters["RSS 1M MiB"] = atOne / kMiB;
    state.counters["RSS 10M MiB"] = atTen / kMiB;
    state.counters["growth 1M-10M KiB"] = (atTen - atOne) / 1024.0;
    state.counters["peak RSS MiB"] = double(peakResidentBytes()) / kMiB;
    state.counters["rows"] = rows;
    state.counters["file MiB"] = fileMiB;
}
BENCHMARK(BM_LoggerMemory)
    ->Apply(formatArgs)
    ->Iterations(1)
    ->Repetitions(1) // whatever --benchmark_repetitions says: 30 M frames are enough
    ->Unit(benchmark::kSecond);

} // namespace

// Timers need an application object; none of them fires, as no event loop runs.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
