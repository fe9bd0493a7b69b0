#pragma once

#include <memory>

#include "work/WorkCompleteCallback.h"
#include "work/WorkflowRetryableErrorCallback.h"
#include "work/WorkflowState.h"

namespace vrexa {

class SimpleWork;
class WorkStatus;

// Runs one work tree: keeps the simple works that are ready, hands them to a
// work manager, and turns their outcomes into its own state. Every work of the
// tree reports its outcomes to the workflow through OnWorkComplete.
class Workflow : public WorkCompleteCallback {
public:
    virtual bool Start() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool Retry() = 0;
    virtual WorkflowState GetState() = 0;
    virtual bool IsStarted() = 0;
    virtual bool IsPaused() = 0;
    virtual bool IsSuspended() = 0;
    virtual bool IsFinished() = 0;
    // The root's complete callbacks receive status; false when already cancelled.
    virtual bool Cancel(const WorkStatus& status) = 0;
    // Not owned; the owner must outlive the workflow.
    virtual void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) = 0;
    // Resets the work and puts it into the ready queue, unless finished.
    virtual void QueueSimpleWork(std::shared_ptr<SimpleWork> work) = 0;
    // A dispatched work has come back with status.
    virtual void OnSimpleWorkComplete(std::shared_ptr<SimpleWork> work, const WorkStatus& status) = 0;
};

}  // namespace vrexa
