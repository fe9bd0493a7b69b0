#include "work/SequentialWork.h"

#include "work/Workflow.h"

namespace vrexa {

SequentialWork::SequentialWork(std::size_t reserve) { children_.reserve(reserve); }

SequentialWork::SequentialWork(WorkCompleteCallback* callback, std::size_t reserve) : CompositeWork(callback) {
    children_.reserve(reserve);
}

void SequentialWork::AddChild(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex_);
        children_.push_back(child);
    }
    AdoptChild(std::move(child));
}

std::vector<std::shared_ptr<Work>> SequentialWork::GetChildren() const {
    std::lock_guard lock(mutex_);
    return children_;
}

void SequentialWork::Reset() {
    std::lock_guard lock(mutex_);
    CompositeWork::Reset();
    index_ = 0;
    for (const std::shared_ptr<Work>& child : children_) {
        child->Reset();
    }
}

void SequentialWork::OnSetWorkflow(std::weak_ptr<Workflow> target) {
    for (const std::shared_ptr<Work>& child : GetChildren()) {
        PassWorkflowTo(child, target);
    }
}

void SequentialWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex_);
    if (!children_.empty()) {
        QueueChild(children_.front(), target, 0);
    }
}

bool SequentialWork::AcceptChild(const std::shared_ptr<Work>& child) {
    return !progress_.complete && !children_.empty() && children_[static_cast<std::size_t>(index_)] == child;
}

CompositeWork::Progress SequentialWork::ComputeProgress(const std::shared_ptr<Work>&, const WorkStatus& status) {
    if (status.result == WorkResult::Failure || static_cast<std::size_t>(index_) + 1 == children_.size()) {
        return ProgressFrom(status);
    }
    ++index_;
    QueueChild(children_[static_cast<std::size_t>(index_)], workflow_.lock(), 0);
    return Progress{};
}

}  // namespace vrexa
