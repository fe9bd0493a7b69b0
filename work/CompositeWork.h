#pragma once

#include <memory>
#include <mutex>

#include "work/Work.h"
#include "work/WorkCompleteCallback.h"
#include "work/WorkStatus.h"

namespace vrexa {

// An inner node of a work tree. It decides which children may run, gives each a
// priority path, and folds the children's outcomes into its own, which it
// reports once per reset. Child outcomes arrive on worker threads and are
// serialized by the composite's mutex; the composite never reports to its own
// parent while holding it, so a chain of completions never holds two
// composite locks at once.
class CompositeWork : public Work, public WorkCompleteCallback, public std::enable_shared_from_this<CompositeWork> {
public:
    // complete: the composite has its final outcome for this reset.
    struct Progress {
        bool complete = false;
        WorkStatus status;
    };
    // (status is final, status).
    static Progress ProgressFrom(const WorkStatus& status);

    CompositeWork() = default;
    explicit CompositeWork(WorkCompleteCallback* callback) : Work(callback) {}

    // Back to the incomplete progress.
    void Reset() override;
    bool ShouldRetry() override;
    std::shared_ptr<Work> GetSharedPtr() override;
    std::shared_ptr<const Work> GetSharedPtr() const override;

    void OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& status) override;

    // Makes this work the child's parent and passes the workflow on, if known.
    virtual void AdoptChild(std::shared_ptr<Work> child);
    // Whether an outcome from this child is expected now (called under mutex).
    virtual bool AcceptChild(const std::shared_ptr<Work>& child) = 0;
    // The new progress after the child ended with Success or Failure (called
    // under mutex); may queue more children.
    virtual Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) = 0;
    // Reset, then queue the subtree again if the workflow is still there.
    virtual void Restart();

    bool IsComplete() const;

    std::shared_ptr<CompositeWork> GetSharedComposite() { return shared_from_this(); }

protected:
    // Gives the child its path (this work's path followed by index) and lets
    // it queue what it can run.
    void QueueChild(const std::shared_ptr<Work>& child, const std::shared_ptr<Workflow>& workflow, unsigned index);

    // Children attached while this work was being constructed could not be
    // told their parent then; every subclass calls this for each child when
    // the workflow is handed down.
    void PassWorkflowTo(const std::shared_ptr<Work>& child, const std::weak_ptr<Workflow>& workflow);

    mutable std::recursive_mutex mutex_;
    Progress progress_;
};

}  // namespace vrexa
