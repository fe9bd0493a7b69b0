#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vrexa::updater {

// The updater reads a string resource into a buffer of 255 UTF-16 units, so
// at most this many units of text survive; longer text is cut.
inline constexpr std::size_t kStringResourceLimit = 254;

// One entry of a string table file.
struct StringTableEntry {
    int id = 0;
    std::string text;
    int line = 0;  // 1-based line of the file it came from
};

// A malformed string table file; the message names the origin and the line.
class StringTableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses a string table file: UTF-8, one "ID=text" entry a line, split at the
// first "="; lines starting with "#" are comments and blank lines are skipped;
// there is no escaping, so the text runs to the end of the line (a final CR of
// a CRLF line ending is not part of it). The id is a decimal number from 0 to
// 65535 and appears once. origin names the file in error messages. Entries
// keep the file's order; their length is not checked here.
std::vector<StringTableEntry> ParseStringTable(std::string_view content, const std::string& origin);

// The number of UTF-16 units the well-formed UTF-8 text takes: one per
// character, two for a character beyond U+FFFF.
std::size_t Utf16Length(std::string_view text);

// The longest prefix of the well-formed UTF-8 text that fits in units UTF-16
// units; a character that does not fit whole is left out.
std::string_view CutToUtf16Units(std::string_view text, std::size_t units);

}  // namespace vrexa::updater
