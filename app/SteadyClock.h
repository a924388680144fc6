#pragma once

#include <QElapsedTimer>

#include <cstdint>

namespace qm45 {

// A clock that only goes forward, for "how long ago" questions; wall-clock
// changes do not move it.
class SteadyClock {
public:
    virtual ~SteadyClock() = default;
    // Milliseconds from an arbitrary fixed start.
    [[nodiscard]] virtual std::int64_t nowMs() const = 0;
};

class SystemSteadyClock final : public SteadyClock {
public:
    SystemSteadyClock() { started_.start(); }
    [[nodiscard]] std::int64_t nowMs() const override { return started_.elapsed(); }

private:
    QElapsedTimer started_;
};

} // namespace qm45
