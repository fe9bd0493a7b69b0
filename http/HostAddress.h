#pragma once

#include <string>
#include <string_view>

namespace vrexa::http {

// A server as documents and settings name it: "HOST[:PORT]" for plain HTTP,
// or "https://HOST[:PORT]" for a server reached over TLS.
struct HostAddress {
    std::string scheme;     // "http" or "https"
    std::string_view authority;  // HOST[:PORT], the rest of the text
};

// Splits text; the authority itself is judged by whoever composes a URL from it.
HostAddress SplitHostAddress(std::string_view text);

}  // namespace vrexa::http
