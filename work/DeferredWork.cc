#include "work/DeferredWork.h"

#include "work/NoOpWork.h"
#include "work/Workflow.h"

namespace vrexa {

bool DeferredWork::Assign(std::shared_ptr<Work> newChild) {
    std::lock_guard lock(childMutex);
    if (child) {
        return false;
    }
    child = newChild ? std::move(newChild) : std::make_shared<NoOpWork>();
    AdoptChild(child);
    return true;
}

std::shared_ptr<Work> DeferredWork::GetChild() const {
    std::lock_guard lock(childMutex);
    return child;
}

void DeferredWork::Reset() {
    std::lock_guard lock(mutex);
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
    std::lock_guard lock(mutex);
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
