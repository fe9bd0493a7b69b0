#pragma once

#include <memory>
#include <optional>
#include <string>

#include "http/RoundRobinSessionFactory.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferStatus.h"

namespace vrexa {

namespace http {
class CurlRequestFactory;
class RateLimiter;
namespace posix {
class ProxyFactoryImpl;
}  // namespace posix
}  // namespace http

namespace file {
class Filesystem;
}  // namespace file

template <typename M>
class ManifestStore;
class TransferManifest;
class ManifestTrust;
class XmlHttpPackageManifestFactory;
class XmlHttpNodeListManifestFactory;
class JsonHttpGeolocationManifestFactory;
class TransferWorkflowFactory;
class StoredTransferFactory;
class SelfStartingTransferFactory;
class TempFileTransferManager;
class TransferManager;
class ProportionalGamblingTransferOptimizer;
class JsonHttpAnalyticsManager;
class NullAnalyticsManager;
class JsonWorkLogManager;
class AsioWorkManager;
class TransferOperations;
namespace posix {
class FileDestinationLocks;
}  // namespace posix

// Builds every engine component exactly once, in the order of the members
// below (each may use those before it), hands them to every transfer through
// the two behaviours, and takes them down in the order that lets whatever is
// still running finish against live components: transfers suspended first,
// then the pools that run their works, then what those works report to, and
// the transfers and factories last. The core itself is the session factory.
class TransferServiceCore : public http::RoundRobinSessionFactory {
public:
    // The workflow factories make the download and the verification
    // workflows; owned from here on.
    TransferServiceCore(const TransferSettings& settings, std::unique_ptr<TransferWorkflowFactory> transferWorkflows,
                        std::unique_ptr<TransferWorkflowFactory> verifyWorkflows);
    // For tests: a file system of the caller's (not owned; it must outlive
    // the core) instead of the platform's.
    TransferServiceCore(const TransferSettings& settings, std::unique_ptr<TransferWorkflowFactory> transferWorkflows,
                        std::unique_ptr<TransferWorkflowFactory> verifyWorkflows, file::Filesystem* filesystem);
    ~TransferServiceCore() override;
    TransferServiceCore(const TransferServiceCore&) = delete;
    TransferServiceCore& operator=(const TransferServiceCore&) = delete;

    // Every client operation, under the main behaviour: stored transfers
    // running the download workflow, reporting analytics.
    TransferOperations& Operations() { return *operations_; }
    // A self-starting, never stored transfer under the verification
    // behaviour, in the same manager as every other.
    TransferStatus Verify(const std::string& partnerId, const std::string& packageId, const std::string& versionId,
                          const std::string& destPath);

    // The manager holding every transfer, for tests and tools that reach a
    // transfer itself.
    TransferManager& Manager();

    const TransferBehavior& GetBehavior() const { return *mainBehavior_; }
    const TransferBehavior& GetVerifyBehavior() const { return *verifyBehavior_; }

private:
    void WriteServiceInitialize();

    std::unique_ptr<http::posix::ProxyFactoryImpl> proxyFactory_;
    std::unique_ptr<http::CurlRequestFactory> requestFactory_;
    std::unique_ptr<file::Filesystem> ownFilesystem_;
    file::Filesystem* filesystem_;
    std::unique_ptr<XmlHttpPackageManifestFactory> packageManifestFactory_;
    std::unique_ptr<XmlHttpNodeListManifestFactory> nodeListManifestFactory_;
    std::unique_ptr<JsonHttpGeolocationManifestFactory> geolocationManifestFactory_;
    std::unique_ptr<ManifestTrust> manifestTrust_;
    std::unique_ptr<TransferWorkflowFactory> transferWorkflowFactory_;
    std::unique_ptr<TransferWorkflowFactory> verifyWorkflowFactory_;
    std::unique_ptr<ManifestStore<TransferManifest>> store_;
    std::unique_ptr<StoredTransferFactory> storedTransferFactory_;
    std::unique_ptr<SelfStartingTransferFactory> standardTransferFactory_;
    std::unique_ptr<TempFileTransferManager> manager_;
    std::unique_ptr<posix::FileDestinationLocks> destinationLocks_;
    std::unique_ptr<ProportionalGamblingTransferOptimizer> optimizer_;
    // Null without a rate limit.
    std::unique_ptr<http::RateLimiter> rateLimiter_;
    std::unique_ptr<JsonHttpAnalyticsManager> analyticsEventManager_;
    std::unique_ptr<NullAnalyticsManager> nullEventManager_;
    std::unique_ptr<JsonWorkLogManager> logManager_;
    std::unique_ptr<AsioWorkManager> auxiliaryWorkManager_;
    std::unique_ptr<AsioWorkManager> transferWorkManager_;
    std::optional<TransferBehavior> mainBehavior_;
    std::optional<TransferBehavior> verifyBehavior_;
    std::unique_ptr<TransferOperations> operations_;
};

}  // namespace vrexa
