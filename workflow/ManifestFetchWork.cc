#include "workflow/ManifestFetchWork.h"

#include <algorithm>
#include <new>

#include "manifest/HttpManifestException.h"
#include "manifest/HttpManifestSource.h"
#include "manifest/ManifestTrust.h"
#include "transfer/TransferStatusData.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/HttpManifestStatusData.h"
#include "workflow/LogRoutes.h"

namespace vrexa {

namespace {

void AbortSource(const std::shared_ptr<ManifestSource>& source) {
    if (auto http = std::dynamic_pointer_cast<HttpManifestSource>(source)) {
        http->Abort();
    }
}

// A document refused for its signature: the reason is the whole story, and
// it is what the user reads.
class SignatureRefusedData : public TransferErrorData {
public:
    explicit SignatureRefusedData(std::string reason)
        : TransferErrorData(TransferError::RequestRejected, std::move(reason)) {}
    std::string Explain() const override { return GetErrorMessage(); }
    TransferErrorFacts Facts() const override {
        TransferErrorFacts facts;
        facts.signatureRefused = true;
        return facts;
    }
};

}  // namespace

ManifestFetchWork::ManifestFetchWork(std::shared_ptr<TransferWorkInterface> transfer, int maxRetries,
                                     WorkCompleteCallback& transferCallback)
    : TransferWork(std::move(transfer)),
      LimitedRetrySimpleWork(&transferCallback, static_cast<unsigned>(std::max(maxRetries, 0))) {
    const TransferBehavior& behavior = GetTransfer()->GetBehavior();
    AddLogCompleteRoute(*this, behavior, true);
    AddLogRetryRoute(*this, behavior, true);
}

void ManifestFetchWork::OnCancel() {
    std::lock_guard lock(sourceMutex_);
    AbortSource(currentSource_);
}

ManifestFetchWork::CurrentSource::CurrentSource(ManifestFetchWork& work, std::shared_ptr<ManifestSource> source)
    : work_(work) {
    std::lock_guard lock(work_.sourceMutex_);
    work_.currentSource_ = std::move(source);
    // OnCancel may have run between the task's start and this point, when
    // there was nothing to abort yet.
    if (work_.IsCancelled()) {
        AbortSource(work_.currentSource_);
    }
}

ManifestFetchWork::CurrentSource::~CurrentSource() {
    std::lock_guard lock(work_.sourceMutex_);
    if (auto http = std::dynamic_pointer_cast<HttpManifestSource>(work_.currentSource_); http && http->HeardFrom()) {
        work_.heardFrom_ = true;
    }
    work_.currentSource_.reset();
}

void ManifestFetchWork::RequireSignature(const std::shared_ptr<ManifestSource>& source, const std::string& kind,
                                         const std::string& id, std::optional<TrustedComment>& comment) {
    ManifestTrust* trust = GetTransfer()->GetBehavior().manifestTrust;
    if (trust == nullptr || !trust->IsEnabled()) return;
    auto http = std::dynamic_pointer_cast<HttpManifestSource>(source);
    if (!http) throw ManifestSignatureException("this document source cannot carry a signature");
    http->RequireSignature([trust, kind, id, &comment](const std::string& document, const std::string& signature) {
        comment = trust->Check(kind, id, document, signature);
    });
}

std::shared_ptr<ManifestSource> ManifestFetchWork::Bounded(std::shared_ptr<ManifestSource> source) {
    const TransferBehavior& behavior = GetTransfer()->GetBehavior();
    std::chrono::steady_clock::time_point deadline;
    {
        std::lock_guard lock(sourceMutex_);
        if (!deadline_) {
            const auto now = std::chrono::steady_clock::now();
            deadline_ = now + std::chrono::seconds(behavior.manifestDocumentTimeout);
            if (behavior.manifestFirstByteTimeout > 0) {
                silenceDeadline_ = now + std::chrono::seconds(behavior.manifestFirstByteTimeout);
            }
        }
        deadline = *DeadlineLocked();
    }
    if (auto http = std::dynamic_pointer_cast<HttpManifestSource>(source)) {
        http->Bound(deadline, behavior.manifestLowSpeedLimit, behavior.manifestLowSpeedTime);
    }
    return source;
}

std::optional<std::chrono::steady_clock::time_point> ManifestFetchWork::DeadlineLocked() const {
    if (!deadline_ || heardFrom_ || !silenceDeadline_) return deadline_;
    return std::min(*deadline_, *silenceDeadline_);
}

bool ManifestFetchWork::ShouldRetry() {
    {
        std::lock_guard lock(sourceMutex_);
        const auto deadline = DeadlineLocked();
        if (deadline && std::chrono::steady_clock::now() >= *deadline) return false;
    }
    return LimitedRetrySimpleWork::ShouldRetry();
}

void ManifestFetchWork::Reset() {
    LimitedRetrySimpleWork::Reset();
    std::lock_guard lock(sourceMutex_);
    deadline_.reset();
    silenceDeadline_.reset();
    heardFrom_ = false;
}

WorkStatus ManifestFetchWork::FetchFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ManifestSignatureException& refused) {
        // Refused for what it says, not for how it travelled: the same
        // answer would come again, so it is not retried.
        return WorkStatus(WorkResult::FatalError, std::make_shared<SignatureRefusedData>(refused.what()));
    } catch (const ManifestAbortedException&) {
        return WorkStatus(WorkResult::Cancelled, nullptr);
    } catch (const HttpManifestStreamException& e) {
        return WorkStatus(WorkResult::RetryableError,
                          std::make_shared<HttpManifestStatusData>(TransferError::NetworkError, e.GetStatus()));
    } catch (const HttpManifestLocatorException& e) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<HttpManifestStatusData>(TransferError::RequestRejected, e.GetStatus()));
    } catch (const ManifestException&) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<TransferExceptionData>(
                                                      TransferError::RequestRejected, std::current_exception()));
    } catch (const std::bad_alloc&) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<TransferExceptionData>(TransferError::OutOfMemory,
                                                                                          std::current_exception()));
    } catch (...) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::Unknown, std::current_exception()));
    }
}

}  // namespace vrexa
