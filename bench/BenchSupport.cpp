#include "bench/BenchSupport.h"

#include <fstream>
#include <unistd.h>

namespace qm45::bench {

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0;
    std::int64_t resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace qm45::bench
