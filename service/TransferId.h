#pragma once

#include <string>

namespace vrexa {

// A fresh transfer id: a random (version 4) UUID from the system's entropy,
// as 32 lower-case hexadecimal digits without hyphens.
std::string NewTransferId();

// Whether text has the form of a transfer id.
bool IsTransferId(const std::string& text);

}  // namespace vrexa
