#pragma once

#include <cstdint>
#include <string_view>

namespace qm45 {

// Receives every frame that passed the framing test, as 11 hexadecimal digit
// characters (nine payload digits, then "DA"). Returns false when the frame was
// rejected by the decoder: the link handler then drops the rest of the chunk or
// report it was working on.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual bool onFrame(std::string_view frameText) = 0;
};

// Cuts the meter's byte stream into frames, for both links. Only the low nibble
// of each byte carries information; the serial link additionally needs the exact
// byte 0x0D to end a frame.
//
// The accumulators keep only the first 11 digits they are given plus a count:
// nothing past the 11th digit is ever looked at, and a stream of noise without a
// carriage return (or a USB run without an idle report) must not grow memory.
// No member allocates.
class FrameAssembler {
public:
    static constexpr int kFrameLength = 11;

    // Serial received-data handler: bytes in arrival order.
    void feedSerial(const std::uint8_t* data, std::int32_t size, FrameSink& sink);

    // USB data handler: the bytes of one input report after its report ID.
    // data[0] is the status byte whose low nibble counts the meter bytes after it.
    void feedUsbReport(const std::uint8_t* data, std::uint16_t size, FrameSink& sink);

    // FrameText: the last frame handed over (or formed and dropped by the test).
    [[nodiscard]] std::string_view frameText() const { return {frameText_, std::size_t(frameLength_)}; }

    // UsbIdleCount: idle reports since the last data report.
    [[nodiscard]] std::int32_t usbIdleCount() const { return usbIdleCount_; }
    void setUsbIdleCount(std::int32_t count) { usbIdleCount_ = count; }
    [[nodiscard]] bool usbFramePending() const { return usbFramePending_; }

private:
    char frameText_[kFrameLength] = {};
    int frameLength_ = 0;

    // SerialNibbleText: first 11 digits since the last carriage return, and how many arrived.
    char serialNibbles_[kFrameLength] = {};
    std::int64_t serialCount_ = 0;

    // UsbPairText, kept as the low nibbles of its first 11 pairs, and how many pairs arrived.
    char usbNibbles_[kFrameLength] = {};
    std::int64_t usbPairCount_ = 0;
    bool usbFramePending_ = false;
    std::int32_t usbIdleCount_ = 0;
};

} // namespace qm45
