#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <thread>

namespace vrexa::cli {

// Takes SIGINT and SIGTERM off the asynchronous path: they are blocked and a
// thread of its own waits for them with sigwait, so the handler may lock,
// allocate and call into the engine like any other code. Build it before any
// other thread starts: threads inherit the blocked set from their creator,
// and a thread started earlier would still take the signal the default way.
class SignalWatcher {
public:
    // Called on the watcher's thread with the signal and how many of these
    // signals have arrived so far, 1 for the first.
    using Handler = std::function<void(int signal, int count)>;

    explicit SignalWatcher(Handler handler);
    // Stops the thread and restores the signal mask it found.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void Run();

    Handler handler_;
    sigset_t previous_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace vrexa::cli
