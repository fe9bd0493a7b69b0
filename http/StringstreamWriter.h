#pragma once

#include <ostream>

#include "http/WriteCallback.h"

namespace vrexa::http {

// Writes the body into a standard stream (not owned).
class StringstreamWriter : public WriteCallback {
public:
    explicit StringstreamWriter(std::ostream* stream) : stream_(stream) {}
    // Succeeded with size bytes, or WriteError with 0 when the stream fails.
    RequestStatus Write(const char* data, std::size_t size) override;

private:
    std::ostream* stream_;
};

}  // namespace vrexa::http
