#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "http/ManualProxy.h"
#include "http/ProxyFactory.h"

namespace vrexa::http::posix {

// The proxies for the values of http_proxy and https_proxy (empty when not set):
// http=A, https=B, each only when its variable is set. Each value is one URL,
// kept whole: a ";" or "," in it (a password) never splits it.
std::vector<ProxyEntry> ToProxyEntries(const std::string& httpProxy, const std::string& httpsProxy);

// The bypass list for a no_proxy value. An entry names a host and every host
// under it, with or without a leading "." ("example.com" -> "example.com;*.example.com");
// "*" bypasses everything; a network "10.0.0.0/8" with a whole-octet prefix
// becomes "10.*". Entries that cannot be expressed as patterns are left out.
std::string ToBypassList(const std::string& noProxy);

// Reads the proxy from the process environment: http_proxy, https_proxy and
// no_proxy (lower case first, then upper case). Gives a ManualProxy when a proxy
// is set, bypassing no_proxy's hosts whatever their case, and an EmptyProxy
// otherwise.
class ProxyFactoryImpl : public ProxyFactory {
public:
    // Looks a variable up; nullopt when it is not set.
    using Environment = std::function<std::optional<std::string>(const std::string& name)>;

    // The four discovery timeouts (milliseconds) are accepted for the settings that
    // carry them; reading the environment needs no network lookup, so none is used.
    ProxyFactoryImpl(int resolveTimeoutMs = 5000, int connectTimeoutMs = 5000, int sendTimeoutMs = 5000,
                     int receiveTimeoutMs = 5000);
    // Reads from the given environment instead of the process's (for tests).
    ProxyFactoryImpl(Environment environment, int resolveTimeoutMs = 5000, int connectTimeoutMs = 5000,
                     int sendTimeoutMs = 5000, int receiveTimeoutMs = 5000);

    std::shared_ptr<Proxy> Create() override;

private:
    Environment environment_;
};

}  // namespace vrexa::http::posix
