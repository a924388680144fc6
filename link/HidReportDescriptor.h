#pragma once

#include <cstddef>
#include <cstdint>

namespace qm45 {

// What a HID report descriptor says about the device's input reports.
struct HidReportDescriptor {
    // Reports start with a report-ID byte on the wire.
    bool numberedReports = false;
    // The longest input report in bytes plus one byte for the report ID
    // (counted also when the device uses none); 0 without input reports.
    std::uint16_t inputReportByteLength = 0;

    // Reads as much of the descriptor as is well formed; a truncated item
    // ends the walk.
    [[nodiscard]] static HidReportDescriptor parse(const std::uint8_t* data, std::size_t size);
};

} // namespace qm45
