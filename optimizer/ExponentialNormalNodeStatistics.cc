#include "optimizer/ExponentialNormalNodeStatistics.h"

#include <limits>

namespace vrexa {

ExponentialNormalNodeStatistics::ExponentialNormalNodeStatistics(double alpha)
    : NormalNodeStatistics(0, 0.0, 0.0), alpha_(alpha) {}

std::shared_ptr<ExponentialNormalNodeStatistics> ExponentialNormalNodeStatistics::Clone() const {
    std::lock_guard lock(mutex_);
    return std::shared_ptr<ExponentialNormalNodeStatistics>(
        new ExponentialNormalNodeStatistics(count_, mean_, spread_, alpha_));
}

void ExponentialNormalNodeStatistics::AddSample(const http::RequestStatus& status) {
    std::lock_guard lock(mutex_);
    NodeStatistics::AddSample(status);
    const double speed = SampleSpeed(status);
    if (count_ < std::numeric_limits<std::uint32_t>::max()) {
        ++count_;
    }
    const double oldMean = mean_;
    mean_ = (1.0 - alpha_) * oldMean + alpha_ * speed;
    spread_ = (speed - mean_) * alpha_ * (speed - oldMean) + (1.0 - alpha_) * spread_;
}

std::pair<double, double> ExponentialNormalNodeStatistics::GetDistribution() const {
    std::lock_guard lock(mutex_);
    return {mean_, spread_};
}

}  // namespace vrexa
