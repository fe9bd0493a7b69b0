#pragma once

#include <signal.h>

#include <functional>
#include <initializer_list>
#include <thread>

#include "file/posix/UniqueDescriptor.h"

namespace vrexa::process::posix {

// Takes signals off the asynchronous path: they are blocked, and a thread of
// its own reads them from a signal descriptor and calls the handler there, so
// the handler may lock, allocate and call into the engine like any other code.
// Threads inherit the blocked set from their creator: block the signals (Block,
// or by building the watcher) before any other thread starts, or a thread
// started earlier still takes them the default way and ends the process.
class SignalWatcher {
public:
    // Called on the watcher's thread with the signal and how many watched
    // signals have arrived so far, 1 for the first.
    using Handler = std::function<void(int signal, int count)>;

    // The signals that ask a program to close: an interrupt, a polite kill.
    static constexpr std::initializer_list<int> kCloseSignals = {SIGINT, SIGTERM};
    // The close signals, and those that end a program whose terminal went
    // away (a hang-up) or whose user asked it to quit from the keyboard: for
    // a program that must put its work away in order, each means "close".
    static constexpr std::initializer_list<int> kEndSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

    // Blocks signals in the calling thread and so in every thread it starts
    // later. Throws std::system_error when the mask cannot be changed.
    static void Block(std::initializer_list<int> signals);

    // Blocks signals and starts watching them. Throws std::system_error when it
    // cannot (no descriptor or thread to be had), with the mask as it found
    // it: a program must never sit with its close signals blocked and nobody
    // reading them.
    SignalWatcher(std::initializer_list<int> signals, Handler handler);
    // Stops the thread and restores the mask it found: signals blocked before
    // it was built stay blocked (and, unread, are dropped with the process).
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void Run();

    Handler handler_;
    sigset_t previous_;
    file::posix::UniqueDescriptor signals_;
    file::posix::UniqueDescriptor stop_;
    std::thread thread_;
};

}  // namespace vrexa::process::posix
