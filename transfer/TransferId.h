#pragma once

#include <string_view>

namespace vrexa {

// Whether id has the form the manager gives transfer ids: exactly 32
// lower-case hexadecimal digits. An id becomes a file name, so nothing else
// is ever looked up or stored.
bool IsTransferId(std::string_view id);

}  // namespace vrexa
