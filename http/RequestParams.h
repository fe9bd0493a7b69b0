#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vrexa::http {

class WriteCallback;
class RateLimiter;

enum class RequestMethod : int { Get = 0, Post = 1 };

// The user agent every request sends unless the caller changes it.
inline constexpr const char* kDefaultUserAgent = "Quenlar Vrexa TransferService 1.3.4";

// Everything a request needs to know about one exchange. A request keeps its own
// copy, so the caller may discard this record after creating or resetting a
// request; the writer, however, is not owned and must outlive every Perform().
struct RequestParams {
    // The all-ones last byte: the range runs to the end of the resource.
    static constexpr std::uint64_t kOpenEnd = 0xFFFFFFFFFFFFFFFFull;

    RequestParams(std::string url, WriteCallback* writer) : url(std::move(url)), writer(writer) {}

    std::string url;
    WriteCallback* writer;
    RequestMethod method = RequestMethod::Get;
    std::string body;                                               // sent for Post
    std::string contentType = "application/x-www-form-urlencoded";  // Content-Type of a Post
    std::string acceptEncoding;                                     // empty: no encoding requested
    std::uint64_t rangeFirst = 0;                                   // inclusive byte range
    std::uint64_t rangeLast = kOpenEnd;
    std::int32_t connectTimeout = 5;  // seconds
    std::int32_t timeout = 0;         // seconds for the whole exchange, 0: none
    std::int32_t lowSpeedLimit = 0;   // bytes per second ...
    std::int32_t lowSpeedTime = 0;    // ... for this many seconds
    std::string userAgent = kDefaultUserAgent;
    // Shared by the requests whose bytes together must keep to one rate; null:
    // as fast as the network goes. Not owned; must outlive every Perform().
    RateLimiter* rateLimiter = nullptr;
};

}  // namespace vrexa::http
