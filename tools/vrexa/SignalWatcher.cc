#include "tools/vrexa/SignalWatcher.h"

#include <csignal>
#include <stdexcept>
#include <system_error>

namespace vrexa::cli {
namespace {

// SIGUSR2 only wakes the watcher to stop; it is sent to its thread alone.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    return set;
}

}  // namespace

SignalWatcher::SignalWatcher(Handler handler) : handler_(std::move(handler)) {
    const sigset_t watched = WatchedSignals();
    if (const int error = pthread_sigmask(SIG_BLOCK, &watched, &previous_); error != 0) {
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    }
    thread_ = std::thread([this] { Run(); });
}

SignalWatcher::~SignalWatcher() {
    stopping_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void SignalWatcher::Run() {
    const sigset_t watched = WatchedSignals();
    int count = 0;
    for (;;) {
        int signal = 0;
        if (sigwait(&watched, &signal) != 0) continue;
        if (signal == SIGUSR2) {
            if (stopping_) return;
            continue;
        }
        handler_(signal, ++count);
    }
}

}  // namespace vrexa::cli
