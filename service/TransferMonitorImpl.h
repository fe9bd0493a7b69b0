#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vrexa {

class TransferContract;
class TransferMonitorCallback;

// Polls every registered transfer through the service every period and turns
// the snapshots into callbacks, in id order, on its own thread. Its mutex is
// held only to copy, add or remove registrations and to test stop, never
// while the service or a callback runs: a callback may register again or call
// the service.
class TransferMonitorImpl {
public:
    // Not owned; must outlive the monitor.
    explicit TransferMonitorImpl(TransferContract* service,
                                 std::chrono::milliseconds period = std::chrono::milliseconds(100));
    TransferMonitorImpl(const TransferMonitorImpl&) = delete;
    TransferMonitorImpl& operator=(const TransferMonitorImpl&) = delete;
    // Stops and joins the thread; registrations are dropped.
    ~TransferMonitorImpl();

    void Start();
    // An id already registered keeps its first callback. Not owned.
    void AddCallback(const std::string& transferId, TransferMonitorCallback* callback);
    void RemoveCallback(const std::string& transferId);

    // One poll of every registration, as the thread does each period; false
    // once the monitor is stopping.
    bool PollOnce();

private:
    void Run();
    // Waits out the period; false when stopping.
    bool Wait();
    // Removes the registration only if it is still the one that was polled,
    // so a callback registered again meanwhile stays.
    void Unregister(const std::string& transferId, TransferMonitorCallback* callback);
    void Report(const std::string& transferId, TransferMonitorCallback* callback);

    std::mutex mutex_;
    TransferContract* const service_;
    const std::chrono::milliseconds period_;
    bool stop_ = false;
    std::condition_variable wake_;
    std::thread thread_;
    std::map<std::string, TransferMonitorCallback*> callbacks_;
};

}  // namespace vrexa
