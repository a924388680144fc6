#pragma once

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

} // namespace qm45
