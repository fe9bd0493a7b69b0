#pragma once

#include <functional>
#include <memory>
#include <mutex>
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

// Chunks of the package an update found in old content on this machine; the
// workflow's own type behind this name.
class ReusedContent {
public:
    virtual ~ReusedContent() = default;
};
class WorkCompleteCallback;
class WorkflowRetryableErrorCallback;

// The only door through which the works of a transfer reach it: they read its
// parameters, settings and manifests, report progress, and hand their
// outcomes back. Works hold it by shared pointer; the transfer owns the
// implementation.
//
// The params and the manifests are read from work and log threads while the
// transfer changes them, so they sit behind a small data lock of their own.
// It is never the transfer's recursive lock: a work never waits for a client
// operation, and nothing is called out while it is held. The transfer writes
// its params through ChangeParams and stores each manifest with its Store
// operation; the preallocation flag, the one param a work writes, goes
// through SetPreallocate.
class TransferWorkInterface {
public:
    virtual ~TransferWorkInterface() = default;

    // A copy taken under the data lock; safe from any thread.
    virtual TransferParams GetParams();
    // The transfer's own params, for its handlers (under its lock). Must not
    // lock anything: the data-lock operations below call it. Reading through
    // the reference races with SetPreallocate; copies go through GetParams.
    virtual TransferParams& Params() = 0;
    virtual const TransferParams& Params() const = 0;
    virtual TransferBehavior& GetBehavior() = 0;

    // The manifests acquired so far (null before), copied under the data lock.
    virtual std::shared_ptr<PackageManifest> GetPackage();
    virtual std::shared_ptr<NodeListManifest> GetNodeList();
    virtual std::shared_ptr<GeolocationManifest> GetGeolocation();

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

    // Whether output files are preallocated; the preallocation check writes it
    // from a work thread.
    void SetPreallocate(bool preallocate);
    bool GetPreallocate() const;

    // Runs change on the params under the data lock: how the transfer assigns
    // its id, version and destination while works and logs may be reading.
    // change must not call back into this interface.
    void ChangeParams(const std::function<void(TransferParams&)>& change);

    // Where the transfer keeps each manifest once acquired (null clears it,
    // as when the transfer's data is replaced).
    void StorePackage(std::shared_ptr<PackageManifest> package);
    void StoreNodeList(std::shared_ptr<NodeListManifest> nodeList);
    void StoreGeolocation(std::shared_ptr<GeolocationManifest> geolocation);

    // What the index step of an update found in old content, stored before
    // any output file is opened; null when nothing was looked for.
    void StoreReusedContent(std::shared_ptr<ReusedContent> content);
    std::shared_ptr<ReusedContent> GetReusedContent();

private:
    mutable std::mutex dataMutex_;
    std::shared_ptr<PackageManifest> package_;
    std::shared_ptr<NodeListManifest> nodeList_;
    std::shared_ptr<GeolocationManifest> geolocation_;
    std::shared_ptr<ReusedContent> reused_;
};

}  // namespace vrexa
