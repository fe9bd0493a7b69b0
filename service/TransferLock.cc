#include "service/TransferLock.h"

#include <utility>

namespace vrexa {

void TransferMutex::Lock() {
    mutex_.lock();
    ++depth_;
}

void TransferMutex::Unlock() {
    if (--depth_ > 0 || draining_ || pending_.empty()) {
        mutex_.unlock();
        return;
    }
    draining_ = true;
    for (;;) {
        std::vector<std::function<void()>> work;
        work.swap(pending_);
        mutex_.unlock();
        for (auto& item : work) {
            try {
                item();
            } catch (...) {
                // Events and removals never fail a transfer operation.
            }
        }
        work.clear();
        mutex_.lock();
        if (pending_.empty()) {
            draining_ = false;
            mutex_.unlock();
            return;
        }
    }
}

void TransferMutex::Defer(std::function<void()> work) { pending_.push_back(std::move(work)); }

}  // namespace vrexa
