#include "updater/posix/SignalWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vrexa::updater::posix {

namespace {

sigset_t CloseSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void SignalWatcher::BlockCloseSignals() {
    const sigset_t set = CloseSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    const sigset_t set = CloseSignals();
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ >= 0 && stopFd_ >= 0) thread_ = std::thread([this] { Run(); });
}

SignalWatcher::~SignalWatcher() {
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    if (signalFd_ >= 0) ::close(signalFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
}

void SignalWatcher::Run() {
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        signalfd_siginfo info;
        while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (onSignal_) onSignal_();
        }
    }
}

}  // namespace vrexa::updater::posix
