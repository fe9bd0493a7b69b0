#pragma once

#include "updater/Updater.h"
#include "updater/orbiq/OrbiqUpdaterMessages.h"

namespace vrexa::updater::orbiq {

// The Orbiq product: its texts and its 23 catalogs.
class OrbiqUpdater : public Updater {
public:
    UpdaterMessages& GetMessages() override { return messages_; }
    void RegisterCatalogs(locale::EmbeddedMessageCatalog& catalog) override;

private:
    OrbiqUpdaterMessages messages_;
};

}  // namespace vrexa::updater::orbiq
