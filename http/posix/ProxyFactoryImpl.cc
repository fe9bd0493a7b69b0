#include "http/posix/ProxyFactoryImpl.h"

#include <cstdlib>
#include <vector>

#include "http/ManualProxy.h"

namespace vrexa::http::posix {
namespace {

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Characters a host, an address or a pattern of them may hold. Anything else
// would change the meaning of the bypass expression, or split the list.
bool IsPlainHostPattern(const std::string& entry) {
    for (char c : entry) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_' || c == ':' || c == '*';
        if (!plain) return false;
    }
    return !entry.empty();
}

// "10.0.0.0/8" -> "10.*"; nullopt unless the prefix covers whole octets of an
// IPv4 address.
std::optional<std::string> NetworkToPattern(const std::string& entry) {
    const std::size_t slash = entry.find('/');
    const std::string address = entry.substr(0, slash);
    const std::string bits = entry.substr(slash + 1);
    std::vector<std::string> octets;
    std::size_t start = 0;
    for (std::size_t dot = address.find('.');; dot = address.find('.', start)) {
        octets.push_back(address.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (octets.size() != 4) return std::nullopt;
    for (const std::string& octet : octets) {
        if (octet.empty() || octet.size() > 3 || octet.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
    }
    int prefix = 0;
    if (bits == "8")
        prefix = 1;
    else if (bits == "16")
        prefix = 2;
    else if (bits == "24")
        prefix = 3;
    else if (bits == "32")
        prefix = 4;
    else
        return std::nullopt;
    std::string pattern;
    for (int i = 0; i < prefix; ++i) {
        if (i > 0) pattern += '.';
        pattern += octets[i];
    }
    return prefix == 4 ? pattern : pattern + ".*";
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace

std::vector<ProxyEntry> ToProxyEntries(const std::string& httpProxy, const std::string& httpsProxy) {
    std::vector<ProxyEntry> proxies;
    const std::string http = Trim(httpProxy);
    const std::string https = Trim(httpsProxy);
    if (!http.empty()) proxies.push_back({"http", http});
    if (!https.empty()) proxies.push_back({"https", https});
    return proxies;
}

std::string ToBypassList(const std::string& noProxy) {
    std::vector<std::string> patterns;
    std::string entry;
    auto flush = [&] {
        std::string host = Trim(entry);
        entry.clear();
        if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        }
        if (host.find('/') != std::string::npos) {
            if (std::optional<std::string> pattern = NetworkToPattern(host)) patterns.push_back(*pattern);
            return;
        }
        if (host == "*") {
            patterns.push_back(host);
            return;
        }
        while (!host.empty() && host.front() == '.')
            host.erase(0, 1);
        if (host.find('*') != std::string::npos || !IsPlainHostPattern(host)) return;
        patterns.push_back(host);
        patterns.push_back("*." + host);
    };
    for (char c : noProxy) {
        if (c == ',' || c == ';' || c == ' ') {
            flush();
        } else {
            entry += c;
        }
    }
    flush();
    std::string list;
    for (const std::string& pattern : patterns) {
        if (!list.empty()) list += ';';
        list += pattern;
    }
    return list;
}

ProxyFactoryImpl::ProxyFactoryImpl(int resolveTimeoutMs, int connectTimeoutMs, int sendTimeoutMs, int receiveTimeoutMs)
    : ProxyFactoryImpl(ProcessEnvironment, resolveTimeoutMs, connectTimeoutMs, sendTimeoutMs, receiveTimeoutMs) {}

ProxyFactoryImpl::ProxyFactoryImpl(Environment environment, int /*resolveTimeoutMs*/, int /*connectTimeoutMs*/,
                                   int /*sendTimeoutMs*/, int /*receiveTimeoutMs*/)
    : environment_(std::move(environment)) {}

std::shared_ptr<Proxy> ProxyFactoryImpl::Create() {
    // The lower-case spelling is the usual one and wins when both are set.
    auto lookup = [this](const std::string& lower, const std::string& upper) {
        std::optional<std::string> value = environment_(lower);
        if (!value) value = environment_(upper);
        return value.value_or(std::string());
    };
    // all_proxy stands in for a scheme without a proxy of its own, as it does
    // for the other programs the user runs.
    const std::string all = lookup("all_proxy", "ALL_PROXY");
    auto orAll = [&all](std::string own) { return Trim(own).empty() ? all : own; };
    std::vector<ProxyEntry> proxies =
        ToProxyEntries(orAll(lookup("http_proxy", "HTTP_PROXY")), orAll(lookup("https_proxy", "HTTPS_PROXY")));
    if (proxies.empty()) {
        return std::make_shared<EmptyProxy>();
    }
    // Host names in no_proxy are matched as DNS names are: without regard to case.
    return std::make_shared<ManualProxy>(std::move(proxies), ToBypassList(lookup("no_proxy", "NO_PROXY")),
                                         BypassMatch::IgnoreCase);
}

}  // namespace vrexa::http::posix
