#include "http/Session.h"

namespace vrexa::http {

std::shared_ptr<Proxy> Session::GetProxy() const {
    std::lock_guard lock(mutex_);
    return proxy_;
}

void Session::SetProxy(std::shared_ptr<Proxy> proxy) {
    std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}

}  // namespace vrexa::http
