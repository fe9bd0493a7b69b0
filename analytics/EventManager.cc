#include "analytics/EventManager.h"

#include <utility>
#include <vector>

#include "analytics/TrackEventWork.h"
#include "work/AsioWorkManager.h"

namespace vrexa {

EventManager::EventManager(unsigned threadCount)
    : workManager_(std::make_unique<AsioWorkManager>(threadCount, false)) {}

EventManager::~EventManager() = default;

void EventManager::TrackEvent(std::shared_ptr<TrackEventWork> work) {
    work->Reset();
    {
        std::lock_guard<std::mutex> lock(trackedMutex_);
        ++unfinished_;
    }
    workManager_->Post([this, work = std::move(work)] { RunTracked(work); });
}

void EventManager::RunTracked(const std::shared_ptr<TrackEventWork>& work) {
    bool run;
    {
        std::lock_guard<std::mutex> lock(trackedMutex_);
        run = !abandoned_;
        if (run) running_.insert(work);
    }
    if (run) {
        const WorkStatus status = work->Execute();
        try {
            work->NotifyComplete(status);
        } catch (...) {
            // A document that cannot be sent is lost, never the pool's thread.
        }
    }
    std::lock_guard<std::mutex> lock(trackedMutex_);
    running_.erase(work);
    --unfinished_;
    trackedDone_.notify_all();
}

unsigned EventManager::GetThreadCount() const { return workManager_->GetThreadCount(); }

void EventManager::Drain() { workManager_->Drain(); }

void EventManager::Drain(std::chrono::milliseconds bound) {
    std::vector<std::shared_ptr<TrackEventWork>> stragglers;
    {
        std::unique_lock<std::mutex> lock(trackedMutex_);
        if (!trackedDone_.wait_for(lock, bound, [this] { return unfinished_ == 0; })) {
            abandoned_ = true;
            stragglers.assign(running_.begin(), running_.end());
        }
    }
    // Cancelling aborts the request under way and ends the work's retries;
    // done outside the lock, since the works take it to finish.
    for (const auto& work : stragglers)
        work->Cancel();
    workManager_->Drain();
}

}  // namespace vrexa
