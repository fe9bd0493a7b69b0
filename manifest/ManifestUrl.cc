#include "manifest/ManifestUrl.h"

#include <Poco/URI.h>

#include "manifest/ManifestException.h"

namespace vrexa {

std::string ComposeManifestUrl(const std::string& host, const std::string& path) {
    std::string url;
    try {
        Poco::URI uri;
        uri.setScheme("http");
        uri.setAuthority(host);
        // Set as a path, never parsed: a "?" or "#" in an id stays part of it.
        uri.setPath(path);
        if (uri.getHost().empty()) {
            throw ManifestLocatorException();
        }
        url = uri.toString();
    } catch (const ManifestLocatorException&) {
        throw;
    } catch (...) {
        throw ManifestLocatorException();
    }
    return url;
}

}  // namespace vrexa
