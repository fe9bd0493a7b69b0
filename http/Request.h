#pragma once

#include <memory>

#include "http/Proxy.h"
#include "http/RequestParams.h"
#include "http/RequestStatus.h"

namespace vrexa::http {

// One HTTP exchange, re-armable with new parameters. Perform() runs on the
// caller's thread and never throws for network trouble: every outcome is a
// State. Abort(), GetStatus() and Reset() may be called from any thread.
//
//            Perform()                 evaluation / writer
//   Ready ─────────────▶ Running ───────────────────────────▶ Succeeded | error
//     │                     │
//     └──── Abort() ────────┴──────────────────────────────▶ Aborted
//
//   Reset(): any state except Running ──▶ Ready
class Request {
public:
    Request(const RequestParams& params, std::shared_ptr<Proxy> proxy) : params_(params), proxy_(std::move(proxy)) {}
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    virtual ~Request() = default;

    // Runs the exchange when Ready; otherwise returns the current status at once.
    virtual RequestStatus Perform() = 0;
    virtual RequestStatus GetStatus() = 0;
    // Ready or Running become Aborted; a running exchange stops promptly in any
    // phase, without waiting for the network. Does not wait for Perform to return.
    virtual void Abort() = 0;
    // Re-arms with new parameters and proxy; false (nothing changed) while running.
    virtual bool Reset(const RequestParams& params, std::shared_ptr<Proxy> proxy) = 0;

protected:
    RequestParams params_;
    std::shared_ptr<Proxy> proxy_;
};

}  // namespace vrexa::http
