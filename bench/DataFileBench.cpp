#include "record/DataFiles.h"
#include "record/ReadingsTable.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

// Saving and loading a table of a million recorded rows, text and XML. A
// load is timed to the end of its batch append on the main thread; the two
// parts are also shown on their own: reading the file (the worker thread)
// and the batch append (the main thread, which holds the window up).

namespace {

using namespace qm45;

constexpr int kRows = 1'000'000;

// Rows as the recorder makes them: one a second, the value wandering over the
// meter's count range, now and then a change of function or verdict.
const ReadingsTable& recordedTable() {
    static const std::unique_ptr<ReadingsTable> table = [] {
        auto t = std::make_unique<ReadingsTable>();
        ReadingRow row;
        for (int i = 0; i < kRows; ++i) {
            const int second = i % 86400;
            const int count = int(std::int64_t(i) * 7919 % 40000) - 20000;
            row.no = i + 1;
            row.time = QStringLiteral("%1:%2:%3")
                           .arg(second / 3600, 2, 10, QLatin1Char('0'))
                           .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(second % 60, 2, 10, QLatin1Char('0'));
            row.dcac = (i / 5000) % 3 == 0 ? QStringLiteral("AC") : QStringLiteral("DC");
            row.value = QString::number(count / 10000.0, 'f', 4);
            row.unit = (i / 20000) % 2 == 0 ? QStringLiteral("V") : QStringLiteral("mV");
            row.judge = count < 15000 ? QStringLiteral("pass") : QStringLiteral("Fail");
            row.nval = count;
            t->append(row);
        }
        return t;
    }();
    return *table;
}

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

QString savedFile(const char* name) {
    const QString path = folder().filePath(QLatin1String(name));
    if (!QFile::exists(path) && !saveDataFile(recordedTable().snapshot(), path).saved())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void save(benchmark::State& state, const char* name) {
    const ReadingsTable::Snapshot rows = recordedTable().snapshot();
    const QString path = folder().filePath(QStringLiteral("out-") + QLatin1String(name));
    for (auto _ : state) {
        if (!saveDataFile(rows, path).saved())
            state.SkipWithError("save failed");
    }
    state.counters["MB"] = double(QFileInfo(path).size()) / 1e6;
}

void load(benchmark::State& state, const char* name) {
    const QString path = savedFile(name);
    double readSeconds = 0;
    double appendSeconds = 0;
    for (auto _ : state) {
        std::optional<ReadingsTable> table(std::in_place);
        const auto readStart = std::chrono::steady_clock::now();
        std::optional<DataFileLoadResult> result = loadDataFile(path);
        const auto appendStart = std::chrono::steady_clock::now();
        readSeconds += std::chrono::duration<double>(appendStart - readStart).count();
        applyLoadedRows(*result, *table);
        appendSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - appendStart).count();
        if (!result->loaded() || table->rowCount() != kRows)
            state.SkipWithError("load incomplete");
        state.PauseTiming();
        result.reset();
        table.reset();
        state.ResumeTiming();
    }
    state.counters["worker_read_ms"] =
        benchmark::Counter(readSeconds * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["batch_append_ms"] =
        benchmark::Counter(appendSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_TextSave(benchmark::State& state) {
    save(state, "rows.txt");
}
void BM_TextLoad(benchmark::State& state) {
    load(state, "rows.txt");
}
void BM_XmlSave(benchmark::State& state) {
    save(state, "rows.xml");
}
void BM_XmlLoad(benchmark::State& state) {
    load(state, "rows.xml");
}

} // namespace

#define QM45_FILE_BENCH(name)                                                                      \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5)

QM45_FILE_BENCH(BM_TextSave);
QM45_FILE_BENCH(BM_TextLoad);
QM45_FILE_BENCH(BM_XmlSave);
QM45_FILE_BENCH(BM_XmlLoad);

BENCHMARK_MAIN();
