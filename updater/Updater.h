#pragma once

#include <functional>
#include <memory>
#include <ostream>

#include "locale/EmbeddedMessageCatalog.h"
#include "transfer/TransferBehavior.h"
#include "updater/DialogView.h"
#include "updater/ResourceTable.h"
#include "updater/UpdaterConfiguration.h"
#include "updater/UpdaterMessages.h"

namespace vrexa {
class TransferContract;
}

namespace vrexa::updater {

// The application: everything after the configuration has been read. A
// product supplies its messages and its catalog table.
class Updater {
public:
    // Builds the transfer service from the engine's settings.
    using ServiceFactory = std::function<std::unique_ptr<TransferContract>(const TransferBehavior& behavior)>;

    Updater() = default;
    virtual ~Updater() = default;
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    virtual UpdaterMessages& GetMessages() = 0;
    virtual void RegisterCatalogs(locale::EmbeddedMessageCatalog& catalog) = 0;

    // The whole run: the catalog and locale, the service and its monitor, the
    // dialog shown in view until it closes, then teardown in reverse (the
    // monitor's thread joined before the service goes, the service before the
    // locale). A data folder that cannot be made shows the storage message
    // instead of the window; a data folder another updater holds ends the run
    // with the already-running message. The end signals (an interrupt, a
    // polite kill, a hang-up, a quit) close the window; a second one, or one
    // after the window has closed, ends the process at once. Returns 0
    // whatever happened; notes receives what no window can show.
    int Run(const ResourceTable& resources, const UpdaterConfiguration& configuration, DialogView& view,
            const ServiceFactory& makeService, std::ostream& notes);
};

}  // namespace vrexa::updater
