#include "service/StandardTransfer.h"

#include <optional>
#include <utility>

#include <boost/filesystem/path.hpp>
#include <boost/property_tree/ptree.hpp>

#include "analytics/JsonWriter.h"
#include "analytics/TransferCallEvent.h"
#include "analytics/TransferEvent.h"
#include "file/Filesystem.h"
#include "http/SessionFactory.h"
#include "manifest/FileManifest.h"
#include "manifest/GeolocationManifest.h"
#include "manifest/NodeListManifest.h"
#include "manifest/NodeManifest.h"
#include "manifest/NodeStatistics.h"
#include "manifest/PackageManifest.h"
#include "optimizer/TransferOptimizer.h"
#include "service/StandardTransferData.h"
#include "service/StandardTransferWorkInterface.h"
#include "transfer/DestinationLocks.h"
#include "transfer/TransferStatusData.h"
#include "work/TransferWorkflowFactory.h"
#include "work/WorkManager.h"
#include "work/Workflow.h"
#include "work/WorkStatus.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"
#include "transfer/OsVersion.h"

namespace vrexa {

namespace {

bool IsPlaceholder(const std::string& path) { return path == "?"; }

// The manifest a successful initialization work hands over, or null when the
// data is of another kind or carries none.
template <class Data, class Manifest>
std::shared_ptr<Manifest> Acquired(const WorkStatusData* data, const std::shared_ptr<Manifest>& (Data::*get)() const) {
    auto* acquired = dynamic_cast<const Data*>(data);
    return acquired != nullptr ? (acquired->*get)() : nullptr;
}

}  // namespace

StandardTransfer::StandardTransfer(const TransferParams& params, const TransferBehavior& behavior,
                                   TransferWorkflowFactory* workflowFactory)
    : workflowFactory_(workflowFactory) {
    TransferLock lock(mutex_);
    data_ = std::make_shared<StandardTransferData>(params, behavior);
    interface_ = std::make_shared<StandardTransferWorkInterface>(this, data_);
    EnsureWorkflow(lock);
    if (params.restored) SetState(TransferState::Suspended);
}

StandardTransfer::~StandardTransfer() {
    // Late works keep the interface alive; they must never reach this object.
    std::vector<std::shared_ptr<StandardTransferWorkInterface>> interfaces;
    std::shared_ptr<Workflow> workflow;
    {
        TransferLock lock(mutex_);
        interfaces.push_back(interface_);
        for (const auto& retired : retired_)
            if (auto alive = retired.lock()) interfaces.push_back(std::move(alive));
        workflow = std::move(workflow_);
    }
    for (const auto& workInterface : interfaces)
        workInterface->DeactivateAndWait();
    if (workflow) {
        try {
            workflow->Pause();
        } catch (...) {
        }
    }
}

// ---- helpers -------------------------------------------------------------

TransferState StandardTransfer::State() const { return data_->status.Record().state; }

TransferError StandardTransfer::Error() const { return data_->status.Record().error; }

bool StandardTransfer::IsFinal() const { return data_->status.Record().IsFinal(); }

void StandardTransfer::SetState(TransferState state) { data_->status.Record().state = state; }

bool StandardTransfer::IsInitializing() const {
    return State() == TransferState::Initializing || State() == TransferState::InitializePaused;
}

void StandardTransfer::PauseAndReleaseWorkflow() {
    std::shared_ptr<Workflow> workflow = std::move(workflow_);
    if (workflow) workflow->Pause();
    destinationLock_.reset();
}

bool StandardTransfer::LockDestination(TransferLock& lock, const std::string& destPath) {
    DestinationLocks* locks = data_->behavior.destinationLocks;
    if (locks == nullptr || destinationLock_) return true;
    try {
        destinationLock_ = locks->Acquire(destPath, data_->params.transferId);
        return true;
    } catch (const DestinationInUse& busy) {
        Fail(lock, std::string("Transfer::Start found ") + busy.what(), TransferError::FileAccessError);
    } catch (const std::exception& error) {
        Fail(lock, std::string("Transfer::Start: ") + error.what(), TransferError::FileAccessError);
    }
    return false;
}

void StandardTransfer::SetFinalState(TransferState state) {
    SetState(state);
    PauseAndReleaseWorkflow();
}

void StandardTransfer::Fail(TransferLock& lock, const std::string& message, TransferError error) {
    TransferStatus& record = data_->status.Record();
    record.error = error;
    record.retrying = false;
    record.message = message;
    record.facts = {};
    auto errorData = std::make_shared<TransferErrorData>(error, message);
    Queue(lock, std::make_shared<TransferFatalErrorEvent>(interface_->GetParams(), data_->behavior,
                                                          Capture(EventProgress::With), errorData.get()));
    // Released first: cancelling reports to the root's callbacks, which come
    // back here and must find the status final and no workflow.
    std::shared_ptr<Workflow> workflow = std::move(workflow_);
    if (workflow) workflow->Cancel(WorkStatus(WorkResult::FatalError, errorData));
    destinationLock_.reset();
}

void StandardTransfer::EnsureWorkflow(TransferLock& lock) {
    if (workflow_ || workflowFactory_ == nullptr) return;
    try {
        workflow_ = workflowFactory_->CreateWorkflow(interface_);
        if (workflow_) workflow_->AddRetryableErrorCallback(interface_.get());
    } catch (...) {
        workflow_.reset();
    }
    if (!workflow_) Fail(lock, "Transfer could not create its workflow", TransferError::Unknown);
}

TransferEventCapture StandardTransfer::Capture(EventProgress progress) {
    TransferEventCapture capture;
    capture.nodeList = interface_->GetNodeList();
    capture.osVersion = GetOsVersion();
    if (progress == EventProgress::With) {
        capture.state = State();
        capture.downloadedDelta = data_->status.TakeDownloadedDelta();
        capture.activeTimeDelta = data_->status.TakeActiveTimeDelta();
    }
    return capture;
}

void StandardTransfer::Queue(TransferLock& lock, std::shared_ptr<TransferEvent> event) {
    lock.Defer([event = std::move(event)] { event->Raise(); });
}

template <class Event>
void StandardTransfer::QueueEvent(TransferLock& lock, EventProgress progress) {
    Queue(lock, std::make_shared<Event>(interface_->GetParams(), data_->behavior, Capture(progress)));
}

TransferParams StandardTransfer::GetParams(TransferLock&) { return interface_->GetParams(); }

TransferState StandardTransfer::GetState(TransferLock&) const { return State(); }

std::string StandardTransfer::NormalizeDestination(const std::string& destPath) {
    if (destPath.empty() || IsPlaceholder(destPath)) return destPath;
    boost::filesystem::path path = file::Filesystem::ToPath(destPath).lexically_normal();
    // "a/b/" normalizes to "a/b/."; the folder is "a/b".
    while (path.filename() == "." && path.has_parent_path() && path.parent_path() != path)
        path = path.parent_path();
    return file::Filesystem::ToUtf8(path);
}

std::size_t StandardTransfer::RetiredRuns() {
    TransferLock lock(mutex_);
    return retired_.size();
}

// ---- public operations: take the lock, run the locked variant -------------

TransferStatus StandardTransfer::Initialize() {
    TransferLock lock(mutex_);
    return Initialize(lock);
}

TransferStatus StandardTransfer::Start(const std::string& destPath) {
    TransferLock lock(mutex_);
    return Start(lock, destPath);
}

TransferStatus StandardTransfer::Cancel(bool removeFiles) {
    TransferLock lock(mutex_);
    return Cancel(lock, removeFiles);
}

TransferStatus StandardTransfer::Pause() {
    TransferLock lock(mutex_);
    return Pause(lock);
}

TransferStatus StandardTransfer::Resume() {
    TransferLock lock(mutex_);
    return Resume(lock);
}

TransferStatus StandardTransfer::Retry() {
    TransferLock lock(mutex_);
    return Retry(lock);
}

TransferStatus StandardTransfer::Suspend() {
    TransferLock lock(mutex_);
    return Suspend(lock);
}

TransferStatus StandardTransfer::Restore() {
    TransferLock lock(mutex_);
    return Restore(lock);
}

std::shared_ptr<TransferWorkInterface> StandardTransfer::GetWorkInterface() {
    TransferLock lock(mutex_);
    return interface_;
}

// ---- client operations -----------------------------------------------------

TransferStatus StandardTransfer::GetStatus(TransferLock&) { return data_->status.GetStatus(); }

TransferStatus StandardTransfer::Initialize(TransferLock& lock) {
    if (State() == TransferState::Initializing && Error() == TransferError::None && workflow_ && workflow_->Start())
        QueueEvent<TransferInitializeEvent>(lock, EventProgress::Without);
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Start(TransferLock& lock, const std::string& destPath) {
    const std::string requested = NormalizeDestination(destPath);
    const std::string current = data_->params.destPath;
    // Exactly one of the two names a folder, or both name the same one.
    const bool acceptable = requested.empty() ? false
                            : IsPlaceholder(current) != IsPlaceholder(requested)
                                ? true
                                : !IsPlaceholder(current) && current == requested;
    if (!acceptable || State() != TransferState::Initialized || Error() != TransferError::None || !workflow_)
        return GetStatus(lock);
    // Nothing is written before the destination is ours alone.
    if (!LockDestination(lock, IsPlaceholder(current) ? requested : current)) return GetStatus(lock);
    if (IsPlaceholder(current)) interface_->ChangeParams([&](TransferParams& params) { params.destPath = requested; });
    SetState(TransferState::Transferring);
    workflow_->Resume();
    QueueEvent<TransferStartEvent>(lock, EventProgress::With);
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Pause(TransferLock& lock) {
    const TransferState state = State();
    if ((state == TransferState::Initializing || state == TransferState::Transferring) && workflow_ &&
        workflow_->Pause()) {
        SetState(state == TransferState::Initializing ? TransferState::InitializePaused : TransferState::Paused);
        QueueEvent<TransferPauseEvent>(lock, EventProgress::Without);
    }
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Resume(TransferLock& lock) {
    const TransferState state = State();
    if ((state == TransferState::InitializePaused || state == TransferState::Paused) && workflow_ &&
        workflow_->Resume()) {
        SetState(state == TransferState::InitializePaused ? TransferState::Initializing : TransferState::Transferring);
        QueueEvent<TransferResumeEvent>(lock, EventProgress::Without);
    }
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Retry(TransferLock& lock) {
    TransferStatus& record = data_->status.Record();
    if (record.error == TransferError::None || !record.retrying) return GetStatus(lock);
    // A network failure may have left the session's connections broken.
    if (record.error == TransferError::NetworkError && data_->behavior.sessionFactory != nullptr)
        interface_->SetSession(data_->behavior.sessionFactory->CreateSession());
    if (workflow_ && workflow_->Retry()) {
        record.error = TransferError::None;
        record.retrying = false;
        record.message.clear();
        record.facts = {};
        QueueEvent<TransferRetryEvent>(lock, EventProgress::Without);
    }
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Suspend(TransferLock& lock) {
    const TransferState state = State();
    const bool neverStored =
        !data_->params.restored && (state == TransferState::Initializing || state == TransferState::InitializePaused ||
                                    state == TransferState::Initialized);
    if (neverStored) return Cancel(lock, false);
    const bool complete = state == TransferState::Complete && Error() == TransferError::None;
    if (IsFinal() && !complete) return GetStatus(lock);

    // The event reports the run that ends here, so it is built from the old data.
    std::shared_ptr<TransferEvent> event;
    if (!complete) {
        TransferEventCapture capture = Capture(EventProgress::With);
        capture.state = TransferState::Suspended;
        TransferParams params = interface_->GetParams();
        params.restored = true;
        event = std::make_shared<TransferSuspendEvent>(params, data_->behavior, std::move(capture));
    }
    TransferParams params = interface_->GetParams();
    params.restored = true;
    interface_->Deactivate();
    // Suspend and Restore may alternate for as long as a client likes: keep
    // only the interfaces that late works still hold.
    std::erase_if(retired_, [](const auto& retired) { return retired.expired(); });
    retired_.push_back(interface_);
    data_ = std::make_shared<StandardTransferData>(params, data_->behavior);
    interface_ = std::make_shared<StandardTransferWorkInterface>(this, data_);
    SetFinalState(TransferState::Suspended);
    if (event) Queue(lock, std::move(event));
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Restore(TransferLock& lock) {
    if (State() != TransferState::Suspended || Error() != TransferError::None) return GetStatus(lock);
    EnsureWorkflow(lock);
    if (!workflow_) return GetStatus(lock);
    // Set first: a workflow may report from inside Start.
    SetState(TransferState::Initializing);
    if (workflow_->Start()) QueueEvent<TransferRestoreEvent>(lock, EventProgress::With);
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Cancel(TransferLock& lock, bool removeFiles) {
    const bool keptForLater = State() == TransferState::Suspended && Error() == TransferError::None;
    if (removeFiles && !keptForLater) {
        data_->removeRequested = true;
        RemoveOutputFiles(lock);
    }
    if (!IsFinal()) {
        SetFinalState(TransferState::Cancelled);
        QueueEvent<TransferCancelEvent>(lock, EventProgress::With);
    }
    return GetStatus(lock);
}

TransferStatus StandardTransfer::Update() {
    TransferLock lock(mutex_);
    TransferStatus status = GetStatus(lock);
    const std::uint64_t activeTime = data_->status.GetActiveTime();
    const std::uint64_t interval = static_cast<std::uint64_t>(data_->behavior.periodicEventInterval) * 1000u;
    if (activeTime - data_->periodicMark > interval) {
        data_->periodicMark = activeTime;
        TransferEventCapture capture = Capture(EventProgress::With);
        Queue(lock,
              std::make_shared<TransferPeriodicEvent>(interface_->GetParams(), data_->behavior, std::move(capture)));
    }
    return status;
}

// ---- output files ------------------------------------------------------------

void StandardTransfer::RemoveOutputFiles(TransferLock& lock) {
    std::vector<std::string> files(data_->outputFiles.begin(), data_->outputFiles.end());
    data_->outputFiles.clear();
    if (files.empty()) return;
    file::Filesystem* filesystem = data_->behavior.filesystem;
    const std::string destPath = data_->params.destPath;
    if (filesystem == nullptr || IsPlaceholder(destPath)) return;
    auto removal = [filesystem, destPath, files = std::move(files), held = destinationLock_] {
        for (const std::string& path : files) {
            try {
                filesystem->RemoveAndPrune(destPath, path, true);
            } catch (...) {
                // A file that cannot be removed stays; the others still go.
            }
        }
    };
    if (data_->behavior.auxiliaryWorkManager != nullptr)
        data_->behavior.auxiliaryWorkManager->Post(std::move(removal));
    else
        lock.Defer(std::move(removal));
}

void StandardTransfer::RemoveOutputFile(TransferLock& lock, const std::string& relativePath) {
    file::Filesystem* filesystem = data_->behavior.filesystem;
    const std::string destPath = data_->params.destPath;
    if (filesystem == nullptr || IsPlaceholder(destPath)) return;
    lock.Defer([filesystem, destPath, relativePath] { filesystem->RemoveAndPrune(destPath, relativePath, true); });
}

void StandardTransfer::OnOutputFile(TransferLock& lock, const std::string& relativePath) {
    if (data_->removeRequested)
        RemoveOutputFile(lock, relativePath);
    else
        data_->outputFiles.insert(relativePath);
}

// ---- work callbacks ------------------------------------------------------------

void StandardTransfer::OnPackageAcquire(TransferLock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IsFinal() || status.result != WorkResult::Success) return;
    if (!IsInitializing())
        return Fail(lock, "Transfer::OnPackageAcquire called but transfer is not initializing", TransferError::Unknown);
    std::shared_ptr<PackageManifest> package = Acquired(status.data.get(), &PackageStatusData::GetPackage);
    if (!package)
        return Fail(lock, "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null",
                    TransferError::Unknown);
    const TransferParams& params = data_->params;
    // A fixed version answered by another version is as wrong as another package.
    const bool versionMatches = params.versionId == "?" || params.versionId == package->GetVersionId();
    if (package->GetPartnerId() != params.partnerId || package->GetId() != params.packageId || !versionMatches)
        return Fail(lock, "Transfer::OnPackageAcquire called but package does not match ids",
                    TransferError::RequestRejected);
    const std::string versionId = package->GetVersionId();
    interface_->StorePackage(std::move(package));
    interface_->ChangeParams([&](TransferParams& changed) { changed.versionId = versionId; });
}

void StandardTransfer::OnNodeListAcquire(TransferLock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IsFinal() || status.result != WorkResult::Success) return;
    if (!IsInitializing())
        return Fail(lock, "Transfer::OnNodeListAcquire called but transfer is not initializing",
                    TransferError::Unknown);
    std::shared_ptr<NodeListManifest> nodeList = Acquired(status.data.get(), &NodeListStatusData::GetNodeList);
    if (!nodeList)
        return Fail(lock, "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is null",
                    TransferError::Unknown);
    interface_->StoreNodeList(std::move(nodeList));
}

void StandardTransfer::OnGeolocation(TransferLock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IsFinal() || status.result != WorkResult::Success) return;
    if (!IsInitializing())
        return Fail(lock, "Transfer::OnGeolocation called but transfer is not initializing", TransferError::Unknown);
    std::shared_ptr<GeolocationManifest> geolocation =
        Acquired(status.data.get(), &GeolocationStatusData::GetGeolocation);
    if (!geolocation)
        return Fail(lock, "Transfer::OnGeolocation called but data is not GeolocationStatusData or geolocation is null",
                    TransferError::Unknown);
    interface_->StoreGeolocation(std::move(geolocation));
}

void StandardTransfer::OnInitialize(TransferLock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IsFinal() || status.result != WorkResult::Success) return;
    if (!IsInitializing())
        return Fail(lock, "Transfer::OnInitialize called but transfer is not initializing", TransferError::Unknown);
    std::shared_ptr<PackageManifest> package = interface_->GetPackage();
    if (!package) return Fail(lock, "Transfer::OnInitialize called but package is missing", TransferError::Unknown);
    if (!interface_->GetNodeList())
        return Fail(lock, "Transfer::OnInitialize called but nodelist is missing", TransferError::Unknown);
    if (!interface_->GetGeolocation())
        return Fail(lock, "Transfer::OnInitialize called but geolocation is missing", TransferError::Unknown);
    SetState(TransferState::Initialized);
    data_->status.SetPackage(*package);
    // The download waits for Start and its destination.
    if (workflow_) workflow_->Pause();
    QueueEvent<TransferInitializeCompleteEvent>(lock, EventProgress::Without);
}

void StandardTransfer::OnWorkComplete(TransferLock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IsFinal() || status.result == WorkResult::Cancelled || status.result == WorkResult::RetryableError) return;
    if (status.result == WorkResult::Success) {
        const TransferState state = State();
        const std::uint64_t completed = data_->status.GetCompletedBytes();
        const std::uint64_t verified = data_->status.GetVerifiedBytes();
        const std::uint64_t total = data_->status.Record().totalBytes;
        std::shared_ptr<PackageManifest> package = interface_->GetPackage();
        const bool complete = (state == TransferState::Transferring || state == TransferState::Paused) &&
                              Error() == TransferError::None && completed == total && verified == total && package &&
                              package->GetTotalSize() == completed;
        if (!complete)
            return Fail(lock, "Transfer::OnWorkComplete called with Success result but progress is not complete",
                        TransferError::Unknown);
        SetFinalState(TransferState::Complete);
        QueueEvent<TransferCompleteEvent>(lock, EventProgress::With);
        return;
    }
    auto* data = dynamic_cast<const TransferStatusData*>(status.data.get());
    if (data == nullptr)
        return Fail(lock, "Transfer::OnWorkComplete called with error result but data is not TransferStatusData",
                    TransferError::Unknown);
    const TransferError error = data->ToTransferError();
    if (error == TransferError::None)
        return Fail(lock, "Transfer::OnWorkComplete called with error result but data->ToTransferError() is None",
                    TransferError::Unknown);
    TransferStatus& record = data_->status.Record();
    record.error = error;
    record.retrying = false;
    record.message = data->Explain();
    record.facts = data->Facts();
    PauseAndReleaseWorkflow();
    Queue(lock, std::make_shared<TransferFatalErrorEvent>(interface_->GetParams(), data_->behavior,
                                                          Capture(EventProgress::With), status.data.get()));
}

void StandardTransfer::OnWorkflowRetryableError(TransferLock& lock, std::shared_ptr<Workflow> workflow,
                                                std::shared_ptr<Work>, const WorkStatus& status) {
    if (IsFinal() || Error() != TransferError::None) return;
    if (workflow != workflow_)
        return Fail(lock, "Transfer::OnWorkflowRetryableError called on wrong workflow", TransferError::Unknown);
    if (status.result != WorkResult::RetryableError || status.retry)
        return Fail(lock, "Transfer::OnWorkflowRetryableError called with incorrect status", TransferError::Unknown);
    auto* data = dynamic_cast<const TransferStatusData*>(status.data.get());
    if (data == nullptr)
        return Fail(lock, "Transfer::OnWorkflowRetryableError called with invalid data", TransferError::Unknown);
    const TransferError error = data->ToTransferError();
    if (error == TransferError::None)
        return Fail(lock, "Transfer::OnWorkflowRetryableError called with TransferError::None", TransferError::Unknown);
    TransferStatus& record = data_->status.Record();
    record.error = error;
    record.retrying = true;
    record.message = data->Explain();
    record.facts = data->Facts();
    Queue(lock, std::make_shared<TransferRetryableErrorEvent>(interface_->GetParams(), data_->behavior,
                                                              Capture(EventProgress::With), status.data.get()));
}

// ---- queries -------------------------------------------------------------------

bool StandardTransfer::CanTransferTo(const std::string& destPath) {
    TransferLock lock(mutex_);
    std::shared_ptr<PackageManifest> package = interface_->GetPackage();
    file::Filesystem* filesystem = data_->behavior.filesystem;
    if (State() != TransferState::Initialized || !package || filesystem == nullptr) return false;
    std::uint64_t total = data_->status.Record().totalBytes;
    std::uint64_t free = 0;
    std::uint64_t present = 0;
    bool answer = false;
    try {
        // A destination not made yet will be made on the nearest existing
        // folder's volume.
        boost::filesystem::path existing = file::Filesystem::ToPath(destPath);
        while (!filesystem->SafeExists(file::Filesystem::ToUtf8(existing)) && existing.has_parent_path() &&
               existing.parent_path() != existing)
            existing = existing.parent_path();
        free = filesystem->GetAvailableSpace(file::Filesystem::ToUtf8(existing));
        for (const auto& file : package->GetFiles())
            present += filesystem->SafeGetFileSize(
                file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(destPath, file->GetPath())));
        answer = total <= free || total - free <= present;
    } catch (...) {
        answer = false;
    }
    Queue(lock, std::make_shared<CanTransferToEvent>(interface_->GetParams(), data_->behavior, answer, destPath,
                                                     present, free, total));
    return answer;
}

namespace {

bool MayCompareWithPackage(TransferState state) {
    return state == TransferState::Initialized || state == TransferState::Complete || state == TransferState::Cancelled;
}

std::string NormalFileName(const boost::filesystem::path& path) {
    return file::Filesystem::ToUtf8(path.lexically_normal());
}

}  // namespace

bool StandardTransfer::IsSuperset(const std::string& path, bool ignoreHidden) {
    TransferLock lock(mutex_);
    std::shared_ptr<PackageManifest> package = interface_->GetPackage();
    file::Filesystem* filesystem = data_->behavior.filesystem;
    if (!MayCompareWithPackage(State()) || !package || filesystem == nullptr) return false;
    std::unordered_set<std::string> packageFiles;
    for (const auto& file : package->GetFiles())
        packageFiles.insert(NormalFileName(file::Filesystem::ResolvePath(path, file->GetPath())));
    bool answer = true;
    std::string failure;
    try {
        for (file::RecursiveDirectoryIterator entries = filesystem->IterateRecursive(path); !entries.AtEnd();
             ++entries) {
            const std::string entry = entries.Path();
            if (ignoreHidden && filesystem->IsHidden(entry)) {
                entries.DisableRecursionPending();
                continue;
            }
            const boost::filesystem::file_status type = entries->symlink_status();
            const bool unexpected =
                boost::filesystem::is_regular_file(type)
                    ? packageFiles.count(NormalFileName(file::Filesystem::ToPath(entry))) == 0
                    : !boost::filesystem::is_directory(type) || filesystem->IsDirectoryEmpty(entry, ignoreHidden);
            if (unexpected) {
                answer = false;
                failure = entry;
                break;
            }
        }
    } catch (...) {
        answer = false;
        failure = path;
    }
    Queue(lock, std::make_shared<IsSupersetEvent>(interface_->GetParams(), data_->behavior, answer, path, ignoreHidden,
                                                  failure));
    return answer;
}

bool StandardTransfer::IsSubset(const std::string& path, bool checkSizes) {
    TransferLock lock(mutex_);
    std::shared_ptr<PackageManifest> package = interface_->GetPackage();
    file::Filesystem* filesystem = data_->behavior.filesystem;
    if (!MayCompareWithPackage(State()) || !package || filesystem == nullptr) return false;
    bool answer = true;
    std::string failure;
    std::optional<std::uint64_t> actualSize;
    for (const auto& file : package->GetFiles()) {
        const std::string full = file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(path, file->GetPath()));
        if (!filesystem->SafeExists(full)) {
            answer = false;
            failure = file->GetPath();
            break;
        }
        if (checkSizes) {
            const std::uint64_t size = filesystem->SafeGetFileSize(full);
            if (size != file->GetSize()) {
                answer = false;
                failure = file->GetPath();
                actualSize = size;
                break;
            }
        }
    }
    Queue(lock, std::make_shared<IsSubsetEvent>(interface_->GetParams(), data_->behavior, answer, path, checkSizes,
                                                failure, actualSize));
    return answer;
}

std::string StandardTransfer::DescribeNodes() {
    TransferLock lock(mutex_);
    std::shared_ptr<NodeListManifest> nodeList = interface_->GetNodeList();
    if (!nodeList) return std::string();
    boost::property_tree::ptree tree;
    for (const auto& node : nodeList->GetNodes()) {
        std::shared_ptr<NodeStatistics> statistics = data_->behavior.optimizer != nullptr
                                                         ? data_->behavior.optimizer->GetStatistics(*node)
                                                         : node->GetStatistics();
        boost::property_tree::ptree described;
        if (statistics) statistics->Write(described);
        tree.push_back(boost::property_tree::ptree::value_type(node->GetHost(), std::move(described)));
    }
    if (tree.empty()) tree.put_value(kJsonEmptyObject);
    return ToJson(tree);
}

}  // namespace vrexa
