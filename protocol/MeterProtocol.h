#pragma once

#include "protocol/FrameAssembler.h"
#include "protocol/QM45Decoder.h"

#include <cstdint>

namespace qm45 {

// The meter's side of the program: the two link handlers, the frame
// assembler and the decoder with the reading it keeps. Everything a decoded
// frame changes on screen is left to the listener. Main thread only.
class MeterProtocol final : private FrameSink {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        // Called once for every frame that passed the framing test, accepted or
        // rejected, after the protocol's own state has been updated.
        virtual void LcdDisplay45A(const DecodeResult& result) = 0;
    };

    explicit MeterProtocol(Listener& listener) : listener_(listener) {}

    // Serial received-data handler.
    void H45ARData(const std::uint8_t* DataPtr, std::int32_t DataSize);
    // USB data handler: Data points to the bytes after the report ID.
    void HidData45A(std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size);

    [[nodiscard]] const DecoderState& state() const { return state_; }
    [[nodiscard]] const CurrentReading& reading() const { return state_.reading; }

    [[nodiscard]] DecoderContext& context() { return context_; }
    [[nodiscard]] const DecoderContext& context() const { return context_; }
    [[nodiscard]] FrameAssembler& frames() { return frames_; }
    [[nodiscard]] const FrameAssembler& frames() const { return frames_; }

private:
    bool onFrame(std::string_view frameText) override;

    Listener& listener_;
    FrameAssembler frames_;
    DecoderState state_;
    DecoderContext context_;
};

} // namespace qm45
