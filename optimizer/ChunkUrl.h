#pragma once

#include <string>
#include <string_view>

#include "manifest/UrlParts.h"

namespace vrexa {

// The URL of a file on a download node: the node's host (with "https://"
// when the node list gives it so, else "http://"), the node's path, then
// partner, package and version as one path segment each, then the file's path
// (leading "/" dropped, split at "/"). Every segment is percent-encoded, so no
// identifier or file name coming from a manifest can change the host, add a
// query or climb out of the node's folder.
//
// Throws std::invalid_argument for anything the manifest readers refuse: a
// host or node path that ParseNodeHost or IsNodePath refuse, an identifier
// that is not IsPlainSegment, a file path that is not IsPackageFilePath. A
// document that was read therefore never makes it throw. Pure: no state, no I/O.
std::string BuildChunkUrl(std::string_view host, std::string_view nodePath, std::string_view partnerId,
                          std::string_view packageId, std::string_view versionId, std::string_view filePath);

}  // namespace vrexa
