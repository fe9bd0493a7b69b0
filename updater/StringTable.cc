#include "updater/StringTable.h"

#include <map>

#include "text/Utf8.h"

namespace vrexa::updater {

namespace {

// Length in bytes of the well-formed UTF-8 sequence at text[i], 0 when it is
// not one.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
    const std::size_t start = i;
    return NextCodePoint(text, i) ? i - start : 0;
}

[[noreturn]] void Fail(const std::string& origin, int line, const std::string& what) {
    throw StringTableError(origin + ":" + std::to_string(line) + ": " + what);
}

}  // namespace

std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = SequenceLength(text, i);
        // Ill-formed bytes count as one replacement character each.
        units += length == 4 ? 2 : 1;
        i += length == 0 ? 1 : length;
    }
    return units;
}

std::string_view CutToUtf16Units(std::string_view text, std::size_t units) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = SequenceLength(text, i);
        const std::size_t cost = length == 4 ? 2 : 1;
        if (used + cost > units) break;
        used += cost;
        i += length == 0 ? 1 : length;
    }
    return text.substr(0, i);
}

std::vector<StringTableEntry> ParseStringTable(std::string_view content, const std::string& origin) {
    std::vector<StringTableEntry> entries;
    std::map<int, int> seen;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < content.size()) {
        ++lineNumber;
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        if (!IsUtf8(line)) Fail(origin, lineNumber, "not valid UTF-8");
        if (line.find('\0') != std::string_view::npos) Fail(origin, lineNumber, "a NUL byte in the entry");
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) Fail(origin, lineNumber, "no \"=\" between id and text");
        const std::string_view idText = line.substr(0, equals);
        if (idText.empty() || idText.size() > 5 || idText.find_first_not_of("0123456789") != std::string_view::npos) {
            Fail(origin, lineNumber, "the id \"" + std::string(idText) + "\" is not a number from 0 to 65535");
        }
        const int id = std::stoi(std::string(idText));
        if (id > 65535) Fail(origin, lineNumber, "the id " + std::to_string(id) + " is above 65535");
        if (const auto previous = seen.find(id); previous != seen.end()) {
            Fail(origin, lineNumber,
                 "string " + std::to_string(id) + " already given on line " + std::to_string(previous->second));
        }
        seen.emplace(id, lineNumber);
        entries.push_back({id, std::string(line.substr(equals + 1)), lineNumber});
    }
    return entries;
}

}  // namespace vrexa::updater
