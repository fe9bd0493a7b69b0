#pragma once

#include <memory>

#include "optimizer/NormalNodeStatistics.h"

namespace vrexa {

// A normal speed model that forgets: every sample moves the mean and variance
// by the smoothing factor alpha, so a node's recent behaviour outweighs what it
// did long ago. The spread kept here is the variance itself.
class ExponentialNormalNodeStatistics : public NormalNodeStatistics {
public:
    // An empty model (no samples, mean 0, variance 0).
    explicit ExponentialNormalNodeStatistics(double alpha);

    // A new object holding this one's model (count, mean, variance, alpha) with
    // all counters at zero: how the optimizer makes each node's statistics from
    // its prototype.
    std::shared_ptr<ExponentialNormalNodeStatistics> Clone() const;

    void AddSample(const http::RequestStatus& status) override;

    // (mean, variance) as stored; (0, 0) before any sample.
    std::pair<double, double> GetDistribution() const override;

    double GetAlpha() const { return alpha_; }

private:
    ExponentialNormalNodeStatistics(std::uint32_t count, double mean, double variance, double alpha)
        : NormalNodeStatistics(count, mean, variance), alpha_(alpha) {}

    const double alpha_;
};

}  // namespace vrexa
