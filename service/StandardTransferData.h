#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferStatusImpl.h"

namespace vrexa {

namespace http {
class Session;
}  // namespace http

class PackageManifest;
class NodeListManifest;
class GeolocationManifest;

// Everything one run of a transfer knows, shared by the transfer and the work
// interface its works hold. Suspend replaces the whole object, so counters,
// manifests and the session of a suspended transfer start again from scratch.
//
// Two locks guard it. The transfer's lock serializes every change of state and
// record. The small data mutex below guards what works read from their own
// threads without the transfer's lock: the manifests, the session and writes
// to the params (works set preallocate, the transfer resolves versionId and
// destPath).
class StandardTransferData {
public:
    StandardTransferData(const TransferParams& params, const TransferBehavior& behavior);
    StandardTransferData(const StandardTransferData&) = delete;
    StandardTransferData& operator=(const StandardTransferData&) = delete;

    TransferParams params;
    const TransferBehavior behavior;
    TransferStatusImpl status;

    std::mutex dataMutex;
    std::shared_ptr<PackageManifest> package;
    std::shared_ptr<NodeListManifest> nodeList;
    std::shared_ptr<GeolocationManifest> geolocation;
    std::shared_ptr<http::Session> session;

    // Under the transfer's lock only.
    bool removeRequested = false;
    std::unordered_set<std::string> outputFiles{11};
    // Active time (milliseconds) when the last periodic event was raised.
    std::uint64_t periodicMark = 0;

    // Copies under the data mutex.
    TransferParams CopyParams();
    std::shared_ptr<PackageManifest> GetPackage();
    std::shared_ptr<NodeListManifest> GetNodeList();
    std::shared_ptr<GeolocationManifest> GetGeolocation();
    std::shared_ptr<http::Session> GetSession();
};

}  // namespace vrexa
