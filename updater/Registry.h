#pragma once

#include <string>

namespace vrexa::updater {

// The machine-wide registry the updater reads one value from.
class Registry {
public:
    virtual ~Registry() = default;
    // The string value path names: its parent part is the key, its last
    // component the value name ("\" and "/" both separate). "" on any failure,
    // including a value that is not a string.
    virtual std::string ReadString(const std::string& path) = 0;
};

}  // namespace vrexa::updater
