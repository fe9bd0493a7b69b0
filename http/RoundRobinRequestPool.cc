#include "http/RoundRobinRequestPool.h"

namespace vrexa::http {

void RoundRobinRequestPool::Add(std::shared_ptr<Request> request, bool available) {
    std::lock_guard lock(mutex_);
    const bool inserted = all_.insert(request).second;
    if (inserted && available) {
        MakeAvailable(request);
    }
}

void RoundRobinRequestPool::Release(std::shared_ptr<Request> request) {
    std::lock_guard lock(mutex_);
    if (all_.count(request) != 0) {
        MakeAvailable(request);
    }
}

void RoundRobinRequestPool::MakeAvailable(const std::shared_ptr<Request>& request) {
    if (!available_.insert(request).second) {
        return;
    }
    try {
        queue_.push_back(request);
    } catch (...) {
        available_.erase(request);
        throw;
    }
}

std::shared_ptr<Request> RoundRobinRequestPool::Acquire(const RequestParams& params, std::shared_ptr<Proxy> proxy) {
    std::lock_guard lock(mutex_);
    // A request released while it was still performing refuses its reset; the
    // pool forgets it and tries the next idle one.
    while (!queue_.empty()) {
        std::shared_ptr<Request> request = std::move(queue_.front());
        queue_.pop_front();
        available_.erase(request);
        if (request->Reset(params, proxy)) {
            return request;
        }
        all_.erase(request);
    }
    return nullptr;
}

}  // namespace vrexa::http
