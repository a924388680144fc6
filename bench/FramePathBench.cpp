#include "protocol/FrameAssembler.h"
#include "protocol/QM45Decoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

// Bytes in, decoded reading out: the frame assembler feeding a sink that decodes
// each frame against the previous state and keeps the result, as the window does.

namespace {

// A mix of display forms, functions, couplings and signs, so the texts change
// from frame to frame as they do when the user turns the dial.
const char* const kPayloads[] = {
    "399991101", "399991105", "A00001101", "AC0001101", "123B51101", "1234A2101", "050001C04",
    "123454401", "123451130", "123452200", "123456C05", "567890610", "123450D00", "123450E00",
    "123450F20", "999990B00", "012347000", "012348100", "123455520", "876543300",
};
constexpr int kPayloadCount = int(sizeof(kPayloads) / sizeof(kPayloads[0]));
constexpr int kFramesPerPass = 1000;

std::vector<std::uint8_t> meterBytes(const char* payload) {
    std::vector<std::uint8_t> out;
    for (const char* c = payload; *c != 0; ++c)
        out.push_back(std::uint8_t(0x30 | ((*c >= 'A') ? (*c - 'A' + 10) : (*c - '0'))));
    return out;
}

class DecodingSink final : public qm45::FrameSink {
public:
    bool onFrame(std::string_view frameText) override {
        const qm45::DecodeResult result = qm45::decodeFrame(frameText, state, context);
        if (!result.accepted()) {
            ++rejected;
            return false;
        }
        state = result.after;
        ++accepted;
        return true;
    }

    qm45::DecoderState state;
    qm45::DecoderContext context;
    std::int64_t accepted = 0;
    std::int64_t rejected = 0;
};

void reportFrames(benchmark::State& state, const DecodingSink& sink) {
    if (sink.rejected != 0 || sink.accepted != std::int64_t(state.iterations()) * kFramesPerPass)
        state.SkipWithError("not every frame was decoded");
    state.counters["frames/s"] =
        benchmark::Counter(double(sink.accepted), benchmark::Counter::kIsRate);
}

// Serial: each frame is the line feed of the previous one, nine payload bytes and
// a carriage return; the argument is the number of bytes handed over per call
// (12 is what a 50 ms poll at 2400 baud finds).
void BM_SerialFramePath(benchmark::State& state) {
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < kFramesPerPass; ++i) {
        stream.push_back(0x0A);
        const std::vector<std::uint8_t> payload = meterBytes(kPayloads[i % kPayloadCount]);
        stream.insert(stream.end(), payload.begin(), payload.end());
        stream.push_back(0x0D);
    }
    const std::size_t chunk = std::size_t(state.range(0));

    qm45::FrameAssembler assembler;
    DecodingSink sink;
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            assembler.feedSerial(stream.data() + at,
                                 std::int32_t(std::min(chunk, stream.size() - at)), sink);
    }
    benchmark::DoNotOptimize(sink.state);
    reportFrames(state, sink);
}
BENCHMARK(BM_SerialFramePath)->Arg(12)->Arg(11000)->Unit(benchmark::kMicrosecond);

// USB: the cable's reports carry up to seven meter bytes after the status byte;
// a frame arrives as seven bytes, four bytes, then an idle report.
void BM_UsbFramePath(benchmark::State& state) {
    std::vector<std::vector<std::uint8_t>> reports;
    for (int i = 0; i < kFramesPerPass; ++i) {
        std::vector<std::uint8_t> frame = meterBytes(kPayloads[i % kPayloadCount]);
        frame.push_back(0x0D);
        frame.push_back(0x0A);
        std::vector<std::uint8_t> first{0xF7};
        first.insert(first.end(), frame.begin(), frame.begin() + 7);
        std::vector<std::uint8_t> second{0xF4};
        second.insert(second.end(), frame.begin() + 7, frame.end());
        reports.push_back(first);
        reports.push_back(second);
        reports.push_back({0xF0});
    }

    qm45::FrameAssembler assembler;
    DecodingSink sink;
    for (auto _ : state) {
        for (const std::vector<std::uint8_t>& report : reports)
            assembler.feedUsbReport(report.data(), std::uint16_t(report.size()), sink);
    }
    benchmark::DoNotOptimize(sink.state);
    reportFrames(state, sink);
}
BENCHMARK(BM_UsbFramePath)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
