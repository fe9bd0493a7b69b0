#include "http/HostAddress.h"

namespace vrexa::http {

HostAddress SplitHostAddress(std::string_view text) {
    static constexpr std::string_view kSecure = "https://";
    if (text.substr(0, kSecure.size()) == kSecure) {
        return {"https", text.substr(kSecure.size())};
    }
    return {"http", text};
}

}  // namespace vrexa::http
