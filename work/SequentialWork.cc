#include "work/SequentialWork.h"

#include "work/Workflow.h"

namespace vrexa {

SequentialWork::SequentialWork(std::size_t reserve) { children.reserve(reserve); }

SequentialWork::SequentialWork(WorkCompleteCallback* callback, std::size_t reserve) : CompositeWork(callback) {
    children.reserve(reserve);
}

void SequentialWork::AddChild(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex);
        children.push_back(child);
    }
    AdoptChild(std::move(child));
}

std::vector<std::shared_ptr<Work>> SequentialWork::GetChildren() const {
    std::lock_guard lock(mutex);
    return children;
}

void SequentialWork::Reset() {
    std::lock_guard lock(mutex);
    CompositeWork::Reset();
    index = 0;
    for (const std::shared_ptr<Work>& child : children) {
        child->Reset();
    }
}

void SequentialWork::OnSetWorkflow(std::weak_ptr<Workflow> target) {
    for (const std::shared_ptr<Work>& child : GetChildren()) {
        PassWorkflowTo(child, target);
    }
}

void SequentialWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex);
    if (!children.empty()) {
        QueueChild(children.front(), target, 0);
    }
}

bool SequentialWork::AcceptChild(const std::shared_ptr<Work>& child) {
    return !progress.complete && !children.empty() && children[static_cast<std::size_t>(index)] == child;
}

CompositeWork::Progress SequentialWork::ComputeProgress(const std::shared_ptr<Work>&, const WorkStatus& status) {
    if (status.result == WorkResult::Failure || static_cast<std::size_t>(index) + 1 == children.size()) {
        return ProgressFrom(status);
    }
    ++index;
    QueueChild(children[static_cast<std::size_t>(index)], workflow.lock(), 0);
    return Progress{};
}

}  // namespace vrexa
