#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vrexa::locale::testing {

// Reads and writes GNU MO files (little-endian) for tests: the entries by
// message id, the header under "".
class MoFile {
public:
    static std::vector<char> Write(std::map<std::string, std::string> entries) {
        std::vector<std::pair<std::string, std::string>> sorted(entries.begin(), entries.end());
        const std::uint32_t count = static_cast<std::uint32_t>(sorted.size());
        const std::uint32_t originals = 28;
        const std::uint32_t translations = originals + 8 * count;
        std::uint32_t offset = translations + 8 * count;
        std::vector<char> out;
        const auto put = [&](std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        put(0x950412de), put(0), put(count), put(originals), put(translations), put(0), put(offset);
        std::string strings;
        std::vector<std::uint32_t> table;
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& [id, text] : sorted) {
                const std::string& s = pass == 0 ? id : text;
                put(static_cast<std::uint32_t>(s.size()));
                put(offset + static_cast<std::uint32_t>(strings.size()));
                strings += s;
                strings += '\0';
            }
        }
        out.insert(out.end(), strings.begin(), strings.end());
        return out;
    }

    // The entries, or nothing when the bytes are not a well-formed MO file.
    static std::optional<std::map<std::string, std::string>> Read(const unsigned char* data, std::size_t size) {
        const auto word = [&](std::size_t at) -> std::optional<std::uint32_t> {
            if (at + 4 > size) return std::nullopt;
            return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
        };
        if (word(0) != 0x950412deu || word(4) != 0u) return std::nullopt;
        const auto count = word(8), originals = word(12), translations = word(16);
        if (!count || !originals || !translations) return std::nullopt;
        const auto text = [&](std::uint32_t table, std::uint32_t i) -> std::optional<std::string> {
            const auto length = word(table + 8 * i), offset = word(table + 8 * i + 4);
            if (!length || !offset || std::uint64_t(*offset) + *length >= size || data[*offset + *length] != 0) {
                return std::nullopt;
            }
            return std::string(reinterpret_cast<const char*>(data) + *offset, *length);
        };
        std::map<std::string, std::string> entries;
        for (std::uint32_t i = 0; i < *count; ++i) {
            const auto id = text(*originals, i), translation = text(*translations, i);
            if (!id || !translation) return std::nullopt;
            entries[*id] = *translation;
        }
        return entries;
    }
};

}  // namespace vrexa::locale::testing
