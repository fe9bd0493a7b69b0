#pragma once

#include <functional>
#include <thread>

namespace vrexa::updater::posix {

// Turns SIGINT and SIGTERM into a call on a thread of its own, so that an
// interrupt closes the window like its close button instead of killing the
// process in the middle of writing its files.
class SignalWatcher {
public:
    // Blocks both signals in the calling thread and so in every thread it
    // starts later; call it first thing in main, before any thread exists.
    // A launched program gets an empty signal mask of its own.
    static void BlockCloseSignals();

    // onSignal runs on the watcher's thread, once per signal received.
    explicit SignalWatcher(std::function<void()> onSignal);
    // Stops watching; signals arriving later stay blocked and are dropped.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void Run();

    std::function<void()> onSignal_;
    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace vrexa::updater::posix
