#include "http/PooledRequestWrapper.h"

namespace vrexa::http {

// The wrapper's own parameter copy and proxy stay empty: everything lives in the
// wrapped request.
PooledRequestWrapper::PooledRequestWrapper(std::shared_ptr<Request> request, std::shared_ptr<RequestPool> pool)
    : Request(RequestParams(std::string(), nullptr), nullptr), request_(std::move(request)), pool_(std::move(pool)) {}

PooledRequestWrapper::~PooledRequestWrapper() {
    try {
        pool_->Release(request_);
    } catch (...) {
        // The request is merely not reused; a destructor must not throw.
    }
}

RequestStatus PooledRequestWrapper::Perform() { return request_->Perform(); }

RequestStatus PooledRequestWrapper::GetStatus() { return request_->GetStatus(); }

void PooledRequestWrapper::Abort() { request_->Abort(); }

bool PooledRequestWrapper::Reset(const RequestParams& params, std::shared_ptr<Proxy> proxy) {
    return request_->Reset(params, std::move(proxy));
}

}  // namespace vrexa::http
