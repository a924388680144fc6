#include "protocol/MeterProtocol.h"

namespace qm45 {

void MeterProtocol::H45ARData(const std::uint8_t* DataPtr, std::int32_t DataSize) {
    frames_.feedSerial(DataPtr, DataSize, *this);
}

void MeterProtocol::HidData45A(std::uint8_t, const std::uint8_t* Data, std::uint16_t Size) {
    frames_.feedUsbReport(Data, Size, *this);
}

bool MeterProtocol::onFrame(std::string_view frameText) {
    DecodeResult result = decodeFrame(frameText, state_, context_);
    state_ = result.after;
    listener_.LcdDisplay45A(result);
    return result.accepted();
}

} // namespace qm45
