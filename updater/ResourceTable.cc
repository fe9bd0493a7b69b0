#include "updater/ResourceTable.h"

#include "updater/StringTable.h"

namespace vrexa::updater {

void ResourceTable::AddString(int id, std::string text) { strings_.emplace(id, std::move(text)); }

void ResourceTable::AddCatalog(int id, std::span<const unsigned char> bytes) { catalogs_.emplace(id, bytes); }

void ResourceTable::AddIcon(int id, std::span<const unsigned char> bytes) { icons_.emplace(id, bytes); }

void ResourceTable::ClearStrings() { strings_.clear(); }

std::optional<std::string_view> ResourceTable::FindString(int id) const {
    const auto found = strings_.find(id);
    if (found == strings_.end()) return std::nullopt;
    return std::string_view(found->second);
}

std::string ResourceTable::LoadString(int id) const {
    const auto found = FindString(id);
    if (!found) return "";
    return std::string(CutToUtf16Units(*found, kStringResourceLimit));
}

// One lookup for both tables of bytes.
static std::span<const unsigned char> FindBytes(const std::map<int, std::span<const unsigned char>>& table, int id) {
    const auto found = table.find(id);
    return found == table.end() ? std::span<const unsigned char>() : found->second;
}

std::span<const unsigned char> ResourceTable::FindCatalog(int id) const { return FindBytes(catalogs_, id); }

std::span<const unsigned char> ResourceTable::FindIcon(int id) const { return FindBytes(icons_, id); }

}  // namespace vrexa::updater
