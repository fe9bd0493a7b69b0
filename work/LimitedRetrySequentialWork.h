#pragma once

#include "work/SequentialWork.h"

namespace vrexa {

// A sequence that starts over when a child fails: a child's Failure becomes a
// RetryableError of the whole sequence, which restarts itself at once up to
// maxRetries times and then reports the error (the workflow suspends). The
// count survives the restarts, so after the workflow's Retry the next failure
// is reported at once; only a reset by the workflow clears it.
class LimitedRetrySequentialWork : public SequentialWork {
public:
    LimitedRetrySequentialWork(WorkCompleteCallback* callback, unsigned maxRetries);
    explicit LimitedRetrySequentialWork(unsigned maxRetries) : LimitedRetrySequentialWork(nullptr, maxRetries) {}

    bool ShouldRetry() override;
    void Reset() override;
    // Resets the sequence but keeps the retry count.
    void Restart() override;
    Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) override;

    unsigned GetRetries() const;

protected:
    const unsigned maxRetries_;
    unsigned retries_ = 0;
};

}  // namespace vrexa
