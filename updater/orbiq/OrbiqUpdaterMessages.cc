#include "updater/orbiq/OrbiqUpdaterMessages.h"

#include "vrexa/UpdaterDeployment.h"

namespace vrexa::updater::orbiq {

namespace {
const std::string kSupportHost = deployment::kSupportHost;
}

std::string OrbiqUpdaterMessages::GetCatalogDomain() { return "orbiq-updater"; }

std::string OrbiqUpdaterMessages::GetTitle() { return "Orbiq Update ({1})"; }

std::string OrbiqUpdaterMessages::GetErrorTitle() { return "Orbiq Update ({1}) Error"; }

std::string OrbiqUpdaterMessages::GetLaunchingText() { return "Launching Orbiq Update ({1})"; }

std::string OrbiqUpdaterMessages::GetLaunchFailedText() {
    return "Orbiq Update ({1}) could not be launched. Please visit " + kSupportHost + " for further assistance.";
}

std::string OrbiqUpdaterMessages::GetAlreadyRunningText() {
    return "Orbiq Update ({1}) is already running. Wait until it has finished, or close it and try again.";
}

std::string OrbiqUpdaterMessages::GetErrorMessage(TransferError error) {
    switch (error) {
        case TransferError::NetworkError:
            return "Internet connection not established. Check the Internet connection and please try again.";
        case TransferError::OutOfMemory:
            return "Out of memory. Free up some memory and try again.";
        case TransferError::InsufficientSpace:
            return "Not enough storage. Free some space and please try again.";
        case TransferError::FileAccessError:
        case TransferError::FileWriteError:
            return "Trouble writing to storage. Make sure the user account has sufficient permissions and please try "
                   "again.";
        case TransferError::GeofenceBlocked:
            return "This download is not available in your location. Please visit " + kSupportHost +
                   " for more information.";
        default:
            return "An unexpected error occurred. For more information please visit " + kSupportHost;
    }
}

}  // namespace vrexa::updater::orbiq
