#pragma once

#include <memory>

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
    AsioWorkManager& GetWorkManager() { return *workManager_; }

private:
    std::unique_ptr<AsioWorkManager> workManager_;
};

}  // namespace vrexa
