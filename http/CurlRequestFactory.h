#pragma once

#include "http/RequestFactory.h"
#include "http/TlsSettings.h"

namespace vrexa::http {

// Makes CurlRequests, each trusting what tls names; constructor exceptions pass through.
class CurlRequestFactory : public RequestFactory {
public:
    explicit CurlRequestFactory(ProxyFactory& proxyFactory, TlsSettings tls = {})
        : RequestFactory(proxyFactory), tls_(std::move(tls)) {}
    std::shared_ptr<Request> Create(const RequestParams& params, std::shared_ptr<Proxy> proxy) override;

private:
    const TlsSettings tls_;
};

}  // namespace vrexa::http
