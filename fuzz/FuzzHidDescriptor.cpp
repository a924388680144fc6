// The HID report descriptor parser: any bytes a device may report as its
// descriptor.

#include "FuzzCheck.h"

#include "link/HidReportDescriptor.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qm45::HidReportDescriptor parsed = qm45::HidReportDescriptor::parse(data, size);
    // The items are read in order and the walk stops at a truncated one, so
    // the first half of a descriptor says no more than the whole: no report
    // IDs the whole lacks, no longer input report.
    const qm45::HidReportDescriptor prefix = qm45::HidReportDescriptor::parse(data, size / 2);
    QM45_FUZZ_CHECK(!prefix.numberedReports || parsed.numberedReports);
    QM45_FUZZ_CHECK(prefix.inputReportByteLength <= parsed.inputReportByteLength);
    return 0;
}
