#include "service/StandardTransferWorkInterface.h"

#include <utility>

#include "service/StandardTransferData.h"
#include "service/Transfer.h"
#include "work/WorkStatus.h"

namespace vrexa {

StandardTransferWorkInterface::StandardTransferWorkInterface(Transfer* transfer,
                                                             std::shared_ptr<StandardTransferData> data)
    : transfer_(transfer), data_(std::move(data)) {
    workComplete_.SetFunction([this](std::shared_ptr<Work> work, const WorkStatus& status) {
        Forward([&](TransferLock& lock) { transfer_->OnWorkComplete(lock, work, status); });
    });
    packageAcquire_.SetFunction([this](std::shared_ptr<Work> work, const WorkStatus& status) {
        Forward([&](TransferLock& lock) { transfer_->OnPackageAcquire(lock, work, status); });
    });
    nodeListAcquire_.SetFunction([this](std::shared_ptr<Work> work, const WorkStatus& status) {
        Forward([&](TransferLock& lock) { transfer_->OnNodeListAcquire(lock, work, status); });
    });
    geolocation_.SetFunction([this](std::shared_ptr<Work> work, const WorkStatus& status) {
        Forward([&](TransferLock& lock) { transfer_->OnGeolocation(lock, work, status); });
    });
    initialize_.SetFunction([this](std::shared_ptr<Work> work, const WorkStatus& status) {
        Forward([&](TransferLock& lock) { transfer_->OnInitialize(lock, work, status); });
    });
}

StandardTransferWorkInterface::~StandardTransferWorkInterface() = default;

template <class Handler>
void StandardTransferWorkInterface::Forward(Handler&& handler) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!active_) return;
        ++inFlight_;
    }
    struct Leave {
        StandardTransferWorkInterface& self;
        ~Leave() {
            std::lock_guard<std::mutex> guard(self.mutex_);
            if (--self.inFlight_ == 0) self.idle_.notify_all();
        }
    } leave{*this};
    // The transfer is alive here: its destructor waits for inFlight_ to drop.
    TransferLock lock(transfer_->GetMutex());
    if (!IsActive()) return;
    handler(lock);
}

TransferParams& StandardTransferWorkInterface::Params() { return data_->params; }

const TransferParams& StandardTransferWorkInterface::Params() const { return data_->params; }

TransferBehavior& StandardTransferWorkInterface::GetBehavior() {
    // Works only read the behaviour; the record itself never changes.
    return const_cast<TransferBehavior&>(data_->behavior);
}

std::shared_ptr<TransferProgressUpdater> StandardTransferWorkInterface::GetProgress() {
    return std::shared_ptr<TransferProgressUpdater>(data_, &data_->status);
}

std::shared_ptr<http::Session> StandardTransferWorkInterface::GetSession() { return data_->GetSession(); }

void StandardTransferWorkInterface::SetSession(std::shared_ptr<http::Session> session) {
    data_->SetSession(std::move(session));
}

void StandardTransferWorkInterface::AddOutputFile(const std::string& relativePath) {
    Forward([&](TransferLock& lock) { transfer_->OnOutputFile(lock, relativePath); });
}

void StandardTransferWorkInterface::OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                                             std::shared_ptr<Work> work, const WorkStatus& status) {
    Forward([&](TransferLock& lock) { transfer_->OnWorkflowRetryableError(lock, workflow, work, status); });
}

void StandardTransferWorkInterface::Deactivate() {
    std::lock_guard<std::mutex> guard(mutex_);
    active_ = false;
}

void StandardTransferWorkInterface::DeactivateAndWait() {
    std::unique_lock<std::mutex> guard(mutex_);
    active_ = false;
    idle_.wait(guard, [this] { return inFlight_ == 0; });
}

bool StandardTransferWorkInterface::IsActive() {
    std::lock_guard<std::mutex> guard(mutex_);
    return active_;
}

}  // namespace vrexa
