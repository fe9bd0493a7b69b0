#pragma once

#include <memory>
#include <mutex>

#include "work/CompositeWork.h"

namespace vrexa {

// A slot whose single child is supplied later, while the workflow already
// runs (another work's task assigns it). If the slot is queued before any
// child arrives it runs a NoOpWork, and later assignments are refused.
class DeferredWork : public CompositeWork {
public:
    explicit DeferredWork(WorkCompleteCallback* callback = nullptr) : CompositeWork(callback) {}

    // Stores and adopts the child (an empty one stands for a NoOpWork) if none
    // is assigned yet; otherwise returns false and changes nothing.
    bool Assign(std::shared_ptr<Work> child);
    std::shared_ptr<Work> GetChild() const;

    void Reset() override;
    void OnSetWorkflow(std::weak_ptr<Workflow> workflow) override;
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;
    bool AcceptChild(const std::shared_ptr<Work>& child) override;
    Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) override;

protected:
    // Guards child alone: Assign comes from another work's task.
    mutable std::mutex childMutex_;
    std::shared_ptr<Work> child_;
};

}  // namespace vrexa
