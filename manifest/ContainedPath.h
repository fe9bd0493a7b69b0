#pragma once

#include <string_view>

namespace vrexa {

// Whether a file path taken from a manifest stays inside the destination folder
// once it is appended to it. Leading "/" are tolerated (the path is relative to
// the destination); a ".." component (with "/" or "\" as separator), a NUL byte,
// or a path that after its leading "/" is still rooted or begins with a drive
// ("C:") or a root name ("\\server") is not.
bool IsContainedPath(std::string_view path);

// The rule for every file path a package names, shared by the manifest reader,
// the chunk URL builder and the publisher: contained (above), and after its
// leading "/" made of names only: no segment between separators ("/" or "\")
// is empty or ".", so a file has one spelling, one place on disk and one URL.
bool IsPackageFilePath(std::string_view path);

}  // namespace vrexa
