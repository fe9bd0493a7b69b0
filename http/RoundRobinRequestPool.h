#pragma once

#include <deque>
#include <mutex>
#include <set>

#include "http/RequestPool.h"

namespace vrexa::http {

// Reuses the request that has been idle longest: released requests go to the
// back of the queue, Acquire takes from the front, so every pooled handle is
// used in turn. No size limit: the pool grows to the most requests lent at once.
class RoundRobinRequestPool : public RequestPool {
public:
    void Add(std::shared_ptr<Request> request, bool available) override;
    std::shared_ptr<Request> Acquire(const RequestParams& params, std::shared_ptr<Proxy> proxy) override;
    void Release(std::shared_ptr<Request> request) override;

private:
    void MakeAvailable(const std::shared_ptr<Request>& request);
    // Makes an acquired request idle again at the front of the queue, or forgets
    // it when that fails.
    void Requeue(const std::shared_ptr<Request>& request) noexcept;

    // Recursive: Acquire calls itself to skip a request that refused its reset.
    std::recursive_mutex mutex_;
    // Invariant: a request is in available_ exactly when it is in queue_, and every
    // request in available_ is in all_. Sets are keyed by object identity.
    std::set<std::shared_ptr<Request>> all_;
    std::set<std::shared_ptr<Request>> available_;
    std::deque<std::shared_ptr<Request>> queue_;
};

}  // namespace vrexa::http
