#include "view/ChartPoints.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm45 {

void ChartPoints::append(double value) {
    if (size_ == std::int64_t(chunks_.size()) * kChunkSize)
        chunks_.emplace_back(new float[std::size_t(kChunkSize)]);
    // A finite double beyond float's range has no float value; it is drawn
    // off the chart either way, so the largest float stands for it.
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    const auto stored =
        float(std::isfinite(value) ? std::clamp(value, -kFloatMax, kFloatMax) : value);
    chunks_.back()[std::size_t(size_ % kChunkSize)] = stored;
    ++size_;
    if (std::isfinite(stored)) {
        if (!anyFinite_ || stored < smallest_)
            smallest_ = stored;
        if (!anyFinite_ || stored > largest_)
            largest_ = stored;
        anyFinite_ = true;
    }
}

void ChartPoints::clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
    anyFinite_ = false;
    smallest_ = 0;
    largest_ = 0;
}

std::size_t ChartPoints::bytes() const {
    return chunks_.size() * std::size_t(kChunkSize) * sizeof(float) +
           chunks_.capacity() * sizeof(std::unique_ptr<float[]>);
}

} // namespace qm45
