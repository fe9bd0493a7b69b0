#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/JsonWorkLogManager.h"
#include "file/posix/FilesystemImpl.h"
#include "manifest/GeolocationManifest.h"
#include "manifest/NodeListManifest.h"
#include "manifest/PackageManifest.h"
#include "tests/support/TestFolder.h"
#include "transfer/TransferStatusData.h"
#include "transfer/TransferWorkInterface.h"
#include "work/TransferWorkflowFactory.h"
#include "work/WorkStatus.h"
#include "work/Workflow.h"

namespace vrexa::testing {

using testsupport::TestFolder;

// The real file system, with the free space of every volume fixed (the one
// thing a test cannot arrange on a real disk) and the temporary folder inside
// the test's folder.
class TestFilesystem : public file::posix::FilesystemImpl {
public:
    explicit TestFilesystem(std::string tempFolder) : tempFolder_(std::move(tempFolder)) {}
    std::uint64_t GetAvailableSpace(const std::string& path) override;
    std::string GetTempFolder() override { return tempFolder_; }

    std::atomic<std::uint64_t> availableSpace{1ull << 40};
    // The last path asked for its free space.
    std::string AskedSpaceOf();

private:
    std::string tempFolder_;
    std::mutex mutex_;
    std::string askedSpaceOf_;
};

// The real log manager, but records are kept in memory instead of written, so
// a test sees which events a transfer raised, in order.
class RecordingLogManager : public JsonWorkLogManager {
public:
    explicit RecordingLogManager(file::Filesystem* filesystem);
    void TrackEvent(std::shared_ptr<TrackEventWork> work) override;
    // The "event" of every record so far, in order.
    std::vector<std::string> Events();
    // The records, as compact JSON.
    std::vector<std::string> Records();
    void Clear();
    // Runs inside every TrackEvent, on the raising thread.
    void OnTrack(std::function<void()> hook);

private:
    std::mutex mutex_;
    std::function<void()> onTrack_;
    std::vector<std::string> events_;
    std::vector<std::string> records_;
};

// A workflow whose answers a test sets; it records what the transfer asked of
// it. Cancel reports the status to the root's complete callback (the
// transfer), as a real workflow does.
class ScriptedWorkflow : public Workflow {
public:
    explicit ScriptedWorkflow(std::shared_ptr<TransferWorkInterface> transfer) : transfer_(std::move(transfer)) {}

    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override {}
    bool Start() override;
    bool Pause() override;
    bool Resume() override;
    bool Retry() override;
    WorkflowState GetState() override { return WorkflowState::Running; }
    bool IsStarted() override { return started_; }
    bool IsPaused() override { return false; }
    bool IsSuspended() override { return false; }
    bool IsFinished() override { return false; }
    bool Cancel(const WorkStatus& status) override;
    void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) override { callback_ = callback; }
    void QueueSimpleWork(std::shared_ptr<SimpleWork>) override {}
    void OnSimpleWorkComplete(std::shared_ptr<SimpleWork>, const WorkStatus&) override {}

    std::vector<std::string> Calls();
    // The status the transfer cancelled with (FatalError with its error data).
    WorkStatus CancelStatus();
    const std::shared_ptr<TransferWorkInterface>& GetTransfer() const { return transfer_; }
    WorkflowRetryableErrorCallback* GetRetryableErrorCallback() const { return callback_; }

    std::atomic<bool> pauseResult{true};
    std::atomic<bool> resumeResult{true};
    std::atomic<bool> retryResult{true};

private:
    void Record(const char* call);

    std::shared_ptr<TransferWorkInterface> transfer_;
    WorkflowRetryableErrorCallback* callback_ = nullptr;
    std::mutex mutex_;
    std::vector<std::string> calls_;
    WorkStatus cancelStatus_;
    bool started_ = false;
};

class ScriptedWorkflowFactory : public TransferWorkflowFactory {
public:
    std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface> transfer) override;
    std::shared_ptr<ScriptedWorkflow> Last();
    std::size_t Count();
    // Lets go of every workflow but the newest, as a real one goes once its
    // works have ended.
    void ForgetAllButLast();
    std::atomic<bool> fail{false};

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<ScriptedWorkflow>> workflows_;
};

// Manifests read from documents, as the sources hand them over.
std::shared_ptr<PackageManifest> MakePackage(const std::string& partnerId, const std::string& packageId,
                                             const std::string& versionId,
                                             const std::vector<std::pair<std::string, std::uint64_t>>& files);
std::shared_ptr<NodeListManifest> MakeNodeList(const std::vector<std::string>& hosts);
std::shared_ptr<GeolocationManifest> MakeGeolocation(const std::string& country);

WorkStatus Success(std::shared_ptr<WorkStatusData> data = nullptr);

// What a download workflow reports through a transfer's work interface: the
// three manifests and the end of initialization; every byte of the package
// downloaded and verified, then the root's success.
void ReportInitialized(const std::shared_ptr<TransferWorkInterface>& door, std::shared_ptr<PackageManifest> package);
void ReportComplete(const std::shared_ptr<TransferWorkInterface>& door, std::uint64_t totalBytes);

}  // namespace vrexa::testing
