#pragma once

#include <atomic>

#include "work/SimpleWork.h"

namespace vrexa {

// A simple work whose task runs at most maxRetries + 1 times in a row per
// queueing while it keeps failing with RetryableError.
class LimitedRetrySimpleWork : public SimpleWork {
public:
    explicit LimitedRetrySimpleWork(unsigned maxRetries) : maxRetries(maxRetries) {}
    LimitedRetrySimpleWork(WorkCompleteCallback* callback, unsigned maxRetries)
        : SimpleWork(callback), maxRetries(maxRetries) {}

    bool ShouldRetry() override;
    // Clears the cancel flag and the attempt count.
    void Reset() override;

    unsigned GetMaxRetries() const { return maxRetries; }
    unsigned GetRetries() const { return retries.load(); }

protected:
    const unsigned maxRetries;
    // Only the worker running the task counts, but descriptions may read it.
    std::atomic<unsigned> retries{0};
};

}  // namespace vrexa
