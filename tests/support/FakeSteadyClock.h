#pragma once

#include "app/SteadyClock.h"

namespace qm45::test {

// A steady clock that moves only when the test says so.
class FakeSteadyClock final : public SteadyClock {
public:
    [[nodiscard]] std::int64_t nowMs() const override { return now; }
    void advance(std::int64_t ms) { now += ms; }
    std::int64_t now = 1000;
};

} // namespace qm45::test
