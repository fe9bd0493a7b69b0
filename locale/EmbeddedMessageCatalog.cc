#include "locale/EmbeddedMessageCatalog.h"

namespace vrexa::locale {

EmbeddedMessageCatalog::EmbeddedMessageCatalog(std::string domain, ResourceLookup lookup)
    : domain_(std::move(domain)), lookup_(std::move(lookup)) {}

std::string EmbeddedMessageCatalog::GetPath() { return ""; }

std::string EmbeddedMessageCatalog::GetDomain() { return domain_; }

std::string EmbeddedMessageCatalog::FileName(const std::string& localeName) {
    return GetPath() + "/" + localeName + "/LC_MESSAGES/" + domain_ + ".mo";
}

void EmbeddedMessageCatalog::Register(const std::string& localeName, int resourceId) {
    files_.emplace(FileName(localeName), resourceId);
}

std::vector<char> EmbeddedMessageCatalog::Load(const std::string& fileName, const std::string&) {
    try {
        const auto found = files_.find(fileName);
        if (found == files_.end() || !lookup_) return {};
        const std::span<const unsigned char> bytes = lookup_(found->second);
        return std::vector<char>(bytes.begin(), bytes.end());
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace vrexa::locale
