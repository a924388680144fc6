#pragma once

#include <cstdint>

namespace qm45::bench {

// Resident memory of this process, in bytes (0 when it cannot be read).
[[nodiscard]] std::int64_t residentBytes();

} // namespace qm45::bench
