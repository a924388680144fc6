#include "link/HidReportDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace qm45 {

namespace {

// Item prefixes with their size bits masked off.
constexpr std::uint8_t kInput = 0x80;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportId = 0x84;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kPush = 0xA4;
constexpr std::uint8_t kPop = 0xB4;
constexpr std::uint8_t kLongItem = 0xFE;

struct Globals {
    std::uint64_t reportSize = 0;
    std::uint64_t reportCount = 0;
    std::uint32_t reportId = 0;
};

} // namespace

HidReportDescriptor HidReportDescriptor::parse(const std::uint8_t* data, std::size_t size) {
    HidReportDescriptor result;
    Globals globals;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> inputBits; // per report ID

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t prefix = data[at];
        if (prefix == kLongItem) {
            if (at + 1 >= size)
                break;
            at += 3 + std::size_t(data[at + 1]);
            continue;
        }
        const std::size_t length = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (at + 1 + length > size)
            break;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < length; ++i)
            value |= std::uint32_t(data[at + 1 + i]) << (8 * i);
        switch (prefix & 0xFC) {
        // Capped so that no sum of products can overflow; real reports are
        // far below the cap, and the length is capped at 0xFFFF anyway.
        case kReportSize:
            globals.reportSize = std::min<std::uint32_t>(value, 0xFFFF);
            break;
        case kReportCount:
            globals.reportCount = std::min<std::uint32_t>(value, 0xFFFF);
            break;
        case kReportId:
            globals.reportId = value;
            result.numberedReports = true;
            break;
        case kPush:
            stack.push_back(globals);
            break;
        case kPop:
            if (!stack.empty()) {
                globals = stack.back();
                stack.pop_back();
            }
            break;
        case kInput:
            inputBits[globals.reportId] += globals.reportSize * globals.reportCount;
            break;
        default:
            break;
        }
        at += 1 + length;
    }

    std::uint64_t longest = 0;
    for (const auto& [id, bits] : inputBits)
        longest = std::max(longest, (bits + 7) / 8);
    if (!inputBits.empty())
        result.inputReportByteLength = std::uint16_t(std::min<std::uint64_t>(longest + 1, 0xFFFF));
    return result;
}

} // namespace qm45
