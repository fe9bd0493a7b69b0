#pragma once

#include <cstdint>
#include <string>

namespace vrexa {

// Lower-case hexadecimal without prefix or leading zeros ("0" for zero).
std::string HexText(std::uint32_t value);

}  // namespace vrexa
