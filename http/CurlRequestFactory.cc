#include "http/CurlRequestFactory.h"

#include "http/CurlRequest.h"

namespace vrexa::http {

std::shared_ptr<Request> CurlRequestFactory::Create(const RequestParams& params, std::shared_ptr<Proxy> proxy) {
    return std::make_shared<CurlRequest>(params, std::move(proxy), tls_);
}

}  // namespace vrexa::http
