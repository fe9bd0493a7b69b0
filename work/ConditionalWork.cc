#include "work/ConditionalWork.h"

#include <stdexcept>

#include "work/Workflow.h"

namespace vrexa {

void ConditionalWork::SetCondition(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex_);
        condition_ = child;
        current_ = child;
    }
    AdoptChild(std::move(child));
}

void ConditionalWork::SetOnSuccess(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex_);
        onSuccess_ = child;
    }
    AdoptChild(std::move(child));
}

void ConditionalWork::SetOnFailure(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex_);
        onFailure_ = child;
    }
    AdoptChild(std::move(child));
}

void ConditionalWork::Reset() {
    std::lock_guard lock(mutex_);
    CompositeWork::Reset();
    current_ = condition_;
    for (const std::shared_ptr<Work>* child : {&condition_, &onSuccess_, &onFailure_}) {
        if (*child) {
            (*child)->Reset();
        }
    }
}

void ConditionalWork::OnSetWorkflow(std::weak_ptr<Workflow> target) {
    std::shared_ptr<Work> children[3];
    {
        std::lock_guard lock(mutex_);
        children[0] = condition_;
        children[1] = onFailure_;
        children[2] = onSuccess_;
    }
    for (const std::shared_ptr<Work>& child : children) {
        if (child) {
            PassWorkflowTo(child, target);
        }
    }
}

void ConditionalWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex_);
    if (!condition_ || !onSuccess_ || !onFailure_) {
        throw std::logic_error("ConditionalWork::QueueAvailableWork called with incomplete children");
    }
    QueueChild(condition_, target, 0);
}

bool ConditionalWork::AcceptChild(const std::shared_ptr<Work>& child) {
    return !progress_.complete && child == current_;
}

CompositeWork::Progress ConditionalWork::ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) {
    if (child != condition_) {
        return ProgressFrom(status);
    }
    current_ = status.result == WorkResult::Success ? onSuccess_ : onFailure_;
    QueueChild(current_, workflow_.lock(), 0);
    return Progress{};
}

}  // namespace vrexa
