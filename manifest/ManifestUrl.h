#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vrexa {

// "http://" + host ("https://" for a host given as "https://HOST[:PORT]"),
// then "/" and each segment percent-encoded on its own, so that no identifier
// can add a folder, climb out of one or end the path. The host follows the
// same rule as a node's (ParseNodeHost): a user, a path or another scheme
// would send the request elsewhere. ManifestLocatorException when it does not.
std::string ComposeManifestUrl(const std::string& host, std::initializer_list<std::string_view> segments);

// The manifest of the package `id` ("PACKAGE" for the current version,
// "PACKAGE/VERSION" for a fixed one) and the node list of partner `id`.
// ManifestLocatorException when an id is not one plain path segment each.
std::string PackageManifestUrl(const std::string& host, const std::string& id);
std::string NodeListUrl(const std::string& host, const std::string& id);

}  // namespace vrexa
