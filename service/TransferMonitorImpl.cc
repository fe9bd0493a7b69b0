#include "service/TransferMonitorImpl.h"

#include <utility>
#include <vector>

#include "service/TransferContract.h"
#include "service/TransferMonitorCallback.h"

namespace vrexa {

TransferMonitorImpl::TransferMonitorImpl(TransferContract* service, std::chrono::milliseconds period)
    : service_(service), period_(period) {}

TransferMonitorImpl::~TransferMonitorImpl() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> guard(mutex_);
    callbacks_.clear();
}

void TransferMonitorImpl::Start() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!thread_.joinable() && !stop_) thread_ = std::thread([this] { Run(); });
}

void TransferMonitorImpl::AddCallback(const std::string& transferId, TransferMonitorCallback* callback) {
    std::lock_guard<std::mutex> guard(mutex_);
    callbacks_.emplace(transferId, callback);
}

void TransferMonitorImpl::RemoveCallback(const std::string& transferId) {
    std::lock_guard<std::mutex> guard(mutex_);
    callbacks_.erase(transferId);
}

void TransferMonitorImpl::Unregister(const std::string& transferId, TransferMonitorCallback* callback) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = callbacks_.find(transferId);
    if (found != callbacks_.end() && found->second == callback) callbacks_.erase(found);
}

void TransferMonitorImpl::Run() {
    while (Wait() && PollOnce()) {
    }
}

bool TransferMonitorImpl::Wait() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    // An early wake-up (spurious or a notify) within 90% of the period waits
    // again for the rest; past it the round starts.
    const auto limit = period_ * 9 / 10;
    std::unique_lock<std::mutex> guard(mutex_);
    auto remaining = period_;
    for (;;) {
        try {
            wake_.wait_for(guard, remaining);
        } catch (...) {
            // Treated as an ordinary wake-up.
        }
        if (stop_) return false;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (elapsed > limit) return true;
        remaining = period_ - elapsed;
    }
}

bool TransferMonitorImpl::PollOnce() {
    std::vector<std::pair<std::string, TransferMonitorCallback*>> registrations;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (stop_) return false;
        registrations.assign(callbacks_.begin(), callbacks_.end());
    }
    for (const auto& [transferId, callback] : registrations) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (stop_) return false;
        }
        try {
            Report(transferId, callback);
        } catch (...) {
            // One failing transfer or callback must not end the others' reports,
            // nor the process: its registration stays as it was.
        }
    }
    return true;
}

void TransferMonitorImpl::Report(const std::string& transferId, TransferMonitorCallback* callback) {
    const TransferStatus status = service_->Update(transferId);
    if (status.IsFinal()) {
        Unregister(transferId, callback);
        callback->OnEnd(status);
    } else if (status.state == TransferState::Initialized) {
        Unregister(transferId, callback);
        callback->OnInitialized(status);
        if (status.error != TransferError::None) callback->OnError(status);
    } else if (status.error == TransferError::None) {
        callback->OnProgress(status);
    } else {
        Unregister(transferId, callback);
        callback->OnError(status);
    }
}

}  // namespace vrexa
