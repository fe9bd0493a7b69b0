#pragma once

#include <memory>
#include <mutex>

#include "http/Proxy.h"
#include "http/RequestPool.h"

namespace vrexa::http {

// The requests of one client (a transfer, the analytics manager): one pool of
// reusable requests and one proxy, discovered on first use.
class Session {
public:
    explicit Session(std::shared_ptr<RequestPool> pool) : pool_(std::move(pool)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Never changes after construction, so it needs no lock.
    const std::shared_ptr<RequestPool>& GetPool() const { return pool_; }
    std::shared_ptr<Proxy> GetProxy() const;
    void SetProxy(std::shared_ptr<Proxy> proxy);

private:
    const std::shared_ptr<RequestPool> pool_;
    mutable std::mutex mutex_;  // guards proxy_ only
    std::shared_ptr<Proxy> proxy_;
};

}  // namespace vrexa::http
