#pragma once

#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "work/Workflow.h"
#include "work/WorkStatus.h"

namespace vrexa {

class Work;
class WorkManager;

// The workflow of the engine. It keeps the ready simple works in a heap ordered
// by priority path (smallest first), posts at most maxRunning of them at a time
// to its work manager, and routes their outcomes:
//
//                 Start
//   NotStarted ----------> Running <------ Retry ------- Suspended
//                          |  ^  \                        ^  |
//                    Pause |  | Resume \ unretried        |  | Pause
//                          v  |         \ RetryableError--+  v
//                          Paused ---- unretried ----> PausedSuspended
//                             ^        RetryableError         |
//                             +----------- Retry -------------+
//
//   FatalError from any work, or a final Success/Failure of the root:
//   any started state -> Finished.  Cancel: any state -> Cancelled.
//
// A workflow runs once; nothing is queued or dispatched when it is finished.
class StandardWorkflow : public Workflow, public std::enable_shared_from_this<StandardWorkflow> {
public:
    StandardWorkflow(std::shared_ptr<Work> root, WorkManager* workManager, int maxRunning);
    StandardWorkflow(const StandardWorkflow&) = delete;
    StandardWorkflow& operator=(const StandardWorkflow&) = delete;
    ~StandardWorkflow() override;

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;
    // Rethrows what the root throws while queueing its works, and is then
    // still NotStarted with nothing queued (unless cancelled meanwhile).
    bool Start() override;
    bool Pause() override;
    bool Resume() override;
    bool Retry() override;
    WorkflowState GetState() override;
    bool IsStarted() override;
    bool IsPaused() override;
    bool IsSuspended() override;
    bool IsFinished() override;
    bool Cancel(const WorkStatus& status) override;
    void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) override;
    void QueueSimpleWork(std::shared_ptr<SimpleWork> work) override;
    void OnSimpleWorkComplete(std::shared_ptr<SimpleWork> work, const WorkStatus& status) override;

    std::shared_ptr<Work> GetRoot() const { return root_; }
    int GetMaxRunning() const { return maxRunning_; }

private:
    using Lock = std::unique_lock<std::mutex>;

    bool PauseLocked();
    void CancelRunningWorks();
    void Dispatch();
    bool IsFinishedLocked() const;
    bool IsSuspendedLocked() const;

    std::mutex mutex_;
    const std::shared_ptr<Work> root_;
    WorkManager* const workManager_;
    // A heap: the front is the work with the smallest priority path.
    std::vector<std::shared_ptr<SimpleWork>> readyQueue_;
    // A multiset: a work that a composite queues again while its previous run
    // is still reporting can be dispatched before that report removes it.
    std::unordered_multiset<std::shared_ptr<SimpleWork>> running_;
    const int maxRunning_;
    WorkflowState state_ = WorkflowState::NotStarted;
    std::vector<WorkflowRetryableErrorCallback*> retryableErrorCallbacks_;
};

}  // namespace vrexa
