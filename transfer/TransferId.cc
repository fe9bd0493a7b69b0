#include "transfer/TransferId.h"

#include <algorithm>

namespace vrexa {

bool IsTransferId(std::string_view id) {
    return id.size() == 32 &&
           std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace vrexa
