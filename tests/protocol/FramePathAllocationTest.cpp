#include "protocol/FrameAssembler.h"
#include "protocol/QM45Decoder.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

// Every global allocation in this executable goes through these, so the frame
// path can be shown to allocate nothing once running.
namespace {
std::atomic<long> allocationCount{0};

void* countedAllocate(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* countedAlignedAllocate(std::size_t size, std::align_val_t alignment) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    return std::aligned_alloc(a, ((size == 0 ? 1 : size) + a - 1) / a * a);
}
} // namespace

void* operator new(std::size_t size) {
    if (void* p = countedAllocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = countedAllocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = countedAlignedAllocate(size, alignment))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    if (void* p = countedAlignedAllocate(size, alignment))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

// Accepted frames that between them take every display form, unit change,
// coupling, sign and the percentage rule, so every text changes from frame to frame.
const char* const kPayloads[] = {
    "399991101", "399991105", "A00001101", "A00001105", "AC0001101", "123B51101", "1234A2101",
    "050001C04", "123454401", "123451130", "123452200", "123456C05", "567890610", "123450D00",
    "123450E00", "123450F20", "999990B00", "123450000", "012347000", "012348100", "123455520",
    "876543300", "123459A01", "1234A5513", "000009119",
};
constexpr int kPayloadCount = int(sizeof(kPayloads) / sizeof(kPayloads[0]));
constexpr int kFrames = 1000;

std::vector<std::uint8_t> wireFrame(const char* payload) {
    std::vector<std::uint8_t> out;
    for (const char* c = payload; *c != 0; ++c)
        out.push_back(std::uint8_t(0x30 | ((*c >= 'A') ? (*c - 'A' + 10) : (*c - '0'))));
    out.push_back(0x0D);
    out.push_back(0x0A);
    return out;
}

// What the window does with each frame: decode against the last state and keep the result.
class DecodingSink final : public qm45::FrameSink {
public:
    bool onFrame(std::string_view frameText) override {
        const qm45::DecodeResult result = qm45::decodeFrame(frameText, state, context);
        if (result.accepted()) {
            state = result.after;
            ++accepted;
        } else {
            ++rejected;
        }
        return result.accepted();
    }

    qm45::DecoderState state;
    qm45::DecoderContext context;
    int accepted = 0;
    int rejected = 0;
};

} // namespace

class FramePathAllocationTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void serialFramePathAllocatesNothingAfterWarmUp();
    void usbFramePathAllocatesNothingAfterWarmUp();
};

void FramePathAllocationTest::initTestCase() {
    // A zero count below means something only if the counter sees allocations at all.
    const long before = allocationCount.load();
    const std::string longText(100, 'x');
    QVERIFY2(allocationCount.load() > before,
             "the replaced operator new did not count a 100-character string");
}

void FramePathAllocationTest::serialFramePathAllocatesNothingAfterWarmUp() {
    // The line feed that closes each frame opens the next one's framing test.
    std::vector<std::uint8_t> stream{0x0A};
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<std::uint8_t> frame = wireFrame(kPayloads[i % kPayloadCount]);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }

    qm45::FrameAssembler assembler;
    DecodingSink sink;
    assembler.feedSerial(stream.data(), 11, sink);
    QCOMPARE(sink.accepted, 1);

    // A poll at 2400 baud every 50 ms finds about 12 bytes.
    constexpr std::size_t kPoll = 12;
    const long before = allocationCount.load();
    for (std::size_t at = 11; at < stream.size(); at += kPoll)
        assembler.feedSerial(stream.data() + at, std::int32_t(std::min(kPoll, stream.size() - at)),
                             sink);
    const long allocations = allocationCount.load() - before;

    QCOMPARE(sink.rejected, 0);
    QCOMPARE(sink.accepted, kFrames);
    QCOMPARE(allocations, 0L);
}

void FramePathAllocationTest::usbFramePathAllocatesNothingAfterWarmUp() {
    // Each frame as the cable delivers it: seven meter bytes, four, then an idle report.
    std::vector<std::vector<std::uint8_t>> reports;
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<std::uint8_t> frame = wireFrame(kPayloads[i % kPayloadCount]);
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
    for (std::size_t r = 0; r < 3; ++r)
        assembler.feedUsbReport(reports[r].data(), std::uint16_t(reports[r].size()), sink);
    QCOMPARE(sink.accepted, 1);

    const long before = allocationCount.load();
    for (std::size_t r = 3; r < reports.size(); ++r)
        assembler.feedUsbReport(reports[r].data(), std::uint16_t(reports[r].size()), sink);
    const long allocations = allocationCount.load() - before;

    QCOMPARE(sink.rejected, 0);
    QCOMPARE(sink.accepted, kFrames);
    QCOMPARE(allocations, 0L);
}

QTEST_APPLESS_MAIN(FramePathAllocationTest)
#include "FramePathAllocationTest.moc"
