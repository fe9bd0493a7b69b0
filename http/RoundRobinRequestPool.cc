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

void RoundRobinRequestPool::Requeue(const std::shared_ptr<Request>& request) noexcept {
    try {
        queue_.push_front(request);
    } catch (...) {
        // With no room to queue it, the pool forgets it: never a request known
        // but neither idle nor lent.
        all_.erase(request);
        return;
    }
    try {
        available_.insert(request);
    } catch (...) {
        queue_.pop_front();
        all_.erase(request);
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
        bool rearmed = false;
        try {
            rearmed = request->Reset(params, proxy);
        } catch (...) {
            // The failure is the caller's (a proxy that cannot answer for its URL);
            // the request stays idle, first in line, rather than lent to nobody.
            Requeue(request);
            throw;
        }
        if (rearmed) {
            return request;
        }
        all_.erase(request);
    }
    return nullptr;
}

}  // namespace vrexa::http
