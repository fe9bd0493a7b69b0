#pragma once

#include <string>

#include "locale/BoostLocale.h"
#include "locale/MessageCatalog.h"

namespace vrexa::locale {

// A BoostLocale whose catalogs come from a MessageCatalog instead of the disk.
class CustomBoostLocale : public BoostLocale {
public:
    // The catalog is not owned and must outlive the locale.
    CustomBoostLocale(MessageCatalog& catalog, const std::string& name);

    // "" is the user's own locale, taken from the environment (see
    // posix/SystemLocale.h). Texts are always produced in UTF-8.
    void SetLocale(const std::string& name) override;

private:
    MessageCatalog& catalog_;
};

}  // namespace vrexa::locale
