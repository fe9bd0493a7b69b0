#pragma once

#include <string>

#include "updater/UpdaterMessages.h"

namespace vrexa::updater::orbiq {

// The Orbiq updater's texts; the support host is the build's deployment value.
class OrbiqUpdaterMessages : public UpdaterMessages {
public:
    std::string GetCatalogDomain() override;
    std::string GetErrorMessage(TransferError error) override;
    std::string GetTitle() override;
    std::string GetErrorTitle() override;
    std::string GetLaunchingText() override;
    std::string GetLaunchFailedText() override;
    std::string GetAlreadyRunningText() override;
};

}  // namespace vrexa::updater::orbiq
