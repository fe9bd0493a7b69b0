#pragma once

#include <memory>

#include "http/Proxy.h"
#include "http/ProxyFactory.h"
#include "http/Request.h"
#include "http/RequestParams.h"

namespace vrexa::http {

class Session;

// Makes requests. Callers use CreateRequest: with a session, requests are pooled
// and share the session's proxy, discovered once; without one, each request is
// standalone with a freshly discovered proxy.
class RequestFactory {
public:
    explicit RequestFactory(ProxyFactory& proxyFactory) : proxyFactory_(proxyFactory) {}
    RequestFactory(const RequestFactory&) = delete;
    RequestFactory& operator=(const RequestFactory&) = delete;
    virtual ~RequestFactory() = default;

    // A new, armed request.
    virtual std::shared_ptr<Request> Create(const RequestParams& params, std::shared_ptr<Proxy> proxy) = 0;

    // A request for params: pooled through the session when it has a pool,
    // standalone otherwise. Exceptions from Create or proxy discovery pass out,
    // leaving nothing registered in the pool.
    std::shared_ptr<Request> CreateRequest(const RequestParams& params, std::shared_ptr<Session> session);

protected:
    ProxyFactory& proxyFactory_;
};

}  // namespace vrexa::http
