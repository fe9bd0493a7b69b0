#pragma once

#include "locale/EmbeddedMessageCatalog.h"

namespace vrexa::updater::orbiq {

// Registers the product's 23 embedded catalogs (resources 201 to 223) under
// every locale name that uses one. Plain English ("en", "en_US") has none and
// keeps the English texts.
void RegisterOrbiqCatalogs(locale::EmbeddedMessageCatalog& catalog);

}  // namespace vrexa::updater::orbiq
