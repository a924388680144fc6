#include "tools/ListenerView.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qm45::sim {

namespace {

// The decoder spells units in the code of the LCD's symbol font.
[[nodiscard]] std::string readableUnit(const std::string& unit) {
    std::string text;
    for (char c : unit) {
        switch (c) {
        case '*':
            text += "\u03A9";
            break;
        case '#':
            text += "\u00B0C";
            break;
        case '?':
            text += "\u00B0F";
            break;
        default:
            text += c;
        }
    }
    return text;
}

} // namespace

std::string ListenerView::feed(const std::vector<std::uint8_t>& bytes) {
    outcome_.clear();
    assembler_.feedSerial(bytes.data(), static_cast<std::int32_t>(bytes.size()), *this);
    if (!outcome_.empty()) {
        return outcome_;
    }
    if (std::find(bytes.begin(), bytes.end(), std::uint8_t{0x0D}) != bytes.end()) {
        return "dropped by the framing test";
    }
    return "no frame ended";
}

bool ListenerView::onFrame(std::string_view frameText) {
    DecodeResult result = decodeFrame(frameText, state_, context_);
    state_ = std::move(result.after);
    if (!outcome_.empty()) {
        outcome_ += "; ";
    }
    if (!result.accepted()) {
        outcome_ += "rejected: " + result.error;
        return false;
    }
    const CurrentReading& reading = state_.reading;
    outcome_ += reading.ValueText;
    if (!reading.UnitText.empty()) {
        outcome_ += ' ' + readableUnit(reading.UnitText);
    }
    if (!reading.FunctionText.empty()) {
        outcome_ += "  " + reading.FunctionText;
    }
    if (!reading.AutoText.empty()) {
        outcome_ += ' ' + reading.AutoText;
    }
    outcome_ += "  [" + std::to_string(std::llround(reading.NumericValue)) + ']';
    return true;
}

} // namespace qm45::sim
