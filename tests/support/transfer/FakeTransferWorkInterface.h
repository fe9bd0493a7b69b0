#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"
#include "work/WorkCompleteCallback.h"
#include "work/WorkStatus.h"
#include "work/WorkflowRetryableErrorCallback.h"

namespace vrexa::testsupport {

// Progress counters a test can read back.
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

// The calls a recording callback was given, oldest first, and a way to wait
// for them.
template <typename Call>
class CallLog {
public:
    void Add(Call call) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        changed_.notify_all();
    }

    std::vector<Call> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    // True once at least count calls arrived; false when timeout passes first.
    bool WaitForCalls(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return calls_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Call> calls_;
};

struct WorkCall {
    std::shared_ptr<Work> work;
    WorkStatus status;
};

// Records every report it is given and lets a test wait for them.
class RecordingWorkCallback : public WorkCompleteCallback, public CallLog<WorkCall> {
public:
    using Call = WorkCall;

    // Called (outside the recorder's lock) after each report is recorded;
    // set it before the works run.
    std::function<void(const std::shared_ptr<Work>&, const WorkStatus&)> onCall;

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;
};

struct RetryableErrorCall {
    std::shared_ptr<Workflow> workflow;
    std::shared_ptr<Work> work;
    WorkStatus status;
};

class RecordingRetryableErrorCallback : public WorkflowRetryableErrorCallback, public CallLog<RetryableErrorCall> {
public:
    using Call = RetryableErrorCall;

    void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override;
};

// A transfer for works under test: params and behaviour a test fills in,
// counting progress, and callbacks that record what the works report. The
// manifests are stored with the interface's own Store operations.
class FakeTransferWorkInterface : public TransferWorkInterface {
public:
    explicit FakeTransferWorkInterface(TransferParams params = {}, TransferBehavior behavior = {});

    TransferParams& Params() override { return params_; }
    const TransferParams& Params() const override { return params_; }
    TransferBehavior& GetBehavior() override { return behavior_; }
    std::shared_ptr<TransferProgressUpdater> GetProgress() override { return progress; }
    std::shared_ptr<http::Session> GetSession() override;
    WorkCompleteCallback& GetWorkCompleteCallback() override { return workComplete; }
    WorkCompleteCallback& GetPackageAcquireCallback() override { return packageAcquire; }
    WorkCompleteCallback& GetNodeListAcquireCallback() override { return nodeListAcquire; }
    WorkCompleteCallback& GetGeolocationCallback() override { return geolocation; }
    WorkCompleteCallback& GetInitializeCallback() override { return initialize; }
    WorkflowRetryableErrorCallback& GetRetryableErrorCallback() override { return retryableError; }
    void AddOutputFile(const std::string& relativePath) override;

    void SetSession(std::shared_ptr<http::Session> session);
    // The relative paths given to AddOutputFile, in order.
    std::vector<std::string> OutputFiles() const;

    const std::shared_ptr<CountingProgress> progress = std::make_shared<CountingProgress>();
    RecordingWorkCallback workComplete;
    RecordingWorkCallback packageAcquire;
    RecordingWorkCallback nodeListAcquire;
    RecordingWorkCallback geolocation;
    RecordingWorkCallback initialize;
    RecordingRetryableErrorCallback retryableError;

private:
    TransferParams params_;
    TransferBehavior behavior_;
    mutable std::mutex mutex_;
    std::shared_ptr<http::Session> session_;
    std::vector<std::string> outputFiles_;
};

}  // namespace vrexa::testsupport
