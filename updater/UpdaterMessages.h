#pragma once

#include <string>

#include "transfer/TransferError.h"

namespace vrexa::updater {

// A product's English texts. They are message ids of its catalogs: the locale
// translates them when they are shown, and "{1}" takes the display name.
class UpdaterMessages {
public:
    virtual ~UpdaterMessages() = default;
    virtual std::string GetCatalogDomain() = 0;
    virtual std::string GetErrorMessage(TransferError error) = 0;
    virtual std::string GetTitle() = 0;
    virtual std::string GetErrorTitle() = 0;
    virtual std::string GetLaunchingText() = 0;
    virtual std::string GetLaunchFailedText() = 0;
    // Shown by a second updater started while the first is still at work.
    virtual std::string GetAlreadyRunningText() = 0;
};

}  // namespace vrexa::updater
