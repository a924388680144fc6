#pragma once

#include <csignal>
#include <sys/resource.h>

// Makes every write past `bytes` into any file of this process fail with
// EFBIG, as a full disk does: a real write failure half-way through a save,
// which also works when the tests run as root. SIGXFSZ is ignored meanwhile,
// or the first refused write would end the process.
class DataFileSizeLimit {
public:
    explicit DataFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~DataFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    DataFileSizeLimit(const DataFileSizeLimit&) = delete;
    DataFileSizeLimit& operator=(const DataFileSizeLimit&) = delete;

    [[nodiscard]] bool active() const { return active_; }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};
