#pragma once

#include <string>
#include <vector>

namespace vrexa::locale {

// Serves gettext catalog files to the locale machinery by file name, so that
// catalogs can live anywhere, not only on disk.
class MessageCatalog {
public:
    virtual ~MessageCatalog() = default;
    // Root folder of the catalog tree the file names start from.
    virtual std::string GetPath() = 0;
    virtual std::string GetDomain() = 0;
    // The content of one MO file; empty when there is none.
    virtual std::vector<char> Load(const std::string& fileName, const std::string& encoding) = 0;
};

}  // namespace vrexa::locale
