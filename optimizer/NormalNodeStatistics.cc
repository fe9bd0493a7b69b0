#include "optimizer/NormalNodeStatistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vrexa {

namespace {

// Whole bytes per second for the written record: truncated, saturating at the
// largest value, and 0 for values that are negative or undefined.
std::uint64_t ToWholeBytes(double value) {
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    if (!(value > 0.0)) {
        return 0;
    }
    // 2^64 is exactly representable; anything at or above it saturates.
    if (value >= 18446744073709551616.0) {
        return kMax;
    }
    return static_cast<std::uint64_t>(value);
}

}  // namespace

double NormalNodeStatistics::SampleSpeed(const http::RequestStatus& status) {
    if (NodeStatistics::IsError(status.state)) {
        return 0.0;
    }
    const std::uint32_t ms = std::max<std::uint32_t>(status.totalTimeMs, 1);
    return static_cast<double>(status.bytes) * 1000.0 / static_cast<double>(ms);
}

void NormalNodeStatistics::Write(boost::property_tree::ptree& tree) {
    NodeStatistics::Write(tree);
    const auto [mean, variance] = GetDistribution();
    tree.put("Average Request Speed", ToWholeBytes(mean));
    tree.put("Standard Deviation", ToWholeBytes(variance > 0.0 ? std::sqrt(variance) : 0.0));
}

void NormalNodeStatistics::AddSample(const http::RequestStatus& status) {
    std::lock_guard lock(mutex_);
    NodeStatistics::AddSample(status);
    const double speed = SampleSpeed(status);
    std::uint32_t repeats = 1;
    if (NodeStatistics::IsError(status.state)) {
        repeats = count_ / 10 + 1;
    }
    // A count at its largest value stops the model rather than wrapping to 0.
    repeats = std::min(repeats, std::numeric_limits<std::uint32_t>::max() - count_);
    if (repeats == 0) {
        return;
    }
    // Welford's update applied `repeats` times to the same value, in one step:
    // the running mean moves by repeats / newCount of the difference, and the
    // sum of squares grows by difference^2 * oldCount * repeats / newCount.
    const double oldCount = count_;
    count_ += repeats;
    const double newCount = count_;
    const double difference = speed - mean_;
    mean_ += difference * (repeats / newCount);
    spread_ += difference * difference * (oldCount * repeats / newCount);
}

std::pair<double, double> NormalNodeStatistics::GetDistribution() const {
    std::lock_guard lock(mutex_);
    if (count_ <= 1) {
        return {mean_, 1.0};
    }
    return {mean_, spread_ / (count_ - 1)};
}

std::uint32_t NormalNodeStatistics::GetSampleCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

}  // namespace vrexa
