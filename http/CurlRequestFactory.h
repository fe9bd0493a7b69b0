#pragma once

#include "http/RequestFactory.h"

namespace vrexa::http {

// Makes CurlRequests; constructor exceptions pass through.
class CurlRequestFactory : public RequestFactory {
public:
    using RequestFactory::RequestFactory;
    std::shared_ptr<Request> Create(const RequestParams& params, std::shared_ptr<Proxy> proxy) override;
};

}  // namespace vrexa::http
