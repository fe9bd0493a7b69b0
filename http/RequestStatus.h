#pragma once

#include <cstdint>
#include <string>

#include "http/State.h"

namespace vrexa::http {

// A snapshot of a request: how it ended (or where it stands), how many body
// bytes the writer took, and what the server and libcurl said. Every request
// operation returns a copy; WriteCallback::Write returns one too, of which only
// state, bytes and errorMessage are read.
struct RequestStatus {
    State state = State::Ready;
    std::uint64_t bytes = 0;        // body bytes the writer reported as taken
    std::int32_t responseCode = 0;  // 0 when no response was received
    std::string primaryIp;          // address of the last connection
    std::string proxyConfig;        // Describe() of the request's proxy
    std::string proxyUrl;           // proxy chosen for the URL; empty: direct
    std::string errorMessage;       // "libcurl error N (HTTP C)" or the writer's message
    std::string errorDetail;        // libcurl's error buffer
    std::int32_t curlCode = 0;      // libcurl's result; 0 when it did not fail
    std::string url;                // the URL asked for, credentials masked
    // Measured from the start of the exchange, capped by the request's timeouts.
    std::uint32_t resolveTimeMs = 0;
    std::uint32_t connectTimeMs = 0;
    std::uint32_t firstByteTimeMs = 0;
    std::uint32_t totalTimeMs = 0;
};

}  // namespace vrexa::http
