#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qm45 {

// The values of a chart's points, held once for every series; a point's
// position is its index. Values are kept as float: 4 bytes a point, and every
// meter count (integers up to 2^24) is held exactly. Storage grows in fixed
// chunks, so an append never copies the points already held and costs the
// same at ten million points as at none.
class ChartPoints {
public:
    static constexpr std::int64_t kChunkSize = 1 << 16;

    void append(double value);
    void clear();

    [[nodiscard]] std::int64_t size() const { return size_; }
    [[nodiscard]] float at(std::int64_t position) const {
        return chunks_[std::size_t(position / kChunkSize)][std::size_t(position % kChunkSize)];
    }
    // Smallest and largest finite value held; both 0 when there is none.
    [[nodiscard]] float smallest() const { return smallest_; }
    [[nodiscard]] float largest() const { return largest_; }
    // Bytes reserved for the points, chunk table included.
    [[nodiscard]] std::size_t bytes() const;

private:
    std::vector<std::unique_ptr<float[]>> chunks_;
    std::int64_t size_ = 0;
    bool anyFinite_ = false;
    float smallest_ = 0;
    float largest_ = 0;
};

} // namespace qm45
