#pragma once

#include <memory>

#include "http/Proxy.h"
#include "http/Request.h"
#include "http/RequestParams.h"

namespace vrexa::http {

// Keeps request objects for reuse. A pooled request is idle (available for
// Acquire), lent (known, held by a caller) or forgotten (dropped for good).
class RequestPool {
public:
    RequestPool() = default;
    RequestPool(const RequestPool&) = delete;
    RequestPool& operator=(const RequestPool&) = delete;
    virtual ~RequestPool() = default;

    // Makes the request known; idle as well when available is true.
    virtual void Add(std::shared_ptr<Request> request, bool available) = 0;
    // An idle request re-armed with params and proxy, or null when none is idle.
    virtual std::shared_ptr<Request> Acquire(const RequestParams& params, std::shared_ptr<Proxy> proxy) = 0;
    // Returns a lent request; one the pool does not know is ignored.
    virtual void Release(std::shared_ptr<Request> request) = 0;
};

}  // namespace vrexa::http
