#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vrexa::updater {

// The program's own resources: strings, message catalogs and icons by id. The
// program's table is compiled in (see ProgramResources.h); tests build their
// own.
class ResourceTable {
public:
    // The first string given for an id stays.
    void AddString(int id, std::string text);
    // The bytes are not copied: they must outlive the table (compiled-in data).
    void AddCatalog(int id, std::span<const unsigned char> bytes);
    // An image file's bytes (PNG), not copied either.
    void AddIcon(int id, std::span<const unsigned char> bytes);
    // Drops every string, keeping the catalogs and icons.
    void ClearStrings();

    // The string as stored, or nothing when there is none.
    std::optional<std::string_view> FindString(int id) const;
    // The string as a string resource reads: "" when missing, otherwise cut
    // to kStringResourceLimit UTF-16 units without splitting a character.
    std::string LoadString(int id) const;
    // The catalog's bytes; empty when there is none.
    std::span<const unsigned char> FindCatalog(int id) const;
    // The icon's bytes; empty when there is none.
    std::span<const unsigned char> FindIcon(int id) const;

private:
    std::map<int, std::string> strings_;
    std::map<int, std::span<const unsigned char>> catalogs_;
    std::map<int, std::span<const unsigned char>> icons_;
};

}  // namespace vrexa::updater
