#pragma once

#include <cstdint>
#include <mutex>
#include <utility>

#include "http/RequestStatus.h"
#include "manifest/NodeStatistics.h"

namespace vrexa {

// A node's request speed modelled as a normal distribution, learned from every
// request sample on top of the plain counters. Mean and spread change together
// under the object's own mutex; the counters stay lock-free.
class NormalNodeStatistics : public NodeStatistics {
public:
    NormalNodeStatistics() = default;

    // The counters' keys, then "Average Request Speed" replaced by the model's
    // mean and "Standard Deviation", both as whole bytes per second.
    void Write(boost::property_tree::ptree& tree) override;

    // Counts the sample, then feeds its speed into a running mean and variance.
    // A failed request counts as speed 0 and weighs more the longer the node has
    // been measured (count / 10 + 1 times), so a long-trusted node that starts
    // failing loses its standing quickly.
    void AddSample(const http::RequestStatus& status) override;

    // (mean, variance) in bytes per second. Variance 1 while there are fewer
    // than two samples, so a fresh node is uncertain rather than certain.
    virtual std::pair<double, double> GetDistribution() const;

    // How many speed values the model has taken in.
    std::uint32_t GetSampleCount() const;

    // A request's speed in bytes per second: 0 for a failed request, otherwise
    // its bytes over its total time, taken as at least 1 ms.
    static double SampleSpeed(const http::RequestStatus& status);

protected:
    NormalNodeStatistics(std::uint32_t count, double mean, double spread)
        : count_(count), mean_(mean), spread_(spread) {}

    mutable std::mutex mutex_;
    std::uint32_t count_ = 0;
    double mean_ = 0.0;
    double spread_ = 0.0;  // the sum of squared deviations here; subclasses may keep the variance
};

}  // namespace vrexa
