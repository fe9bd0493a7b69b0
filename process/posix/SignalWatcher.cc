#include "process/posix/SignalWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace vrexa::process::posix {
namespace {

sigset_t SetOf(std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals) {
        sigaddset(&set, signal);
    }
    return set;
}

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

void SignalWatcher::Block(std::initializer_list<int> signals) {
    const sigset_t set = SetOf(signals);
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    }
}

SignalWatcher::SignalWatcher(std::initializer_list<int> signals, Handler handler) : handler_(std::move(handler)) {
    const sigset_t set = SetOf(signals);
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, &previous_); error != 0) {
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    }
    try {
        signals_.Reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
        if (!signals_) ThrowErrno("signalfd");
        stop_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!stop_) ThrowErrno("eventfd");
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        throw;
    }
}

SignalWatcher::~SignalWatcher() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stop_.Get(), &one, sizeof one);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void SignalWatcher::Run() {
    int count = 0;
    for (;;) {
        pollfd fds[2] = {{signals_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        signalfd_siginfo info;
        while (::read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (handler_) handler_(static_cast<int>(info.ssi_signo), ++count);
        }
    }
}

}  // namespace vrexa::process::posix
