#pragma once

#include <string>

namespace vrexa::http {

// Which proxy a request uses. Asked once whenever a request is armed; may be
// asked from several threads at once, so implementations keep no unguarded
// mutable state.
class Proxy {
public:
    virtual ~Proxy() = default;
    // How the proxy was configured; shown in status reports as proxyConfig.
    virtual std::string Describe() const = 0;
    // The proxy for this URL in the form libcurl takes for its proxy option, or
    // "" for a direct connection. May throw for a URL or setting it cannot parse.
    virtual std::string GetProxyForUrl(const std::string& url) const = 0;
};

// No proxy: every URL goes direct.
class EmptyProxy : public Proxy {
public:
    std::string Describe() const override { return {}; }
    std::string GetProxyForUrl(const std::string&) const override { return {}; }
};

}  // namespace vrexa::http
