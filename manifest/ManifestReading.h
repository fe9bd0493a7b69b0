#pragma once

// Helpers shared by the manifest readers. Every failure they report is a
// ManifestParseException; nothing here is meant for code outside this folder.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

#include "manifest/ManifestException.h"

namespace vrexa::reading {

using boost::property_tree::ptree;

[[noreturn]] inline void Reject() { throw ManifestParseException(); }

// The first child named `key` (exactly: keys are not paths), or null.
const ptree* FindChild(const ptree& tree, std::string_view key);

// The first child named `key`; a parse error when there is none.
const ptree& RequiredChild(const ptree& tree, std::string_view key);

// The value of the first child named `key`, verbatim.
const std::string& RequiredText(const ptree& tree, std::string_view key);
std::string OptionalText(const ptree& tree, std::string_view key, std::string_view fallback = {});

// A decimal number no larger than `max`, optionally surrounded by whitespace and
// preceded by "+". A sign "-" is refused rather than wrapped around.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max);

// A required decimal child of at most `max`; a parse error when it is missing or
// is not such a number.
std::uint64_t RequiredNumber(const ptree& tree, std::string_view key, std::uint64_t max);

// Whether a flag text reads as false ("false", "0"); anything else, unreadable
// text included, counts as true.
bool ReadFlag(std::string_view text);

// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigit(char c);

// One checksum group read the way a hexadecimal stream would: leading
// whitespace, an optional "+" and "0x", then the leading hexadecimal digits; the
// rest is ignored. nullopt when the group holds no digit at all.
std::optional<std::uint32_t> ParseHexGroup(std::string_view group);

// Runs a reader and turns every property-tree or overflow failure into the one
// failure a reader reports: ManifestParseException.
template <typename Reader>
void Guarded(Reader&& reader) {
    try {
        reader();
    } catch (const ManifestParseException&) {
        throw;
    } catch (const ManifestOverflowException&) {
        Reject();
    } catch (const boost::property_tree::ptree_error&) {
        Reject();
    }
}

}  // namespace vrexa::reading
