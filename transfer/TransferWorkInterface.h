#pragma once

#include <memory>
#include <string>

#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"

namespace vrexa {

namespace http {
class Session;
}  // namespace http

class PackageManifest;
class NodeListManifest;
class GeolocationManifest;
class TransferProgressUpdater;
class WorkCompleteCallback;
class WorkflowRetryableErrorCallback;

// The only door through which the works of a transfer reach it: they read its
// parameters, settings and manifests, report progress, and hand their
// outcomes back. Works hold it by shared pointer; the transfer owns the
// implementation.
class TransferWorkInterface {
public:
    virtual ~TransferWorkInterface() = default;

    // A copy taken under the transfer's lock; safe from any thread.
    virtual TransferParams GetParams() = 0;
    // Direct access, for the transfer's own handlers (under its lock).
    virtual TransferParams& Params() = 0;
    virtual const TransferParams& Params() const = 0;
    virtual TransferBehavior& GetBehavior() = 0;

    // The manifests acquired so far; null before.
    virtual std::shared_ptr<PackageManifest> GetPackage() = 0;
    virtual std::shared_ptr<NodeListManifest> GetNodeList() = 0;
    virtual std::shared_ptr<GeolocationManifest> GetGeolocation() = 0;

    virtual std::shared_ptr<TransferProgressUpdater> GetProgress() = 0;
    virtual std::shared_ptr<http::Session> GetSession() = 0;

    // Callbacks that forward a work's outcome to the transfer's handler of
    // the same purpose: the whole workflow's completion, each manifest
    // acquired, the geolocation and the end of initialization.
    virtual WorkCompleteCallback& GetWorkCompleteCallback() = 0;
    virtual WorkCompleteCallback& GetPackageAcquireCallback() = 0;
    virtual WorkCompleteCallback& GetNodeListAcquireCallback() = 0;
    virtual WorkCompleteCallback& GetGeolocationCallback() = 0;
    virtual WorkCompleteCallback& GetInitializeCallback() = 0;
    // Told when the workflow suspends itself on a retryable error.
    virtual WorkflowRetryableErrorCallback& GetRetryableErrorCallback() = 0;

    // An output file (relative to the destination) the transfer now owns, so
    // that cancelling with file removal knows what to remove.
    virtual void AddOutputFile(const std::string& relativePath) = 0;
};

}  // namespace vrexa
