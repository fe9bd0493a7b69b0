#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vrexa {

// What a signature's trusted comment says about the signed document:
// space-separated key=value tokens, of which these are read and any other is
// ignored, so that a vendor may add its own.
//   kind=package id=PACKAGE_ID version=VERSION_ID serial=N expires=UNIX_SECONDS
//   kind=nodes id=PARTNER_ID serial=N expires=UNIX_SECONDS
struct TrustedComment {
    std::string kind;
    std::string id;
    std::string version;
    std::optional<std::uint64_t> serial;
    std::optional<std::int64_t> expires;
};

// MinisignFormatError (with the reason) when a known key is given twice (two
// readers could take different ones) or a number is not a plain decimal one.
TrustedComment ParseTrustedComment(std::string_view text);

// The comment text for the fields that are set, in the order above.
std::string FormatTrustedComment(const TrustedComment& comment);

}  // namespace vrexa
