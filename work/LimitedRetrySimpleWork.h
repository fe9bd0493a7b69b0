#pragma once

#include <atomic>

#include "work/SimpleWork.h"

namespace vrexa {

// A simple work whose task runs at most maxRetries + 1 times in a row per
// queueing while it keeps failing with RetryableError.
class LimitedRetrySimpleWork : public SimpleWork {
public:
    explicit LimitedRetrySimpleWork(unsigned maxRetries) : maxRetries_(maxRetries) {}
    LimitedRetrySimpleWork(WorkCompleteCallback* callback, unsigned maxRetries)
        : SimpleWork(callback), maxRetries_(maxRetries) {}

    bool ShouldRetry() override;
    // Clears the cancel flag and the attempt count.
    void Reset() override;

    unsigned GetMaxRetries() const { return maxRetries_; }
    unsigned GetRetries() const { return retries_.load(); }

protected:
    const unsigned maxRetries_;
    // Only the worker running the task counts, but descriptions may read it.
    std::atomic<unsigned> retries_{0};
};

}  // namespace vrexa
