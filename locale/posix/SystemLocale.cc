#include "locale/posix/SystemLocale.h"

#include <cstdlib>
#include <algorithm>
#include <cctype>

namespace vrexa::locale::posix {

namespace {

std::optional<std::string> ProcessVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

bool IsPlainC(const std::string& name) {
    const std::string base = name.substr(0, name.find_first_of(".@"));
    return base == "C" || base == "POSIX";
}

}  // namespace

std::string WithoutCharset(const std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) return name;
    const std::size_t at = name.find('@', dot);
    return name.substr(0, dot) + (at == std::string::npos ? "" : name.substr(at));
}

bool IsWellFormedLocaleName(const std::string& name) {
    // language[_COUNTRY][@modifier]: 2 or 3 letters, then letters and digits.
    const auto run = [&](std::size_t from, std::size_t to, bool lettersOnly) {
        for (std::size_t i = from; i < to; ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            if (!std::isalpha(c) && (lettersOnly || !std::isdigit(c))) return false;
        }
        return true;
    };
    const std::size_t at = std::min(name.find('@'), name.size());
    const std::size_t underscore = std::min(name.find('_'), at);
    if (underscore < 2 || underscore > 3 || !run(0, underscore, true)) return false;
    if (underscore < at) {
        const std::size_t length = at - underscore - 1;
        if (length < 2 || length > 8 || !run(underscore + 1, at, false)) return false;
    }
    if (at < name.size()) {
        const std::size_t length = name.size() - at - 1;
        if (length < 1 || length > 16 || !run(at + 1, name.size(), false)) return false;
    }
    return true;
}

std::string Utf8LocaleName(const std::string& name) {
    std::string plain = WithoutCharset(name);
    // The locale library may crash on names it cannot parse; such a name gets
    // the English locale, whose texts it would have shown anyway.
    if (!IsWellFormedLocaleName(plain)) plain = "en";
    const std::size_t at = plain.find('@');
    if (at == std::string::npos) return plain + ".UTF-8";
    return plain.substr(0, at) + ".UTF-8" + plain.substr(at);
}

bool HasCatalogFor(MessageCatalog& catalog, const std::string& name) {
    const std::string plain = WithoutCharset(name);
    const std::string withoutModifier = plain.substr(0, plain.find('@'));
    const std::string language = withoutModifier.substr(0, withoutModifier.find('_'));
    const std::string prefix = catalog.GetPath() + "/";
    const std::string suffix = "/LC_MESSAGES/" + catalog.GetDomain() + ".mo";
    for (const std::string& candidate : {withoutModifier, language}) {
        if (!candidate.empty() && !catalog.Load(prefix + candidate + suffix, "UTF-8").empty()) return true;
    }
    return false;
}

std::string SystemLocaleName(const std::function<bool(const std::string&)>& hasCatalog,
                             const EnvironmentLookup& environment) {
    const EnvironmentLookup lookup = environment ? environment : EnvironmentLookup(ProcessVariable);
    if (const auto list = lookup("LANGUAGE")) {
        std::size_t start = 0;
        while (start <= list->size()) {
            std::size_t end = list->find(':', start);
            if (end == std::string::npos) end = list->size();
            const std::string entry = WithoutCharset(list->substr(start, end - start));
            start = end + 1;
            if (!entry.empty() && !IsPlainC(entry) && hasCatalog(entry)) return entry;
        }
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const auto value = lookup(variable)) return IsPlainC(*value) ? "en" : WithoutCharset(*value);
    }
    return "en";
}

}  // namespace vrexa::locale::posix
