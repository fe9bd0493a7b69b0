#include "work/LimitedRetrySimpleWork.h"

namespace vrexa {

bool LimitedRetrySimpleWork::ShouldRetry() {
    const unsigned done = retries.load();
    if (done < maxRetries) {
        retries.store(done + 1);
        return true;
    }
    return false;
}

void LimitedRetrySimpleWork::Reset() {
    SimpleWork::Reset();
    retries.store(0);
}

}  // namespace vrexa
