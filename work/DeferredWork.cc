#include "work/DeferredWork.h"

#include "work/NoOpWork.h"
#include "work/Workflow.h"

namespace vrexa {

bool DeferredWork::Assign(std::shared_ptr<Work> newChild) {
    std::lock_guard lock(childMutex_);
    if (child_) {
        return false;
    }
    child_ = newChild ? std::move(newChild) : std::make_shared<NoOpWork>();
    AdoptChild(child_);
    return true;
}

std::shared_ptr<Work> DeferredWork::GetChild() const {
    std::lock_guard lock(childMutex_);
    return child_;
}

void DeferredWork::Reset() {
    std::lock_guard lock(mutex_);
    CompositeWork::Reset();
    if (std::shared_ptr<Work> assigned = GetChild()) {
        assigned->Reset();
    }
}

void DeferredWork::OnSetWorkflow(std::weak_ptr<Workflow> target) {
    if (std::shared_ptr<Work> assigned = GetChild()) {
        PassWorkflowTo(assigned, target);
    }
}

void DeferredWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex_);
    // Queued before any child arrived: the slot runs a NoOpWork and refuses a
    // late child.
    Assign(nullptr);
    QueueChild(GetChild(), target, 0);
}

bool DeferredWork::AcceptChild(const std::shared_ptr<Work>& candidate) { return candidate == GetChild(); }

CompositeWork::Progress DeferredWork::ComputeProgress(const std::shared_ptr<Work>&, const WorkStatus& status) {
    return ProgressFrom(status);
}

}  // namespace vrexa
