#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vrexa {

// The one reader and writer of UTF-8 in the tree. Well formed means what the
// standard allows and nothing more: no overlong form, no surrogate (U+D800 to
// U+DFFF), nothing above U+10FFFF, no stray continuation byte, no sequence
// cut short. Text from manifests, stored records, string tables and file
// names is checked with it before it is trusted to be characters.

// Decodes the well-formed sequence that starts at text[at] and moves at past
// it; nothing, with at unchanged, when the bytes there are not one (or at is
// at the end).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& at);

// Whether the whole of text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// Appends code (a scalar value: at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

}  // namespace vrexa
