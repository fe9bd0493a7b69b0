#pragma once

#include <string>

namespace vrexa {

// A fresh transfer id: a random (version 4) UUID from the system's entropy,
// as 32 lower-case hexadecimal digits without hyphens.
std::string NewTransferId();

}  // namespace vrexa
