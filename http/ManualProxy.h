#pragma once

#include <string>

#include "http/Proxy.h"

namespace vrexa::http {

// The proxy for url from a proxy list ("p0:8080", "http=p1:80;https=p2:443") and
// a bypass list ("*.lan;10.*"): the scheme's own proxy, else the generic one,
// else "" (direct); "" as well when the host is bypassed. Throws for a URL that
// cannot be parsed or a bypass pattern that is not a valid expression.
std::string SelectProxy(const std::string& url, const std::string& proxyList, const std::string& bypassList);

// True when one of the bypass list's patterns matches the whole host; "*"
// matches any text, "." only a dot, and the match is case-sensitive.
bool IsBypassed(const std::string& host, const std::string& bypassList);

// A fixed proxy list with a bypass list.
class ManualProxy : public Proxy {
public:
    ManualProxy(std::string proxyList, std::string bypassList)
        : proxyList_(std::move(proxyList)), bypassList_(std::move(bypassList)) {}

    // The proxy list as configured.
    std::string Describe() const override { return proxyList_; }
    std::string GetProxyForUrl(const std::string& url) const override {
        return SelectProxy(url, proxyList_, bypassList_);
    }

    const std::string& GetProxyList() const { return proxyList_; }
    const std::string& GetBypassList() const { return bypassList_; }

private:
    const std::string proxyList_;
    const std::string bypassList_;
};

}  // namespace vrexa::http
