#include "analytics/EventManager.h"

#include <utility>

#include "analytics/TrackEventWork.h"
#include "work/AsioWorkManager.h"

namespace vrexa {

EventManager::EventManager(unsigned threadCount)
    : workManager_(std::make_unique<AsioWorkManager>(threadCount, false)) {}

EventManager::~EventManager() = default;

void EventManager::TrackEvent(std::shared_ptr<TrackEventWork> work) {
    work->Reset();
    workManager_->Post(std::shared_ptr<SimpleWork>(std::move(work)));
}

unsigned EventManager::GetThreadCount() const { return workManager_->GetThreadCount(); }

void EventManager::Drain() { workManager_->Drain(); }

}  // namespace vrexa
