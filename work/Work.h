#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "work/WorkDescriptor.h"
#include "work/WorkStatus.h"

namespace vrexa {

class CompositeWork;
class WorkCompleteCallback;
class Workflow;

// The path of child indices from the root to a work. The workflow runs the
// ready work with the smallest path first, so a tree is worked through depth
// first, lowest index first.
using PriorityPath = std::vector<std::uint32_t>;

// A node of a work tree: a simple work runs one task, a composite decides which
// children run and folds their outcomes. Works live in shared pointers; a work
// refers to its parent and its workflow only weakly, so tearing a tree down
// simply stops its reports.
//
// The parent, the workflow and the priority path are set before the work is
// queued and are not changed while it runs.
class Work : public WorkDescriptor {
public:
    Work() = default;
    explicit Work(WorkCompleteCallback* callback);
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;
    ~Work() override = default;

    // Base writes nothing; every concrete work writes "name" = its class name.
    void Describe(boost::property_tree::ptree& tree) const override;
    // Asked after a RetryableError: true runs the task again at once.
    virtual bool ShouldRetry();
    // Back to the not-yet-run state, so that the work can be queued again.
    virtual void Reset() = 0;
    // The work's own description, then "workStatus" = the status's.
    virtual void Describe(const WorkStatus& status, boost::property_tree::ptree& tree) const;
    virtual std::shared_ptr<Work> GetSharedPtr() = 0;
    virtual std::shared_ptr<const Work> GetSharedPtr() const = 0;
    virtual void SetParent(std::weak_ptr<CompositeWork> parent);
    // Stores the workflow, then hands it to OnSetWorkflow.
    virtual void SetWorkflow(std::weak_ptr<Workflow> workflow);
    virtual void OnSetWorkflow(std::weak_ptr<Workflow> workflow) = 0;
    // Makes the runnable simple works of this subtree known to the workflow.
    virtual void QueueAvailableWork(std::shared_ptr<Workflow> workflow) = 0;

    // Delivers one outcome: to the workflow first, then to the registered
    // callbacks in order, then to the parent, which hears last. A workflow or
    // parent that is gone is skipped.
    void NotifyComplete(const WorkStatus& status);

    // Not owned; the owner must outlive the work. Add before the work runs.
    void AddCompleteCallback(WorkCompleteCallback* callback);

    std::shared_ptr<Workflow> GetWorkflow() const { return workflow_.lock(); }
    std::shared_ptr<CompositeWork> GetParent() const { return parent_.lock(); }
    const PriorityPath& GetPriorityPath() const { return priorityPath_; }
    void SetPriorityPath(PriorityPath path) { priorityPath_ = std::move(path); }

protected:
    std::weak_ptr<Workflow> workflow_;
    std::vector<WorkCompleteCallback*> completeCallbacks_;
    std::weak_ptr<CompositeWork> parent_;
    PriorityPath priorityPath_;
};

}  // namespace vrexa
