#pragma once

#include <memory>

#include "http/Request.h"
#include "http/RequestPool.h"

namespace vrexa::http {

// What a caller holds instead of a pooled request: forwards everything to it and
// gives it back to its pool when the caller lets go.
class PooledRequestWrapper : public Request {
public:
    PooledRequestWrapper(std::shared_ptr<Request> request, std::shared_ptr<RequestPool> pool);
    // Releases the wrapped request to its pool; never throws.
    ~PooledRequestWrapper() override;

    RequestStatus Perform() override;
    RequestStatus GetStatus() override;
    void Abort() override;
    bool Reset(const RequestParams& params, std::shared_ptr<Proxy> proxy) override;

private:
    const std::shared_ptr<Request> request_;
    const std::shared_ptr<RequestPool> pool_;
};

}  // namespace vrexa::http
