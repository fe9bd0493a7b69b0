#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "work/Work.h"

namespace vrexa {

class SimpleWorkRetryCallback;

// A leaf of a work tree: one task run on a worker thread, run again at once
// while it fails with RetryableError and ShouldRetry agrees. Failures never
// leave the task: an escaping exception becomes FatalError with the exception
// as data.
class SimpleWork : public Work, public std::enable_shared_from_this<SimpleWork> {
public:
    SimpleWork() = default;
    explicit SimpleWork(WorkCompleteCallback* callback) : Work(callback) {}

    // Clears the cancel flag.
    void Reset() override;
    void OnSetWorkflow(std::weak_ptr<Workflow> workflow) override;
    // Queues this work itself.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;
    std::shared_ptr<Work> GetSharedPtr() override;
    std::shared_ptr<const Work> GetSharedPtr() const override;

    // The task; runs on a worker thread.
    virtual WorkStatus ExecuteTask() = 0;
    // Called right after the cancel flag is set, from any thread, so that a
    // blocking task can abort.
    virtual void OnCancel() = 0;

    // Runs the task with the in-place retry loop; returns Cancelled without
    // running it when the cancel flag is already set.
    WorkStatus Execute();
    void Cancel();
    bool IsCancelled() const { return cancelled_.load(); }

    // Not owned; the owner must outlive the work. Add before the work runs.
    void AddRetryCallback(SimpleWorkRetryCallback* callback);

    std::shared_ptr<SimpleWork> GetSharedSimpleWork() { return shared_from_this(); }

protected:
    std::atomic<bool> cancelled_{false};
    std::vector<SimpleWorkRetryCallback*> retryCallbacks_;
};

}  // namespace vrexa
