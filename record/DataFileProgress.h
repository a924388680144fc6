#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace qm45 {

// Shared by the worker thread that saves or loads a data file and the main
// thread that shows its progress. The worker reports and polls the stop
// request between blocks of rows; the main thread reads the progress from a
// timer and may ask the worker to stop.
class DataFileProgress {
public:
    static constexpr int kScale = 1000;

    void report(std::int64_t done, std::int64_t total) {
        const int scaled =
            total <= 0 ? kScale : int(std::min<std::int64_t>(done, total) * kScale / total);
        scaled_.store(scaled, std::memory_order_relaxed);
    }
    // 0 to kScale.
    [[nodiscard]] int scaled() const { return scaled_.load(std::memory_order_relaxed); }

    void requestStop() { stop_.store(true, std::memory_order_relaxed); }
    [[nodiscard]] bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }

private:
    std::atomic<int> scaled_{0};
    std::atomic<bool> stop_{false};
};

// For a save, after each row: reports every few thousand rows and tells
// whether to go on (false once a stop was asked for). No progress: go on.
inline bool continueAfterRow(DataFileProgress* progress, std::int64_t row, std::int64_t rows) {
    constexpr std::int64_t kRowsPerReport = 8192;
    if (!progress || row % kRowsPerReport != 0)
        return true;
    if (progress->stopRequested())
        return false;
    progress->report(row, rows);
    return true;
}

// For a load: hands `in` to `feed` a megabyte at a time, reporting progress
// against `size`, and at the end returns what `finish` says. A read error, a
// block `feed` refuses or a stop request ends it with false.
template <typename Feed, typename Finish>
bool readInBlocks(QIODevice& in, std::int64_t size, DataFileProgress* progress, Feed feed, Finish finish) {
    constexpr qint64 kBlock = 1 << 20;
    QByteArray block(kBlock, Qt::Uninitialized);
    std::int64_t done = 0;
    for (;;) {
        const qint64 got = in.read(block.data(), kBlock);
        if (got < 0)
            return false;
        if (got == 0)
            return finish();
        if (!feed(QByteArrayView(block.constData(), got)))
            return false;
        done += got;
        if (progress) {
            if (progress->stopRequested())
                return false;
            progress->report(done, size);
        }
    }
}

} // namespace qm45
