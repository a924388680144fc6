// The USB report path: input reports as the HID reader hands them over,
// through MeterProtocol::HidData45A, the frame assembler and the decoder.
//
// Input: a run of reports, each a length byte (0 to 63) and that many bytes
// (the status byte first); a length beyond the input takes what is left.

#include "FuzzCheck.h"

#include "protocol/MeterProtocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

class Checks final : public qm45::MeterProtocol::Listener {
public:
    const qm45::MeterProtocol* protocol = nullptr;
    int frames = 0;

    void LcdDisplay45A(const qm45::DecodeResult& result) override {
        ++frames;
        const std::string_view frame = protocol->frames().frameText();
        QM45_FUZZ_CHECK(frame.size() == 11);
        QM45_FUZZ_CHECK(frame.substr(9) == "DA");
        QM45_FUZZ_CHECK(result.accepted() == result.error.empty());
        QM45_FUZZ_CHECK(!result.accepted() ||
                        (result.barPosition >= 1 && result.barPosition <= 99));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Checks checks;
    qm45::MeterProtocol protocol(checks);
    checks.protocol = &protocol;

    std::size_t at = 0;
    int reports = 0;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at] % 64, size - at - 1);
        ++at;
        const int framesBefore = checks.frames;
        protocol.HidData45A(0, data + at, std::uint16_t(length));
        ++reports;
        // A report hands over at most one frame: the one it ends.
        QM45_FUZZ_CHECK(checks.frames - framesBefore <= 1);
        QM45_FUZZ_CHECK(protocol.frames().usbIdleCount() >= 0);
        QM45_FUZZ_CHECK(protocol.frames().usbIdleCount() <= reports);
        at += length;
    }
    return 0;
}
