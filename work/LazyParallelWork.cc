#include "work/LazyParallelWork.h"

#include <stdexcept>
#include <vector>

#include "work/Workflow.h"

namespace vrexa {

LazyParallelWork::LazyParallelWork(unsigned capacity, WorkCompleteCallback* callback)
    : CompositeWork(callback), capacity_(capacity) {
    Reserve(capacity);
}

void LazyParallelWork::Reserve(std::size_t n) {
    if (n == 0) {
        throw std::invalid_argument("LazyParallelWork::Reserve called with zero capacity");
    }
    std::lock_guard lock(mutex_);
    inFlight_.reserve(n);
}

std::size_t LazyParallelWork::GetInFlightCount() const {
    std::lock_guard lock(mutex_);
    return inFlight_.size();
}

void LazyParallelWork::Reset() {
    std::lock_guard lock(mutex_);
    CompositeWork::Reset();
    nextIndex_ = 0;
}

void LazyParallelWork::OnSetWorkflow(std::weak_ptr<Workflow>) {}

std::shared_ptr<Work> LazyParallelWork::MakeChild() {
    std::shared_ptr<Work> child = CreateNextChild();
    if (child && inFlight_.insert(child).second) {
        AdoptChild(child);
    }
    return child;
}

void LazyParallelWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex_);
    const unsigned start = nextIndex_;
    std::vector<std::shared_ptr<Work>> created;
    while (nextIndex_ < capacity_) {
        std::shared_ptr<Work> child = MakeChild();
        if (!child) {
            break;
        }
        created.push_back(std::move(child));
        ++nextIndex_;
    }
    // Queued only once all are made, so that they enter the ready queue in
    // creation order.
    for (std::size_t k = 0; k < created.size(); ++k) {
        QueueChild(created[k], target, start + static_cast<unsigned>(k));
    }
}

bool LazyParallelWork::AcceptChild(const std::shared_ptr<Work>& child) { return inFlight_.count(child) != 0; }

CompositeWork::Progress LazyParallelWork::ComputeProgress(const std::shared_ptr<Work>& child,
                                                          const WorkStatus& status) {
    if (status.result == WorkResult::Failure) {
        return ProgressFrom(WorkStatus(WorkResult::FatalError, status.data));
    }
    inFlight_.erase(child);
    if (std::shared_ptr<Work> next = MakeChild()) {
        const unsigned i = nextIndex_++;
        QueueChild(next, workflow_.lock(), i);
    }
    if (inFlight_.empty()) {
        return ProgressFrom(WorkStatus(WorkResult::Success, nullptr));
    }
    return Progress{};
}

}  // namespace vrexa
