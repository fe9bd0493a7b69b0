#pragma once

#include <memory>

#include "http/Proxy.h"

namespace vrexa::http {

// Discovers the proxy configuration. Asked once per session, and once per
// standalone request.
class ProxyFactory {
public:
    virtual ~ProxyFactory() = default;
    virtual std::shared_ptr<Proxy> Create() = 0;
};

}  // namespace vrexa::http
