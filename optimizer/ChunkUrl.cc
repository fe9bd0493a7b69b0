#include "optimizer/ChunkUrl.h"

#include <algorithm>
#include <stdexcept>

#include "http/HostAddress.h"

namespace vrexa {
namespace {

bool KeptInSegment(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
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

[[noreturn]] void Refuse(const char* what) { throw std::invalid_argument(std::string("BuildChunkUrl: ") + what); }

// One segment that must stand for a name, not for a step through folders.
void AppendSegment(std::string& url, std::string_view segment, const char* what) {
    if (segment.empty() || segment == "." || segment == "..") {
        Refuse(what);
    }
    url += EncodePathSegment(segment);
}

void CheckHost(std::string_view host) {
    if (host.empty()) {
        Refuse("empty host");
    }
    for (const char ch : host) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') {
            Refuse("host holds a character that ends the authority");
        }
    }
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

std::string BuildChunkUrl(std::string_view host, std::string_view nodePath, std::string_view partnerId,
                          std::string_view packageId, std::string_view versionId, std::string_view filePath) {
    const http::HostAddress address = http::SplitHostAddress(host);
    CheckHost(address.authority);
    std::string url = address.scheme + "://";
    url += address.authority;
    url += '/';
    // The node's own folder: its segments are encoded like the others, but
    // empty ones (a path of "/" alone, or "//") are simply skipped.
    std::size_t start = 0;
    while (start <= nodePath.size()) {
        const std::size_t end = std::min(nodePath.find('/', start), nodePath.size());
        const std::string_view segment = nodePath.substr(start, end - start);
        if (!segment.empty()) {
            if (segment == "." || segment == "..") {
                Refuse("node path climbs");
            }
            url += EncodePathSegment(segment);
            url += '/';
        }
        start = end + 1;
    }
    AppendSegment(url, partnerId, "bad partner id");
    url += '/';
    AppendSegment(url, packageId, "bad package id");
    url += '/';
    AppendSegment(url, versionId, "bad version id");
    const std::size_t first = filePath.find_first_not_of('/');
    if (first == std::string_view::npos) {
        Refuse("empty file path");
    }
    filePath.remove_prefix(first);
    start = 0;
    while (start <= filePath.size()) {
        const std::size_t end = std::min(filePath.find('/', start), filePath.size());
        url += '/';
        AppendSegment(url, filePath.substr(start, end - start), "bad file path segment");
        start = end + 1;
    }
    return url;
}

}  // namespace vrexa
