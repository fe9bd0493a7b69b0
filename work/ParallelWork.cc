#include "work/ParallelWork.h"

#include "work/WorkStatusData.h"
#include "work/Workflow.h"

namespace vrexa {

ParallelWork::ParallelWork(WorkCompleteCallback* callback) : CompositeWork(callback) { Reserve(2); }

void ParallelWork::AddChild(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex_);
        if (!pending_.insert(child).second) {
            return;
        }
        children_.push_back(child);
    }
    AdoptChild(std::move(child));
}

void ParallelWork::Reserve(std::size_t n) {
    std::lock_guard lock(mutex_);
    children_.reserve(n);
    pending_.reserve(n);
}

std::vector<std::shared_ptr<Work>> ParallelWork::GetChildren() const {
    std::lock_guard lock(mutex_);
    return children_;
}

void ParallelWork::Reset() {
    std::lock_guard lock(mutex_);
    CompositeWork::Reset();
    pending_.clear();
    for (const std::shared_ptr<Work>& child : children_) {
        pending_.insert(child);
        child->Reset();
    }
}

void ParallelWork::OnSetWorkflow(std::weak_ptr<Workflow> target) {
    for (const std::shared_ptr<Work>& child : GetChildren()) {
        PassWorkflowTo(child, target);
    }
}

void ParallelWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < children_.size(); ++i) {
        QueueChild(children_[i], target, static_cast<unsigned>(i));
    }
}

bool ParallelWork::AcceptChild(const std::shared_ptr<Work>& child) { return pending_.count(child) != 0; }

CompositeWork::Progress ParallelWork::ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) {
    if (status.result == WorkResult::Failure) {
        return ProgressFrom(WorkStatus(WorkResult::FatalError, status.data));
    }
    pending_.erase(child);
    if (pending_.empty()) {
        return ProgressFrom(WorkStatus(WorkResult::Success, nullptr));
    }
    return Progress{};
}

}  // namespace vrexa
