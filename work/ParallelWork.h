#pragma once

#include <cstddef>
#include <memory>
#include <unordered_set>
#include <vector>

#include "work/CompositeWork.h"

namespace vrexa {

// Runs all its children at once. Succeeds when every child has succeeded; a
// Failure of any child becomes FatalError at once, and later outcomes of the
// others are ignored.
class ParallelWork : public CompositeWork {
public:
    explicit ParallelWork(WorkCompleteCallback* callback = nullptr);

    // Adds a child once; adding the same child again changes nothing.
    void AddChild(std::shared_ptr<Work> child);
    virtual void Reserve(std::size_t n);

    // Incomplete, every child pending again and reset.
    void Reset() override;
    void OnSetWorkflow(std::weak_ptr<Workflow> workflow) override;
    // Queues every child, child i with index i.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;
    bool AcceptChild(const std::shared_ptr<Work>& child) override;
    Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) override;

    std::vector<std::shared_ptr<Work>> GetChildren() const;

protected:
    std::vector<std::shared_ptr<Work>> children_;
    // Children that have not succeeded since the last reset.
    std::unordered_set<std::shared_ptr<Work>> pending_;
};

}  // namespace vrexa
