#pragma once

#include <cstddef>
#include <memory>
#include <unordered_set>

#include "work/CompositeWork.h"

namespace vrexa {

// Runs children made on demand, at most capacity of them at a time: up to
// capacity when queued, then one new child each time a child succeeds.
// Succeeds when no child is left to make and none is in flight; a Failure of
// any child becomes FatalError. A generator that makes nothing at all never
// finishes, so owners never build one.
class LazyParallelWork : public CompositeWork {
public:
    // capacity 0 throws std::invalid_argument.
    explicit LazyParallelWork(unsigned capacity, WorkCompleteCallback* callback = nullptr);
    LazyParallelWork(WorkCompleteCallback* callback, unsigned capacity) : LazyParallelWork(capacity, callback) {}

    // Room for n children in flight; 0 throws std::invalid_argument.
    virtual void Reserve(std::size_t n);
    // The next child, or empty when there are no more. Called under the
    // work's mutex.
    virtual std::shared_ptr<Work> CreateNextChild() = 0;

    // Incomplete, and children are counted from 0 again. Never called while
    // children are in flight.
    void Reset() override;
    // Children get the workflow when they are adopted.
    void OnSetWorkflow(std::weak_ptr<Workflow> workflow) override;
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;
    bool AcceptChild(const std::shared_ptr<Work>& child) override;
    Progress ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) override;

    unsigned GetCapacity() const { return capacity_; }
    std::size_t GetInFlightCount() const;

protected:
    std::unordered_set<std::shared_ptr<Work>> inFlight_;
    const unsigned capacity_;
    // Children made since the last reset; the next child's path index.
    unsigned nextIndex_ = 0;

private:
    // Makes the next child and adopts it; empty when there are no more.
    std::shared_ptr<Work> MakeChild();
};

}  // namespace vrexa
