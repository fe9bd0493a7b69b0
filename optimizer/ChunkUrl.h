#pragma once

#include <string>
#include <string_view>

namespace vrexa {

// The URL of a file on a download node: "http://" + host ("https://" for a
// host given as "https://HOST[:PORT]"), the node's path,
// then partner, package and version as one path segment each, then the
// file's path (leading "/" dropped, split at "/"). Every segment is
// percent-encoded, so no identifier or file name coming from a manifest can
// change the host, add a query or climb out of the node's folder.
//
// Throws std::invalid_argument when the host is empty or holds a character
// that would end the authority ("/", "?", "#", "@", "\", space or a control
// character), when an identifier or the file path is empty, or when any
// segment is "." or ".." or (in the file path) empty. Pure: no state, no I/O.
std::string BuildChunkUrl(std::string_view host, std::string_view nodePath, std::string_view partnerId,
                          std::string_view packageId, std::string_view versionId, std::string_view filePath);

// text with every byte outside the characters a path segment may carry as
// they are (letters, digits, "-._~!$&'()*+,;=:@") written as "%XX".
std::string EncodePathSegment(std::string_view text);

}  // namespace vrexa
