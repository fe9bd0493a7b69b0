#include "manifest/UrlParts.h"

#include "manifest/ManifestReading.h"

namespace vrexa {

namespace {

bool IsAlphaNumeric(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool KeptInSegment(unsigned char c) {
    if (IsAlphaNumeric(c)) return true;
    switch (c) {
        case '-':
        case '.':
        case '_':
        case '~':
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
        case ':':
        case '@':
            return true;
        default:
            return false;
    }
}

bool IsHexDigit(unsigned char c) { return reading::HexDigit(static_cast<char>(c)) >= 0; }

bool IsPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (const char ch : port) {
        if (ch < '0' || ch > '9') return false;
        value = value * 10 + static_cast<unsigned>(ch - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

std::string EncodePathSegment(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (KeptInSegment(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

bool IsPlainSegment(std::string_view id) {
    return !id.empty() && id != "." && id != ".." && id.find('/') == std::string_view::npos;
}

std::optional<NodeAuthority> ParseNodeHost(std::string_view host) {
    static constexpr std::string_view kSecure = "https://";
    NodeAuthority result;
    if (host.starts_with(kSecure)) {
        result.secure = true;
        host.remove_prefix(kSecure.size());
    }
    result.authority = host;

    std::string_view name = host;
    std::string_view port;
    bool hasPort = false;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos || close < 2) return std::nullopt;
        for (const char ch : host.substr(1, close - 1)) {
            const auto c = static_cast<unsigned char>(ch);
            if (!IsHexDigit(c) && c != ':' && c != '.') return std::nullopt;
        }
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            hasPort = true;
            port = rest.substr(1);
        }
    } else {
        const std::size_t colon = host.find(':');
        if (colon != std::string_view::npos) {
            hasPort = true;
            name = host.substr(0, colon);
            port = host.substr(colon + 1);
        }
        if (name.empty()) return std::nullopt;
        for (const char ch : name) {
            const auto c = static_cast<unsigned char>(ch);
            if (!IsAlphaNumeric(c) && c != '-' && c != '.' && c != '_' && c != '~') return std::nullopt;
        }
    }
    if (hasPort && !IsPort(port)) return std::nullopt;
    return result;
}

bool IsNodePath(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace vrexa
