#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "transfer/ProgressCounter.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferStatus.h"

namespace vrexa {

class PackageManifest;

// A transfer's status record and progress counters. Works add to the counters
// from any thread; the transfer reads and changes the record, and takes
// snapshots (GetStatus), only under its own lock.
class TransferStatusImpl : public TransferProgressUpdater {
public:
    // Milliseconds of a monotonic clock; tests pass their own to move time.
    using Clock = std::function<std::uint64_t()>;
    static std::uint64_t SteadyClockMilliseconds();

    // window: seconds of history the rate averages over, and the active time
    // needed before a first estimate; interval: milliseconds of active time
    // between two recomputations of the estimate.
    TransferStatusImpl(const TransferParams& params, int window, int interval,
                       Clock clock = &TransferStatusImpl::SteadyClockMilliseconds);
    TransferStatusImpl(const TransferStatusImpl&) = delete;
    TransferStatusImpl& operator=(const TransferStatusImpl&) = delete;

    void AddCompleted(std::uint64_t bytes) override;
    void SubtractCompleted(std::uint64_t bytes) override;
    void AddVerified(std::uint64_t bytes) override;
    void AddDownloaded(std::uint64_t bytes) override;
    void AddReused(std::uint64_t bytes) override;

    // The snapshot: the record with fresh identifiers and counters, the time
    // remaining and the rate. Records a rate sample, so it is not const.
    TransferStatus GetStatus();

    // The record the transfer changes (state, error, retrying).
    TransferStatus& Record() { return status_; }
    const TransferStatus& Record() const { return status_; }

    // Takes the run path and the total size from the package.
    void SetPackage(const PackageManifest& package);

    std::uint64_t GetCompletedBytes() const { return completedBytes_.Load(); }
    std::uint64_t GetVerifiedBytes() const { return verifiedBytes_.Load(); }
    std::uint64_t GetDownloadedBytes() const { return downloadedBytes_.Load(); }
    // Milliseconds spent transferring, as counted by the snapshots so far.
    std::uint64_t GetActiveTime() const { return activeTime_.Load(); }

    // What was added since the previous call; for the periodic report.
    std::uint64_t TakeActiveTimeDelta() { return activeTime_.TakeDelta(); }
    std::uint64_t TakeDownloadedDelta() { return downloadedBytes_.TakeDelta(); }

private:
    struct Sample {
        std::uint64_t time;
        std::uint64_t bytes;
    };

    std::int32_t EstimateSecondsRemaining(std::uint64_t now);
    std::uint64_t MeasureRate(std::uint64_t now);
    bool TransferringWithoutError() const;

    const TransferParams& params_;
    TransferStatus status_;
    ProgressCounter completedBytes_;
    ProgressCounter verifiedBytes_;
    DeltaCounter downloadedBytes_;
    ProgressCounter reusedBytes_;
    DeltaCounter activeTime_;
    int window_;
    int interval_;
    std::deque<Sample> samples_;
    bool lastSampleTransferring_ = false;
    std::int32_t cachedEstimate_ = -1;
    std::uint64_t activeTimeAtEstimate_ = 0;
    Clock clock_;
};

}  // namespace vrexa
