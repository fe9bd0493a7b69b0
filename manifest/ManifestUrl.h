#pragma once

#include <string>

namespace vrexa {

// "http://" + host + path, composed as a URI with host as the authority (so
// it may carry a port); a host given as "https://HOST[:PORT]" gives an https URL and rendered as text; characters a path cannot hold
// are percent-encoded. ManifestLocatorException when host is empty or the
// two cannot form a valid URI.
std::string ComposeManifestUrl(const std::string& host, const std::string& path);

}  // namespace vrexa
