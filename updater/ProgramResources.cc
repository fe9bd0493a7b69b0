#include "updater/ProgramResources.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "updater/CompiledResources.h"
#include "updater/StringTable.h"

namespace vrexa::updater {

ResourceTable CompiledResources() {
    ResourceTable table;
    for (std::size_t i = 0; i < compiled::kStringCount; ++i) {
        const auto& entry = compiled::kStrings[i];
        table.AddString(entry.id, std::string(entry.text, entry.size));
    }
    for (std::size_t i = 0; i < compiled::kCatalogsCount; ++i) {
        const auto& entry = compiled::kCatalogs[i];
        table.AddCatalog(entry.id, {entry.bytes, entry.size});
    }
    for (std::size_t i = 0; i < compiled::kIconsCount; ++i) {
        const auto& entry = compiled::kIcons[i];
        table.AddIcon(entry.id, {entry.bytes, entry.size});
    }
    return table;
}

void LoadStringTableFile(const std::string& path, ResourceTable& table) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw StringTableError(path + ": not a readable file");
    std::ifstream in(path, std::ios::binary);
    std::string content;
    if (in) content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in || in.bad()) throw StringTableError(path + ": cannot be read");
    const auto entries = ParseStringTable(content, path);
    table.ClearStrings();
    for (const auto& entry : entries)
        table.AddString(entry.id, entry.text);
}

ResourceTable LoadProgramResources(const Environment& overrides) {
    ResourceTable table = CompiledResources();
    if (const auto path = overrides(kStringTableVariable)) LoadStringTableFile(*path, table);
    return table;
}

}  // namespace vrexa::updater
