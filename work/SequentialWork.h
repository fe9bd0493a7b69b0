#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "work/CompositeWork.h"

namespace vrexa {

// Runs its children one after another. Finishes with the last child's status,
// or stops early with the first Failure or FatalError. A sequence without
// children never finishes, so owners always add one.
class SequentialWork : public CompositeWork {
public:
    // Room for reserve children.
    explicit SequentialWork(std::size_t reserve = 0);
    SequentialWork(WorkCompleteCallback* callback, std::size_t reserve);

    // Appends and adopts; no duplicate check.
    void AddChild(std::shared_ptr<Work> child);

    // Incomplete, back to the first child, every child reset.
    void Reset() override;
    void OnSetWorkflow(std::weak_ptr<Workflow> workflow) override;
    // Queues the first child.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;
    bool AcceptChild(const std::shared_ptr<Work>& child) override;
    Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) override;

    std::vector<std::shared_ptr<Work>> GetChildren() const;

protected:
    std::vector<std::shared_ptr<Work>> children_;
    int index_ = 0;
};

}  // namespace vrexa
