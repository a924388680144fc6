#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace qm45::sim {

// How a step's frames differ from what a healthy meter sends.
enum class Damage {
    None,
    Truncated,    // the last payload bytes never arrive; CR LF do
    Noise,        // a burst of line noise instead of a frame, with no carriage return in it
    LostLineFeed, // the frame ends with CR only
};

// One stretch of the scenario: the same display for `frames` frames, optionally moving.
struct Step {
    std::string_view what; // shown in verbose mode
    int frames = 1;
    // Nine hexadecimal digits as the meter puts them on the wire: the five display
    // digits, range r, function m, coupling c, flag f. Each is sent as 0x30 | digit.
    std::string_view payload;
    int slope = 0;  // counts added to the display digits per frame
    int wander = 0; // the display digits random-walk within +-wander counts
    Damage damage = Damage::None;
};

struct Frame {
    std::size_t step = 0; // index into Scenario::steps()
    int indexInStep = 0;
    std::vector<std::uint8_t> bytes;
};

// The frames the virtual meter plays, step after step, starting over after the last.
// Every loop produces exactly the same bytes, so a run can be checked against another.
class Scenario {
public:
    // Throws std::invalid_argument for a step that cannot be put on the wire.
    explicit Scenario(std::vector<Step> steps);

    // A tour of the meter's functions and display forms, with a few damaged frames
    // near the end; about 55 s at 20 frames per second.
    [[nodiscard]] static std::vector<Step> standardSteps();
    // Nothing but frames the program rejects (range digit B), as a faulty meter or
    // a wrong cable would send: for checking that the user can still disconnect.
    [[nodiscard]] static std::vector<Step> rejectedSteps();

    [[nodiscard]] const std::vector<Step>& steps() const { return steps_; }
    [[nodiscard]] int framesPerLoop() const { return framesPerLoop_; }

    [[nodiscard]] Frame next();

private:
    [[nodiscard]] int displayCount(const Step& step);

    std::vector<Step> steps_;
    int framesPerLoop_ = 0;
    std::size_t step_ = 0;
    int indexInStep_ = 0;
    int walk_ = 0;
    std::minstd_rand random_;
};

} // namespace qm45::sim
