#pragma once

#include <memory>

#include "work/CompositeWork.h"

namespace vrexa {

// Runs a condition, then onSuccess when it succeeded or onFailure when it
// failed, and finishes with the chosen branch's status. A FatalError of the
// condition finishes the work without running a branch. The subclass assigns
// all three children before the work is queued.
class ConditionalWork : public CompositeWork {
public:
    explicit ConditionalWork(WorkCompleteCallback* callback = nullptr) : CompositeWork(callback) {}

    void SetCondition(std::shared_ptr<Work> child);
    void SetOnSuccess(std::shared_ptr<Work> child);
    void SetOnFailure(std::shared_ptr<Work> child);

    // Incomplete, back to the condition, every child reset.
    void Reset() override;
    void OnSetWorkflow(std::weak_ptr<Workflow> workflow) override;
    // Queues the condition; std::logic_error when a child is missing.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;
    bool AcceptChild(const std::shared_ptr<Work>& child) override;
    Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) override;

protected:
    std::shared_ptr<Work> condition_;
    std::shared_ptr<Work> onSuccess_;
    std::shared_ptr<Work> onFailure_;
    std::shared_ptr<Work> current_;
};

}  // namespace vrexa
