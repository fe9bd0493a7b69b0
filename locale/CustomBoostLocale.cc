#include "locale/CustomBoostLocale.h"

#include <boost/locale/generator.hpp>
#include <boost/locale/gnu_gettext.hpp>
#include <boost/locale/info.hpp>

#include "locale/posix/SystemLocale.h"

namespace vrexa::locale {

namespace {

// Some well-formed names read as an encoding the catalogs cannot be converted
// into ("ru_RUAUTF8"), and the library throws while loading them: such a
// locale shows its catalog in UTF-8 and, should even that fail, the texts
// themselves. A name is never a reason to fail.
boost::locale::message_format<char>* CreateMessagesFacet(boost::locale::gnu_gettext::messages_info messages) {
    try {
        return boost::locale::gnu_gettext::create_messages_facet<char>(messages);
    } catch (const std::exception&) {
    }
    messages.encoding = "UTF-8";
    try {
        return boost::locale::gnu_gettext::create_messages_facet<char>(messages);
    } catch (const std::exception&) {
    }
    messages.domains.clear();
    return boost::locale::gnu_gettext::create_messages_facet<char>(messages);
}

}  // namespace

CustomBoostLocale::CustomBoostLocale(MessageCatalog& catalog, const std::string& name)
    : BoostLocale(catalog.GetDomain(), catalog.GetPath()), catalog_(catalog) {
    SetLocale(name);
}

void CustomBoostLocale::SetLocale(const std::string& name) {
    const std::string resolved = name.empty() ? posix::SystemLocaleName([this](const std::string& candidate) {
        return posix::HasCatalogFor(catalog_, candidate);
    })
                                              : name;

    boost::locale::generator generator;
    const std::locale base = generator(posix::Utf8LocaleName(resolved));
    const auto& info = std::use_facet<boost::locale::info>(base);

    boost::locale::gnu_gettext::messages_info messages;
    messages.language = info.language();
    messages.country = info.country();
    messages.variant = info.variant();
    messages.encoding = info.encoding();
    messages.paths.push_back(path_);
    boost::locale::gnu_gettext::messages_info::domain domain(domain_);
    if (domain_.find('/') == std::string::npos) domain.encoding = "UTF-8";
    messages.domains.push_back(domain);
    MessageCatalog& catalog = catalog_;
    messages.callback = [&catalog](const std::string& fileName, const std::string& encoding) {
        return catalog.Load(fileName, encoding);
    };

    SetCurrent(name, std::locale(base, CreateMessagesFacet(messages)));
}

}  // namespace vrexa::locale
