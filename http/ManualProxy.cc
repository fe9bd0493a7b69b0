#include "http/ManualProxy.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <boost/xpressive/xpressive_dynamic.hpp>
#include <optional>
#include <string_view>
#include <vector>

namespace vrexa::http {
namespace {

// Both lists separate their entries by ",", ";" or spaces, in any mix.
std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : list) {
        if (c == ',' || c == ';' || c == ' ') {
            if (!token.empty()) tokens.push_back(std::move(token));
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty()) tokens.push_back(std::move(token));
    return tokens;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// A bypass pattern as a whole-string expression: "." is a literal dot, "*" any
// text; every other character keeps its expression meaning.
std::string PatternToExpression(const std::string& pattern) {
    std::string expression = "^" + pattern + "$";
    ReplaceAll(expression, ".", "\\.");
    ReplaceAll(expression, "*", ".*");
    return expression;
}

// Scheme and host as written in the URL. The URL parser validates (and throws
// for what it cannot parse) but folds case, and bypass patterns may match the
// host case-sensitively, so both are taken from the text itself.
struct SchemeAndHost {
    std::string scheme;
    std::string host;
};

SchemeAndHost ParseUrl(const std::string& url) {
    const Poco::URI uri(url);
    SchemeAndHost parts;
    const std::size_t colon = url.find(':');
    if (colon == std::string::npos || uri.getScheme().empty()) {
        // A proxy is chosen by scheme and host: a text without them is no URL here.
        throw Poco::SyntaxException("no scheme in URL", url);
    }
    parts.scheme = url.substr(0, colon);
    std::size_t start = url.compare(colon, 3, "://") == 0 ? colon + 3 : std::string::npos;
    if (start == std::string::npos) {
        parts.host = uri.getHost();
        return parts;
    }
    const std::size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') {
        parts.host = authority.substr(1, authority.find(']') - 1);
    } else {
        parts.host = authority.substr(0, authority.find(':'));
    }
    return parts;
}

std::string DescribeEntries(const std::vector<ProxyEntry>& proxies) {
    std::string text;
    for (const ProxyEntry& entry : proxies) {
        if (!text.empty()) text += ';';
        if (entry.scheme) text += *entry.scheme + "=";
        text += MaskUserInfo(entry.proxy);
    }
    return text;
}

// The list text as configured, separators and all, with each token's user-info
// masked.
std::string DescribeList(const std::string& list) {
    std::string text;
    std::string token;
    auto flush = [&] {
        const std::size_t equals = token.find('=');
        const std::size_t start = equals == std::string::npos ? 0 : equals + 1;
        text += token.substr(0, start) + MaskUserInfo(token.substr(start));
        token.clear();
    };
    for (char c : list) {
        if (c == ',' || c == ';' || c == ' ') {
            flush();
            text += c;
        } else {
            token += c;
        }
    }
    flush();
    return text;
}

}  // namespace

std::vector<ProxyEntry> ParseProxyList(const std::string& proxyList) {
    std::vector<ProxyEntry> proxies;
    for (const std::string& token : SplitList(proxyList)) {
        const std::size_t equals = token.find('=');
        if (equals == std::string::npos) {
            proxies.push_back({std::nullopt, token});
        } else {
            proxies.push_back({token.substr(0, equals), token.substr(equals + 1)});
        }
    }
    return proxies;
}

bool IsBypassed(const std::string& host, const std::string& bypassList, BypassMatch match) {
    namespace xp = boost::xpressive;
    const auto flags = match == BypassMatch::IgnoreCase ? xp::regex_constants::ECMAScript | xp::regex_constants::icase
                                                        : xp::regex_constants::ECMAScript;
    for (const std::string& token : SplitList(bypassList)) {
        const xp::sregex expression = xp::sregex::compile(PatternToExpression(token), flags);
        if (xp::regex_match(host, expression)) {
            return true;
        }
    }
    return false;
}

std::string SelectProxy(const std::string& url, const std::vector<ProxyEntry>& proxies, const std::string& bypassList,
                        BypassMatch match) {
    const SchemeAndHost parsed = ParseUrl(url);
    const std::string scheme = parsed.scheme == "https" ? "https" : "http";

    const ProxyEntry* specific = nullptr;
    const ProxyEntry* generic = nullptr;
    for (const ProxyEntry& entry : proxies) {
        if (entry.scheme && !specific && *entry.scheme == scheme) {
            specific = &entry;
        } else if (!entry.scheme && !generic) {
            generic = &entry;
        }
    }
    const ProxyEntry* chosen = specific != nullptr ? specific : generic;
    if (chosen == nullptr || chosen->proxy.empty() || chosen->proxy == ":" || chosen->proxy == "::") {
        return {};
    }
    if (IsBypassed(parsed.host, bypassList, match)) {
        return {};
    }
    return chosen->proxy;
}

std::string SelectProxy(const std::string& url, const std::string& proxyList, const std::string& bypassList) {
    return SelectProxy(url, ParseProxyList(proxyList), bypassList);
}

std::string MaskUserInfo(const std::string& proxy) {
    const std::size_t separator = proxy.find("://");
    const std::size_t start = separator == std::string::npos ? 0 : separator + 3;
    // The last "@" ends the user-info: a password may hold "@", "/" or ";" unencoded.
    const std::size_t at = proxy.rfind('@');
    if (at == std::string::npos || at < start) {
        return proxy;
    }
    return proxy.substr(0, start) + "***" + proxy.substr(at);
}

ManualProxy::ManualProxy(const std::string& proxyList, std::string bypassList)
    : proxies_(ParseProxyList(proxyList)),
      bypassList_(std::move(bypassList)),
      match_(BypassMatch::CaseSensitive),
      description_(DescribeList(proxyList)) {}

ManualProxy::ManualProxy(std::vector<ProxyEntry> proxies, std::string bypassList, BypassMatch match)
    : proxies_(std::move(proxies)),
      bypassList_(std::move(bypassList)),
      match_(match),
      description_(DescribeEntries(proxies_)) {}

}  // namespace vrexa::http
