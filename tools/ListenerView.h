#pragma once

#include "protocol/FrameAssembler.h"
#include "protocol/QM45Decoder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm45::sim {

// What the program makes of the bytes on the line, had it been listening since the
// first one: the program's own frame assembly and decoder, run on what was sent.
class ListenerView : private FrameSink {
public:
    // Takes the next bytes sent and describes the outcome in one line, e.g.
    // "3.9120 V  DC AUTO  [39120]", "rejected: 'B' is not a valid integer value",
    // or "dropped by the framing test".
    [[nodiscard]] std::string feed(const std::vector<std::uint8_t>& bytes);

private:
    bool onFrame(std::string_view frameText) override;

    FrameAssembler assembler_;
    DecoderState state_;
    DecoderContext context_;
    std::string outcome_;
};

} // namespace qm45::sim
