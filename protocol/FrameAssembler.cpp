#include "protocol/FrameAssembler.h"

#include <algorithm>
#include <limits>

namespace qm45 {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr char lowNibbleDigit(std::uint8_t byte) {
    return kHexDigits[byte & 0x0F];
}

constexpr std::uint8_t kCarriageReturn = 0x0D;

} // namespace

void FrameAssembler::feedSerial(const std::uint8_t* data, std::int32_t size, FrameSink& sink) {
    if (data == nullptr || size <= 0)
        return;

    for (std::int32_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (serialCount_ < kFrameLength)
            serialNibbles_[serialCount_] = lowNibbleDigit(byte);
        ++serialCount_;

        // The high nibble matters here only: 0x8D is payload, not an end of frame.
        if (byte != kCarriageReturn)
            continue;

        // Characters 2..10 of the nibble text, then "DA". The carriage return's
        // own digit is in the text, so at least one character is there.
        const int payload = int(std::min<std::int64_t>(serialCount_, 10)) - 1;
        std::copy_n(serialNibbles_ + 1, payload, frameText_);
        frameText_[payload] = 'D';
        frameText_[payload + 1] = 'A';
        frameLength_ = payload + 2;

        // The leading 'A' is the line feed that closed the previous frame; the 11th
        // character is this carriage return only when exactly ten bytes lay between.
        const bool framed = serialCount_ >= kFrameLength && serialNibbles_[0] == 'A' &&
                            serialNibbles_[kFrameLength - 1] == 'D';
        serialCount_ = 0;
        if (framed && !sink.onFrame(frameText()))
            return;
    }
}

void FrameAssembler::feedUsbReport(const std::uint8_t* data, std::uint16_t size, FrameSink& sink) {
    const bool hasStatus = data != nullptr && size > 0;
    const int count = hasStatus ? (data[0] & 0x0F) : -1;

    // Signed overflow would be undefined; the watchdog acts long before this.
    if (hasStatus && usbIdleCount_ < std::numeric_limits<std::int32_t>::max())
        ++usbIdleCount_;

    if (count >= 1 && count <= 9) {
        usbIdleCount_ = 0;
        usbFramePending_ = true;
        // A short report carries fewer meter bytes than its count says.
        const int available = std::min<int>(count, size - 1);
        for (int i = 1; i <= available; ++i) {
            if (usbPairCount_ < kFrameLength)
                usbNibbles_[usbPairCount_] = lowNibbleDigit(data[i]);
            ++usbPairCount_;
        }
        return;
    }

    if (!usbFramePending_)
        return;

    const int length = int(std::min<std::int64_t>(usbPairCount_, kFrameLength));
    std::copy_n(usbNibbles_, length, frameText_);
    frameLength_ = length;
    usbPairCount_ = 0;
    usbFramePending_ = false;
    // Only the nibbles are tested on this link: 0x8D 0x3A ends a frame too.
    // Nothing follows the frame in its report, so a rejection leaves nothing to drop.
    if (length == kFrameLength && frameText_[9] == 'D' && frameText_[10] == 'A')
        (void)sink.onFrame(frameText());
}

} // namespace qm45
