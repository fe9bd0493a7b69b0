#include "work/LimitedRetrySimpleWork.h"

namespace vrexa {

bool LimitedRetrySimpleWork::ShouldRetry() {
    const unsigned done = retries_.load();
    if (done < maxRetries_) {
        retries_.store(done + 1);
        return true;
    }
    return false;
}

void LimitedRetrySimpleWork::Reset() {
    SimpleWork::Reset();
    retries_.store(0);
}

}  // namespace vrexa
