#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"
#include "work/WorkCallbacks.h"
#include "work/WorkStatus.h"
#include "work/WorkflowRetryableErrorCallback.h"

namespace vrexa::testing {

// Counts what the works report, as the transfer's status object would.
class CountingProgress : public TransferProgressUpdater {
public:
    void AddCompleted(std::uint64_t bytes) override { completed += bytes; }
    void SubtractCompleted(std::uint64_t bytes) override { completed -= bytes; }
    void AddVerified(std::uint64_t bytes) override { verified += bytes; }
    void AddDownloaded(std::uint64_t bytes) override { downloaded += bytes; }

    std::atomic<std::uint64_t> completed{0};
    std::atomic<std::uint64_t> verified{0};
    std::atomic<std::uint64_t> downloaded{0};
};

// A transfer as its works see it: it keeps what the fetching works acquire
// (as the real transfer's handlers do, through the interface's data lock),
// records every callback, and lets a test wait for the root's outcome or a
// suspension. Set params and behavior before any work runs.
class TestTransfer : public TransferWorkInterface {
public:
    TestTransfer();

    TransferParams& Params() override { return params; }
    const TransferParams& Params() const override { return params; }
    TransferBehavior& GetBehavior() override { return behavior; }
    std::shared_ptr<TransferProgressUpdater> GetProgress() override { return progress; }
    std::shared_ptr<http::Session> GetSession() override { return session; }
    WorkCompleteCallback& GetWorkCompleteCallback() override { return workComplete_; }
    WorkCompleteCallback& GetPackageAcquireCallback() override { return packageAcquire_; }
    WorkCompleteCallback& GetNodeListAcquireCallback() override { return nodeListAcquire_; }
    WorkCompleteCallback& GetGeolocationCallback() override { return geolocation_; }
    WorkCompleteCallback& GetInitializeCallback() override { return initialize_; }
    WorkflowRetryableErrorCallback& GetRetryableErrorCallback() override { return retryable_; }
    void AddOutputFile(const std::string& relativePath) override;

    void SetPackage(std::shared_ptr<PackageManifest> package) { StorePackage(std::move(package)); }
    void SetNodeList(std::shared_ptr<NodeListManifest> nodeList) { StoreNodeList(std::move(nodeList)); }
    void SetGeolocation(std::shared_ptr<GeolocationManifest> geolocation) { StoreGeolocation(std::move(geolocation)); }

    // The root's outcome once it came, waiting at most timeout; nothing when
    // it did not come in time.
    std::optional<WorkStatus> WaitForOutcome(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Waits for the root's outcome or a suspension of the workflow.
    bool WaitForEnd(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Waits until the package callback has seen a status with this result.
    bool WaitForPackageResult(WorkResult result, std::chrono::seconds timeout = std::chrono::seconds(30));

    std::optional<WorkStatus> Outcome();
    std::optional<WorkStatus> Initialized();
    std::optional<WorkStatus> Suspension();
    std::vector<std::string> OutputFiles();
    // Every status the package, node list and geolocation callbacks saw.
    std::vector<WorkStatus> PackageStatuses();
    std::vector<WorkStatus> GeolocationStatuses();

    TransferParams params;
    TransferBehavior behavior;
    std::shared_ptr<CountingProgress> progress = std::make_shared<CountingProgress>();
    std::shared_ptr<http::Session> session;

private:
    class RetryableCallback : public WorkflowRetryableErrorCallback {
    public:
        explicit RetryableCallback(TestTransfer& owner) : owner_(owner) {}
        void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                      const WorkStatus& status) override;

    private:
        TestTransfer& owner_;
    };

    void Record(std::optional<WorkStatus>& slot, const WorkStatus& status);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<WorkStatus> outcome_;
    std::optional<WorkStatus> initialized_;
    std::optional<WorkStatus> suspension_;
    std::vector<std::string> outputFiles_;
    std::vector<WorkStatus> packageStatuses_;
    std::vector<WorkStatus> geolocationStatuses_;
    WorkCompleteCallbackRoute workComplete_;
    WorkCompleteCallbackRoute packageAcquire_;
    WorkCompleteCallbackRoute nodeListAcquire_;
    WorkCompleteCallbackRoute geolocation_;
    WorkCompleteCallbackRoute initialize_;
    RetryableCallback retryable_{*this};
};

}  // namespace vrexa::testing
