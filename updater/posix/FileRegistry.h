#pragma once

#include <string>

#include "updater/Environment.h"
#include "updater/Registry.h"

namespace vrexa::updater::posix {

// A read-only registry kept in files: the key path is a folder tree under the
// root and the value a file in it, whose first line names the value's type
// and whose rest is the value's text (one final newline dropped). Only the
// string type "REG_SZ" is accepted. Names match with exact case; empty, "."
// and ".." components are refused, so no path leaves the root.
class FileRegistry : public Registry {
public:
    explicit FileRegistry(std::string root);

    // The build's root, or VREXA_REGISTRY_ROOT from overrides when set.
    static std::string RootFor(const Environment& overrides);

    std::string ReadString(const std::string& path) override;

    // A value's text is read into a buffer of this many bytes as UTF-16 with
    // its terminator; text that needs more is not read.
    static constexpr std::size_t kValueBufferBytes = 32766;

private:
    std::string root_;
};

}  // namespace vrexa::updater::posix
