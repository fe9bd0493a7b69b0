#include "updater/orbiq/OrbiqUpdater.h"

#include "updater/orbiq/OrbiqCatalogs.h"

namespace vrexa::updater::orbiq {

void OrbiqUpdater::RegisterCatalogs(locale::EmbeddedMessageCatalog& catalog) { RegisterOrbiqCatalogs(catalog); }

}  // namespace vrexa::updater::orbiq
