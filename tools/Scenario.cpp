#include "tools/Scenario.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace qm45::sim {

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::size_t kPayloadLength = 9;
constexpr std::size_t kDisplayDigits = 5;
constexpr std::size_t kTruncatedLength = 6;
constexpr std::minstd_rand::result_type kSeed = 45;

// No 0x0D in here: the burst runs into the next frame, which the program then has
// to drop as well, as it would after a real glitch on the line.
constexpr std::uint8_t kNoise[] = {0x00, 0xFF, 0x3A, 0x9D, 0x55, 0xE3, 0x07, 0x80};

[[nodiscard]] int nibble(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

[[nodiscard]] bool hasDecimalDisplay(std::string_view payload) {
    return std::all_of(payload.begin(), payload.begin() + kDisplayDigits,
                       [](char c) { return c >= '0' && c <= '9'; });
}

void check(const Step& step) {
    const std::string name(step.what);
    if (step.frames < 1) {
        throw std::invalid_argument("step '" + name + "' has no frames");
    }
    if (step.damage == Damage::Noise) {
        return;
    }
    if (step.payload.size() != kPayloadLength) {
        throw std::invalid_argument("step '" + name + "' needs nine payload digits");
    }
    for (char c : step.payload) {
        if (nibble(c) < 0) {
            throw std::invalid_argument(
                "step '" + name + "' has a payload character that is not a hexadecimal digit");
        }
    }
    if ((step.slope != 0 || step.wander != 0) && !hasDecimalDisplay(step.payload)) {
        throw std::invalid_argument("step '" + name +
                                    "' moves a display that is not five decimal digits");
    }
}

} // namespace

Scenario::Scenario(std::vector<Step> steps) : steps_(std::move(steps)) {
    if (steps_.empty()) {
        throw std::invalid_argument("a scenario needs at least one step");
    }
    for (const Step& step : steps_) {
        check(step);
        framesPerLoop_ += step.frames;
    }
}

std::vector<Step> Scenario::standardSteps() {
    constexpr auto Truncated = Damage::Truncated;
    constexpr auto Noise = Damage::Noise;
    constexpr auto LostLineFeed = Damage::LostLineFeed;
    constexpr auto None = Damage::None;
    // what, frames, payload, slope, wander, damage
    return {
        {"DC volts, AUTO, drifting around 3.91 V", 100, "391201101", 0, 40, None},
        {"DC volts rising to the top of the 4 V range", 20, "395001101", 25, 0, None},
        {"DC volts at the top of the 4 V range", 10, "399991101", 0, 0, None},
        {"DC volts after the change to the 40 V range", 60, "040012101", 0, 4, None},
        {"negative DC volts", 60, "330121105", 0, 20, None},
        {"AC volts (mains)", 80, "230463111", 0, 30, None},
        {"resistance, 4.7 kohm", 60, "469932401", 0, 3, None},
        {"resistance overload (open leads)", 40, "A00006401", 0, 0, None},
        {"capacitance, 1 uF", 60, "100233501", 0, 10, None},
        {"temperature, deg C", 60, "002351600", 0, 3, None},
        {"temperature, deg F", 60, "007431D00", 0, 5, None},
        {"positive overload, DC volts, manual range", 40, "A00004100", 0, 0, None},
        {"negative overload", 40, "A00004104", 0, 0, None},
        {"overload in the L0 form", 40, "AC0004100", 0, 0, None},
        {"duty cycle: frequency frame with the minus flag", 60, "050001C04", 0, 5, None},
        {"frequency, 1 kHz", 60, "100002C01", 0, 2, None},
        {"DC volts, AUTO off", 40, "123452100", 0, 3, None},
        {"DC volts, AUTO on again", 40, "123452101", 0, 3, None},
        {"display of all zeros (digit 4 = B)", 40, "000B01101", 0, 0, None},
        {"blank fifth digit", 40, "1234A2101", 0, 0, None},
        {"truncated frame", 1, "391201101", 0, 0, Truncated},
        {"DC volts", 20, "391201101", 0, 40, None},
        {"line noise", 1, "", 0, 0, Noise},
        {"DC volts", 20, "391201101", 0, 40, None},
        {"range digit B: the program reports an error", 1, "39120B101", 0, 0, None},
        {"DC volts", 20, "391201101", 0, 40, None},
        {"lost line feed", 1, "391201101", 0, 0, LostLineFeed},
        {"DC volts", 20, "391201101", 0, 40, None},
    };
}

std::vector<Step> Scenario::rejectedSteps() {
    return {{"range digit B: the program reports an error", 1, "39120B101", 0, 0, Damage::None}};
}

int Scenario::displayCount(const Step& step) {
    if (step.wander > 0) {
        const int stride = std::max(1, step.wander / 6);
        walk_ += static_cast<int>(random_() % static_cast<unsigned>(2 * stride + 1)) - stride;
        walk_ = std::clamp(walk_, -step.wander, step.wander);
    }
    const int base = std::stoi(std::string(step.payload.substr(0, kDisplayDigits)));
    return std::clamp(base + step.slope * indexInStep_ + walk_, 0, 99999);
}

Frame Scenario::next() {
    if (step_ == 0 && indexInStep_ == 0) {
        random_.seed(kSeed);
    }
    if (indexInStep_ == 0) {
        walk_ = 0;
    }
    const Step& step = steps_[step_];
    Frame frame;
    frame.step = step_;
    frame.indexInStep = indexInStep_;

    if (step.damage == Damage::Noise) {
        frame.bytes.assign(std::begin(kNoise), std::end(kNoise));
    } else {
        std::string digits(step.payload);
        if (step.slope != 0 || step.wander != 0) {
            std::string count = std::to_string(displayCount(step));
            count.insert(0, kDisplayDigits - count.size(), '0');
            digits.replace(0, kDisplayDigits, count);
        }
        if (step.damage == Damage::Truncated) {
            digits.resize(kTruncatedLength);
        }
        for (char c : digits) {
            frame.bytes.push_back(static_cast<std::uint8_t>(0x30 | nibble(c)));
        }
        frame.bytes.push_back(kCarriageReturn);
        if (step.damage != Damage::LostLineFeed) {
            frame.bytes.push_back(kLineFeed);
        }
    }

    if (++indexInStep_ == step.frames) {
        indexInStep_ = 0;
        step_ = (step_ + 1) % steps_.size();
    }
    return frame;
}

} // namespace qm45::sim
