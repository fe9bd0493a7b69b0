#include "http/ManualProxy.h"

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
// for what it cannot parse) but folds case, and bypass patterns match the host
// case-sensitively, so both are taken from the text itself.
struct SchemeAndHost {
    std::string scheme;
    std::string host;
};

SchemeAndHost ParseUrl(const std::string& url) {
    const Poco::URI uri(url);
    SchemeAndHost parts;
    const std::size_t colon = url.find(':');
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

}  // namespace

bool IsBypassed(const std::string& host, const std::string& bypassList) {
    namespace xp = boost::xpressive;
    for (const std::string& token : SplitList(bypassList)) {
        const xp::sregex expression = xp::sregex::compile(PatternToExpression(token), xp::regex_constants::ECMAScript);
        if (xp::regex_match(host, expression)) {
            return true;
        }
    }
    return false;
}

std::string SelectProxy(const std::string& url, const std::string& proxyList, const std::string& bypassList) {
    const SchemeAndHost parsed = ParseUrl(url);
    const std::string scheme = parsed.scheme == "https" ? "https" : "http";

    const std::vector<std::string> tokens = SplitList(proxyList);
    if (tokens.empty()) {
        return {};
    }
    const std::string prefix = scheme + "=";
    std::optional<std::string> specific;
    std::optional<std::string> generic;
    for (const std::string& token : tokens) {
        if (!specific && token.compare(0, prefix.size(), prefix) == 0) {
            specific = token.substr(prefix.size());
        } else if (!generic && token.find('=') == std::string::npos) {
            generic = token;
        }
    }
    const std::string candidate = specific ? *specific : generic.value_or(std::string());
    if (candidate.empty() || candidate == ":" || candidate == "::") {
        return {};
    }
    if (IsBypassed(parsed.host, bypassList)) {
        return {};
    }
    return candidate;
}

}  // namespace vrexa::http
