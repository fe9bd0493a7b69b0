#pragma once

#include <cstddef>

#include "http/RequestStatus.h"

namespace vrexa::http {

// Receives a response body block by block, on the performing thread and without
// any request lock held. The request reads only state, bytes and errorMessage of
// the result: Succeeded with bytes == size takes the block; any other state, or a
// shorter count, ends the exchange. A writer must not throw.
class WriteCallback {
public:
    virtual ~WriteCallback() = default;
    virtual RequestStatus Write(const char* data, std::size_t size) = 0;
};

}  // namespace vrexa::http
