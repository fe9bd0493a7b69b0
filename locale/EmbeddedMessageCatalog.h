#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "locale/MessageCatalog.h"

namespace vrexa::locale {

// Catalogs compiled into the program, registered by locale name. The tree has
// no root folder, so a locale's file is "/de/LC_MESSAGES/<domain>.mo".
class EmbeddedMessageCatalog : public MessageCatalog {
public:
    // Answers the bytes of the catalog resource with an id; empty when there
    // is none.
    using ResourceLookup = std::function<std::span<const unsigned char>(int resourceId)>;

    EmbeddedMessageCatalog(std::string domain, ResourceLookup lookup);

    std::string GetPath() override;
    std::string GetDomain() override;
    // The registered resource's bytes for an exact file name; empty for any
    // other name or when the resource is missing.
    std::vector<char> Load(const std::string& fileName, const std::string& encoding) override;

    // Serves catalog resourceId for localeName; a name registered twice keeps
    // its first id.
    void Register(const std::string& localeName, int resourceId);
    std::string FileName(const std::string& localeName);

private:
    std::string domain_;
    ResourceLookup lookup_;
    std::map<std::string, int> files_;
};

}  // namespace vrexa::locale
