#include "service/TransferServiceCore.h"

#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonHttpAnalyticsManager.h"
#include "analytics/JsonWorkLogManager.h"
#include "analytics/LogManager.h"
#include "analytics/NullAnalyticsManager.h"
#include "analytics/TrackEventWork.h"
#include "file/posix/FilesystemImpl.h"
#include "http/CurlRequestFactory.h"
#include "http/RateLimiter.h"
#include "http/posix/ProxyFactoryImpl.h"
#include "manifest/JsonHttpGeolocationManifestFactory.h"
#include "manifest/ManifestTrust.h"
#include "manifest/XmlHttpNodeListManifestFactory.h"
#include "manifest/XmlHttpPackageManifestFactory.h"
#include "optimizer/ProportionalGamblingTransferOptimizer.h"
#include "service/SelfStartingTransfer.h"
#include "service/StoredTransferFactory.h"
#include "service/TempFileTransferManager.h"
#include "service/TransferOperations.h"
#include "transfer/ManifestStore.h"
#include "transfer/OsVersion.h"
#include "transfer/TransferManifest.h"
#include "transfer/TransferParams.h"
#include "transfer/posix/FileDestinationLocks.h"
#include "work/AsioWorkManager.h"
#include "work/TransferWorkflowFactory.h"

namespace vrexa {

namespace {

// A pool without threads would never run what is posted to it: a count below
// one is taken as one.
unsigned Threads(int count) { return count > 1 ? static_cast<unsigned>(count) : 1u; }

// Empty when there is no temporary folder: the store then refuses every
// signed document rather than forget the serials it has seen.
std::string SignatureSerialsPath(file::Filesystem& filesystem, const std::string& file) {
    const std::string temp = filesystem.GetTempFolder();
    return temp.empty() ? std::string() : temp + "/" + file;
}

}  // namespace

TransferServiceCore::TransferServiceCore(const TransferSettings& settings,
                                         std::unique_ptr<TransferWorkflowFactory> transferWorkflows,
                                         std::unique_ptr<TransferWorkflowFactory> verifyWorkflows)
    : TransferServiceCore(settings, std::move(transferWorkflows), std::move(verifyWorkflows), nullptr) {}

TransferServiceCore::TransferServiceCore(const TransferSettings& settings,
                                         std::unique_ptr<TransferWorkflowFactory> transferWorkflows,
                                         std::unique_ptr<TransferWorkflowFactory> verifyWorkflows,
                                         file::Filesystem* filesystem)
    : proxyFactory_(
          std::make_unique<http::posix::ProxyFactoryImpl>(settings.proxyResolveTimeout, settings.proxyConnectTimeout,
                                                          settings.proxySendTimeout, settings.proxyReceiveTimeout)),
      requestFactory_(std::make_unique<http::CurlRequestFactory>(
          *proxyFactory_, http::TlsSettings{http::ChooseCaFile(settings.caFile)})),
      ownFilesystem_(filesystem == nullptr ? std::make_unique<file::posix::FilesystemImpl>() : nullptr),
      filesystem_(filesystem == nullptr ? ownFilesystem_.get() : filesystem),
      packageManifestFactory_(std::make_unique<XmlHttpPackageManifestFactory>(
          settings.manifestHost, *requestFactory_, settings.manifestConnectTimeout, settings.manifestTimeout)),
      nodeListManifestFactory_(std::make_unique<XmlHttpNodeListManifestFactory>(
          settings.manifestHost, *requestFactory_, settings.manifestConnectTimeout, settings.manifestTimeout)),
      geolocationManifestFactory_(std::make_unique<JsonHttpGeolocationManifestFactory>(
          settings.geolocationUrl, *requestFactory_, settings.geolocationConnectTimeout, settings.geolocationTimeout)),
      manifestTrust_(std::make_unique<ManifestTrust>(
          settings.trustedKeys, SignatureSerialsPath(*filesystem_, settings.signatureSerialsFile))),
      transferWorkflowFactory_(std::move(transferWorkflows)),
      verifyWorkflowFactory_(std::move(verifyWorkflows)),
      store_(std::make_unique<JsonTempFileManifestStore<TransferManifest>>(settings.transfersFolder, *filesystem_)),
      storedTransferFactory_(std::make_unique<StoredTransferFactory>(store_.get(), transferWorkflowFactory_.get())),
      standardTransferFactory_(std::make_unique<SelfStartingTransferFactory>(verifyWorkflowFactory_.get())),
      manager_(std::make_unique<TempFileTransferManager>(store_.get())),
      destinationLocks_(std::make_unique<posix::FileDestinationLocks>(*filesystem_, settings.locksFolder)),
      optimizer_(std::make_unique<ProportionalGamblingTransferOptimizer>(settings)),
      // One limiter for every transfer: the updater's package and skin share
      // the user's link as one download does.
      rateLimiter_(settings.rateLimit > 0 ? std::make_unique<http::RateLimiter>(settings.rateLimit) : nullptr),
      analyticsEventManager_(std::make_unique<JsonHttpAnalyticsManager>(*requestFactory_, CreateSession(), settings)),
      nullEventManager_(std::make_unique<NullAnalyticsManager>()),
      logManager_(std::make_unique<JsonWorkLogManager>(settings.logMask, settings.logsFolder, filesystem_)),
      // Removing a cancelled transfer's files must not be cut short by the
      // end of the process; a download that has not begun may be.
      auxiliaryWorkManager_(std::make_unique<AsioWorkManager>(Threads(settings.auxiliaryThreads), true)),
      transferWorkManager_(std::make_unique<AsioWorkManager>(Threads(settings.transferThreads), false)) {
    TransferBehavior behavior(settings);
    behavior.sessionFactory = this;
    behavior.requestFactory = requestFactory_.get();
    behavior.filesystem = filesystem_;
    behavior.packageManifestFactory = packageManifestFactory_.get();
    behavior.nodeListManifestFactory = nodeListManifestFactory_.get();
    behavior.geolocationManifestFactory = geolocationManifestFactory_.get();
    behavior.optimizer = optimizer_.get();
    behavior.rateLimiter = rateLimiter_.get();
    behavior.manifestTrust = manifestTrust_.get();
    behavior.logManager = logManager_.get();
    behavior.auxiliaryWorkManager = auxiliaryWorkManager_.get();
    behavior.transferWorkManager = transferWorkManager_.get();

    mainBehavior_.emplace(behavior);
    mainBehavior_->transferFactory = storedTransferFactory_.get();
    mainBehavior_->destinationLocks = destinationLocks_.get();
    // A client that switched analytics off gets the null manager: the log
    // still records every event, but no document leaves the machine.
    mainBehavior_->eventManager = settings.analyticsEnabled
                                      ? static_cast<AnalyticsManager*>(analyticsEventManager_.get())
                                      : nullEventManager_.get();
    verifyBehavior_.emplace(behavior);
    verifyBehavior_->transferFactory = standardTransferFactory_.get();
    verifyBehavior_->eventManager = nullEventManager_.get();
    operations_ = std::make_unique<TransferOperations>(*manager_, *mainBehavior_);

    WriteServiceInitialize();
}

TransferServiceCore::~TransferServiceCore() {
    // Every transfer suspended (or cancelled, when never stored) while all
    // it reports to is still here.
    try {
        manager_->Shutdown();
    } catch (...) {
    }
    operations_.reset();
    verifyBehavior_.reset();
    mainBehavior_.reset();
    // Works still running finish against live transfers and report to the
    // log and event managers, so the pools go before those.
    transferWorkManager_.reset();
    // Finishes pending removals of cancelled transfers' files.
    auxiliaryWorkManager_.reset();
    // Both drain their queues: every record and document raised so far goes out.
    logManager_.reset();
    nullEventManager_.reset();
    analyticsEventManager_.reset();
    optimizer_.reset();
    rateLimiter_.reset();
    manager_.reset();
    standardTransferFactory_.reset();
    storedTransferFactory_.reset();
    store_.reset();
    verifyWorkflowFactory_.reset();
    transferWorkflowFactory_.reset();
    geolocationManifestFactory_.reset();
    nodeListManifestFactory_.reset();
    packageManifestFactory_.reset();
    ownFilesystem_.reset();
    requestFactory_.reset();
    proxyFactory_.reset();
}

void TransferServiceCore::WriteServiceInitialize() {
    try {
        std::shared_ptr<TrackEventWork> work = logManager_->CreateEventWork(static_cast<int>(kLogEventKind));
        AddJsonValue(work->GetTree(), "event", "ServiceInitialize");
        AddJsonValue(work->GetTree(), "vrexaVersion", kEngineVersion);
        AddJsonValue(work->GetTree(), "osVersion", GetOsVersion());
        logManager_->TrackEvent(std::move(work));
    } catch (...) {
        // A log that cannot be written never stops the service.
    }
}

TransferManager& TransferServiceCore::Manager() { return *manager_; }

TransferStatus TransferServiceCore::Verify(const std::string& partnerId, const std::string& packageId,
                                           const std::string& versionId, const std::string& destPath) {
    TransferParams params;
    params.partnerId = partnerId;
    params.packageId = packageId;
    params.versionId = versionId;
    // Stored as it will be compared and used; an empty path names no folder.
    params.destPath = destPath.empty() ? "?" : StandardTransfer::NormalizeDestination(destPath);
    return operations_->Create(params, *verifyBehavior_);
}

}  // namespace vrexa
