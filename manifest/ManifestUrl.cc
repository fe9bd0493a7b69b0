#include "manifest/ManifestUrl.h"

#include <Poco/URI.h>

#include "http/HostAddress.h"
#include "manifest/ManifestException.h"

namespace vrexa {

std::string ComposeManifestUrl(const std::string& host, const std::string& path) {
    std::string url;
    try {
        const http::HostAddress address = http::SplitHostAddress(host);
        // Only a host and a port: another scheme ("ftp://H"), a user or a path
        // would otherwise be taken apart into a different server.
        if (address.authority.find_first_of("/?#@\\") != std::string_view::npos) {
            throw ManifestLocatorException();
        }
        Poco::URI uri;
        uri.setScheme(address.scheme);
        uri.setAuthority(std::string(address.authority));
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
