#include "http/RequestFactory.h"

#include "http/PooledRequestWrapper.h"
#include "http/Session.h"

namespace vrexa::http {

std::shared_ptr<Request> RequestFactory::CreateRequest(const RequestParams& params, std::shared_ptr<Session> session) {
    if (!session || !session->GetPool()) {
        return Create(params, proxyFactory_.Create());
    }
    // Reading and storing the proxy are two locked steps: two first requests racing
    // may both discover one, and the session keeps the last stored. Both are equal.
    std::shared_ptr<Proxy> proxy = session->GetProxy();
    if (!proxy) {
        proxy = proxyFactory_.Create();
        session->SetProxy(proxy);
    }
    const std::shared_ptr<RequestPool>& pool = session->GetPool();
    std::shared_ptr<Request> request = pool->Acquire(params, proxy);
    if (!request) {
        request = Create(params, proxy);
        pool->Add(request, false);
    }
    return std::make_shared<PooledRequestWrapper>(std::move(request), pool);
}

}  // namespace vrexa::http
