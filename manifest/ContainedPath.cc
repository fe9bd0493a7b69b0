#include "manifest/ContainedPath.h"

namespace vrexa {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool IsContainedPath(std::string_view path) {
    // A NUL would cut the path short when it reaches the operating system.
    if (path.find('\0') != std::string_view::npos) return false;

    // Either separator may be used by the package's publisher, so a parent
    // reference is looked for between both.
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (path.substr(start, i - start) == "..") return false;
            start = i + 1;
        }
    }

    // Leading "/" only say "from the destination folder"; whatever is rooted
    // after them would replace the destination when the two are joined.
    const std::size_t first = path.find_first_not_of('/');
    if (first == std::string_view::npos) return true;
    const std::string_view rest = path.substr(first);
    if (rest.front() == '\\') return false;                                     // rooted, or a "\\server" root name
    if (rest.size() >= 2 && IsLetter(rest[0]) && rest[1] == ':') return false;  // a drive
    return true;
}

bool IsPackageFilePath(std::string_view path) {
    if (!IsContainedPath(path)) return false;
    const std::size_t first = path.find_first_not_of('/');
    if (first == std::string_view::npos) return false;
    path.remove_prefix(first);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            const std::string_view segment = path.substr(start, i - start);
            if (segment.empty() || segment == ".") return false;
            start = i + 1;
        }
    }
    return true;
}

}  // namespace vrexa
