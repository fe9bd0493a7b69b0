#include "optimizer/ChunkUrl.h"

#include <algorithm>
#include <stdexcept>

#include "manifest/ContainedPath.h"

namespace vrexa {
namespace {

[[noreturn]] void Refuse(const char* what) { throw std::invalid_argument(std::string("BuildChunkUrl: ") + what); }

void AppendIdentifier(std::string& url, std::string_view id, const char* what) {
    if (!IsPlainSegment(id)) {
        Refuse(what);
    }
    url += EncodePathSegment(id);
    url += '/';
}

// Appends the "/"-separated segments of text, skipping empty ones; each
// segment is encoded and followed by "/" when more come.
void AppendSegments(std::string& url, std::string_view text, bool trailingSlash) {
    bool first = true;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('/', start), text.size());
        const std::string_view segment = text.substr(start, end - start);
        if (!segment.empty()) {
            if (!first && !trailingSlash) url += '/';
            url += EncodePathSegment(segment);
            if (trailingSlash) url += '/';
            first = false;
        }
        start = end + 1;
    }
}

}  // namespace

std::string BuildChunkUrl(std::string_view host, std::string_view nodePath, std::string_view partnerId,
                          std::string_view packageId, std::string_view versionId, std::string_view filePath) {
    const std::optional<NodeAuthority> node = ParseNodeHost(host);
    if (!node) {
        Refuse("bad host");
    }
    if (!IsNodePath(nodePath)) {
        Refuse("node path climbs");
    }
    if (!IsPackageFilePath(filePath)) {
        Refuse("bad file path");
    }
    std::string url = node->secure ? "https://" : "http://";
    url += node->authority;
    url += '/';
    // The node's own folder: empty segments (a path of "/" alone, or "//")
    // are simply skipped.
    AppendSegments(url, nodePath, true);
    AppendIdentifier(url, partnerId, "bad partner id");
    AppendIdentifier(url, packageId, "bad package id");
    AppendIdentifier(url, versionId, "bad version id");
    // The file path has no empty segment past its leading "/".
    AppendSegments(url, filePath, false);
    return url;
}

}  // namespace vrexa
