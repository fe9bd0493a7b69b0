#include "transfer/TransferBehavior.h"

#include <algorithm>
#include <thread>

#include "vrexa/DeploymentValues.h"
#include "vrexa/TrustedKeys.h"

namespace vrexa {

TransferSettings::TransferSettings()
    : manifestHost(deployment::kManifestHost),
      transferThreads(DefaultParallelism()),
      maxRunningWorks(DefaultParallelism()),
      parallelItems(DefaultParallelism()),
      geolocationUrl(std::string(deployment::kEventsAnalyticsUrl) + "/geo-location"),
      transferAnalyticsUrl(deployment::kTransferAnalyticsUrl),
      eventsAnalyticsUrl(deployment::kEventsAnalyticsUrl) {
    for (const std::string_view key : deployment::kTrustedKeys) {
        if (!key.empty()) trustedKeys.emplace_back(key);
    }
}

int TransferSettings::ParallelismFor(unsigned hardwareThreads) {
    // The platform may report 0 when it cannot tell.
    const int threads = hardwareThreads < 2 ? 1 : static_cast<int>(hardwareThreads);
    return std::max(threads + 2, kNetworkParallelism);
}

int TransferSettings::DefaultParallelism() { return ParallelismFor(std::thread::hardware_concurrency()); }

}  // namespace vrexa
