#include "work/LimitedRetrySequentialWork.h"

#include "work/Workflow.h"

namespace vrexa {

LimitedRetrySequentialWork::LimitedRetrySequentialWork(WorkCompleteCallback* callback, unsigned maxRetries)
    : SequentialWork(callback, 2), maxRetries_(maxRetries) {}

bool LimitedRetrySequentialWork::ShouldRetry() {
    std::lock_guard lock(mutex_);
    if (retries_ < maxRetries_) {
        ++retries_;
        return true;
    }
    return false;
}

unsigned LimitedRetrySequentialWork::GetRetries() const {
    std::lock_guard lock(mutex_);
    return retries_;
}

void LimitedRetrySequentialWork::Reset() {
    std::lock_guard lock(mutex_);
    retries_ = 0;
    SequentialWork::Reset();
}

void LimitedRetrySequentialWork::Restart() {
    SequentialWork::Reset();
    if (std::shared_ptr<Workflow> locked = workflow_.lock()) {
        QueueAvailableWork(locked);
    }
}

CompositeWork::Progress LimitedRetrySequentialWork::ComputeProgress(const std::shared_ptr<Work>& child,
                                                                    const WorkStatus& status) {
    if (status.result == WorkResult::Failure) {
        // Not final: the sequence starts over instead of finishing.
        return ProgressFrom(WorkStatus(WorkResult::RetryableError, status.data));
    }
    return SequentialWork::ComputeProgress(child, status);
}

}  // namespace vrexa
