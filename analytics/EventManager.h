#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>

namespace vrexa {

class AsioWorkManager;
class TrackEventWork;

// Runs event works (analytics posts, log records) on a pool of its own, so
// that raising an event never blocks or fails whoever raised it.
class EventManager {
public:
    // threadCount 0 makes a manager whose posted works never run.
    explicit EventManager(unsigned threadCount);
    EventManager(const EventManager&) = delete;
    EventManager& operator=(const EventManager&) = delete;
    // Stops the pool: works not yet started are dropped. Implementations that
    // promise delivery drain first (Drain) in their own destructor.
    virtual ~EventManager();

    virtual std::shared_ptr<TrackEventWork> CreateEventWork(int kind) = 0;
    // Resets the work and posts it to the pool; never runs it on this thread.
    virtual void TrackEvent(std::shared_ptr<TrackEventWork> work);

    // The threads of the manager's own pool.
    unsigned GetThreadCount() const;

protected:
    // Runs every work posted so far (and what those post while running) to its
    // end, then ends the pool's threads; works posted later never run.
    void Drain();
    // Drain, but no longer than bound: once it is spent, the tracked works
    // still running are cancelled and those not yet started are dropped, so
    // that an endpoint that accepts and never answers cannot hold up the end
    // of the process. Only works given to TrackEvent are waited for.
    void Drain(std::chrono::milliseconds bound);
    AsioWorkManager& GetWorkManager() { return *workManager_; }

private:
    // Runs one tracked work unless the drain has given up on the queue.
    void RunTracked(const std::shared_ptr<TrackEventWork>& work);

    std::unique_ptr<AsioWorkManager> workManager_;

    std::mutex trackedMutex_;
    std::condition_variable trackedDone_;
    // Guarded by trackedMutex_: works tracked and not yet finished, those
    // among them running now, and whether the queue was given up.
    std::size_t unfinished_ = 0;
    std::set<std::shared_ptr<TrackEventWork>> running_;
    bool abandoned_ = false;
};

}  // namespace vrexa
