#include "manifest/ManifestUrl.h"

#include <optional>

#include "manifest/ManifestException.h"
#include "manifest/UrlParts.h"

namespace vrexa {

namespace {

constexpr std::string_view kExtension = ".xml";

std::string_view PlainSegment(std::string_view id) {
    if (!IsPlainSegment(id)) throw ManifestLocatorException();
    return id;
}

}  // namespace

std::string ComposeManifestUrl(const std::string& host, std::initializer_list<std::string_view> segments) {
    const std::optional<NodeAuthority> server = ParseNodeHost(host);
    if (!server) {
        throw ManifestLocatorException();
    }
    std::string url = server->secure ? "https://" : "http://";
    url += server->authority;
    for (const std::string_view segment : segments) {
        url += '/';
        url += EncodePathSegment(segment);
    }
    return url;
}

std::string PackageManifestUrl(const std::string& host, const std::string& id) {
    const std::string_view text = id;
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return ComposeManifestUrl(host, {"manifests", PlainSegment(text), "current.xml"});
    }
    const std::string version = std::string(PlainSegment(text.substr(slash + 1))) + std::string(kExtension);
    return ComposeManifestUrl(host, {"manifests", PlainSegment(text.substr(0, slash)), version});
}

std::string NodeListUrl(const std::string& host, const std::string& id) {
    return ComposeManifestUrl(host, {"nodes", std::string(PlainSegment(id)) + std::string(kExtension)});
}

}  // namespace vrexa
