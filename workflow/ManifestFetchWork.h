#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "transfer/TransferWorkInterface.h"
#include "work/LimitedRetrySimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class ManifestSource;
struct TrustedComment;

// What the three works that fetch a document have in common: they keep the
// source they are reading from, so that a cancel from another thread aborts
// the fetch under way, and they retry network failures in place a limited
// number of times. The transfer hears of each success through the callback
// given here; the log hears of every outcome and every retry.
class ManifestFetchWork : public TransferWork, public LimitedRetrySimpleWork {
public:
    ManifestFetchWork(std::shared_ptr<TransferWorkInterface> transfer, int maxRetries,
                      WorkCompleteCallback& transferCallback);

    // Aborts the source being read, if any.
    void OnCancel() override;
    // No further attempt once the time for the document is spent.
    bool ShouldRetry() override;
    // Also gives the next run a whole document time again.
    void Reset() override;

protected:
    // Holds the source as current while a load runs, so that OnCancel reaches
    // it; a cancel that came before the source was stored aborts it at once.
    class CurrentSource {
    public:
        CurrentSource(ManifestFetchWork& work, std::shared_ptr<ManifestSource> source);
        ~CurrentSource();
        CurrentSource(const CurrentSource&) = delete;
        CurrentSource& operator=(const CurrentSource&) = delete;

    private:
        ManifestFetchWork& work_;
    };

    // A source from factory for id (none for the geolocation): over the
    // transfer's HTTP session when the factory fetches over HTTP.
    template <typename HttpFactory, typename Factory, typename... Id>
    std::shared_ptr<ManifestSource> SourceFrom(Factory& factory, const Id&... id) {
        if (auto* http = dynamic_cast<HttpFactory*>(&factory)) {
            return Bounded(http->CreateSource(id..., GetTransfer()->GetSession()));
        }
        return factory.CreateSource(id...);
    }

    // load(source) with source as the current source.
    template <typename Load>
    auto LoadCurrent(const std::shared_ptr<ManifestSource>& source, Load load) {
        CurrentSource current(*this, source);
        return load(source);
    }

    // When the transfer trusts signing keys: makes source fetch and check the
    // document's signature for kind and id, and sets comment to the checked
    // trusted comment once a fetch passed. ManifestSignatureException when
    // the source cannot carry a signature.
    void RequireSignature(const std::shared_ptr<ManifestSource>& source, const std::string& kind, const std::string& id,
                          std::optional<TrustedComment>& comment);

    // The outcome of a failed fetch of the package manifest or the node list:
    // cancelled when aborted, retryable on a network failure, fatal otherwise.
    static WorkStatus FetchFailure(const std::exception_ptr& failure);

private:
    // source, held to the document's deadline (which the first attempt sets;
    // an earlier one while the server has not answered) and to the
    // behaviour's speed floor.
    std::shared_ptr<ManifestSource> Bounded(std::shared_ptr<ManifestSource> source);

    std::mutex sourceMutex_;
    std::shared_ptr<ManifestSource> currentSource_;
    // When every attempt at the document must have ended, and when they must
    // have ended while the server has answered none of them; guarded by
    // sourceMutex_ like whether it has answered.
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::optional<std::chrono::steady_clock::time_point> silenceDeadline_;
    bool heardFrom_ = false;

    // The deadline that holds now; sourceMutex_ held.
    std::optional<std::chrono::steady_clock::time_point> DeadlineLocked() const;
};

}  // namespace vrexa
