// The serial frame path: bytes as the serial driver delivers them, through
// MeterProtocol::H45ARData, the frame assembler and the decoder.
//
// Input: the first byte picks how many bytes each read delivers (1 to 32),
// the rest is the line.

#include "FuzzCheck.h"

#include "protocol/MeterProtocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

class Checks final : public qm45::MeterProtocol::Listener {
public:
    const qm45::MeterProtocol* protocol = nullptr;
    std::string frames; // every frame handed on, in order
    bool anyRejected = false;

    void LcdDisplay45A(const qm45::DecodeResult& result) override {
        const std::string_view frame = protocol->frames().frameText();
        frames += frame;
        anyRejected = anyRejected || !result.accepted();
        QM45_FUZZ_CHECK(frame.size() == 11);
        QM45_FUZZ_CHECK(frame.substr(9) == "DA");
        QM45_FUZZ_CHECK(std::all_of(frame.begin(), frame.end(), isUpperHex));
        const qm45::CurrentReading& reading = result.after.reading;
        if (result.accepted()) {
            QM45_FUZZ_CHECK(result.error.empty());
            QM45_FUZZ_CHECK(result.barPosition >= 1 && result.barPosition <= 99);
            // Sign, five digits, a decimal mark and at most one more point.
            QM45_FUZZ_CHECK(!reading.ValueText.empty() && reading.ValueText.size() <= 8);
            QM45_FUZZ_CHECK(reading.NumericValue >= -99999 && reading.NumericValue <= 99999);
            QM45_FUZZ_CHECK(result.after.memory.PrevUnitText == reading.UnitText);
        } else {
            const int step = result.rejectedAtStep;
            QM45_FUZZ_CHECK(step == 4 || step == 6 || step == 7 || step == 10);
            QM45_FUZZ_CHECK(result.barPosition == -1);
            QM45_FUZZ_CHECK(!result.error.empty());
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t readSize = 1 + data[0] % 32;
    ++data;
    --size;

    Checks checks;
    qm45::MeterProtocol protocol(checks);
    checks.protocol = &protocol;
    for (std::size_t at = 0; at < size; at += readSize) {
        const std::size_t n = std::min(readSize, size - at);
        protocol.H45ARData(data + at, std::int32_t(n));
    }
    QM45_FUZZ_CHECK(protocol.frames().frameText().size() <= 11);

    // Where the reads end must not matter: a byte at a time gives the same
    // frames, as long as no rejected frame dropped the rest of a read.
    Checks byByte;
    qm45::MeterProtocol single(byByte);
    byByte.protocol = &single;
    for (std::size_t at = 0; at < size; ++at)
        single.H45ARData(data + at, 1);
    if (!checks.anyRejected && !byByte.anyRejected)
        QM45_FUZZ_CHECK(checks.frames == byByte.frames);
    return 0;
}
