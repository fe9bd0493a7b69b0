#include "transfer/TransferStatusImpl.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include "manifest/PackageManifest.h"

namespace vrexa {

std::uint64_t TransferStatusImpl::SteadyClockMilliseconds() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
}

TransferStatusImpl::TransferStatusImpl(const TransferParams& params, int window, int interval, Clock clock)
    : params(params), window(window), interval(interval), clock(std::move(clock)) {
    status.transferId = params.transferId;
    status.state = TransferState::Initializing;
}

void TransferStatusImpl::AddCompleted(std::uint64_t bytes) { completedBytes.Add(bytes); }

void TransferStatusImpl::SubtractCompleted(std::uint64_t bytes) { completedBytes.Subtract(bytes); }

void TransferStatusImpl::AddVerified(std::uint64_t bytes) { verifiedBytes.Add(bytes); }

void TransferStatusImpl::AddDownloaded(std::uint64_t bytes) { downloadedBytes.Add(bytes); }

void TransferStatusImpl::SetPackage(const PackageManifest& package) {
    status.run = package.GetRun();
    status.totalBytes = package.GetTotalSize();
}

TransferStatus TransferStatusImpl::GetStatus() {
    TransferStatus snapshot = status;
    snapshot.transferId = params.transferId;
    snapshot.partnerId = params.partnerId;
    snapshot.packageId = params.packageId;
    snapshot.versionId = params.versionId;
    snapshot.destPath = params.destPath;
    // The run file is only worth starting once every byte is verified.
    if (snapshot.state != TransferState::Complete) {
        snapshot.run.clear();
    }
    snapshot.downloadedBytes = downloadedBytes.Load();
    snapshot.completedBytes = completedBytes.Load();
    snapshot.verifiedBytes = verifiedBytes.Load();
    const std::uint64_t now = clock();
    // The estimate reads the newest sample of the previous snapshot, so it
    // must run before the rate adds this one.
    snapshot.secondsRemaining = EstimateSecondsRemaining(now);
    snapshot.rate = MeasureRate(now);
    return snapshot;
}

bool TransferStatusImpl::TransferringWithoutError() const {
    return status.state == TransferState::Transferring && status.error == TransferError::None;
}

std::int32_t TransferStatusImpl::EstimateSecondsRemaining(std::uint64_t now) {
    std::uint64_t measured = 0;
    if (params.progressMode == 0) {
        measured = downloadedBytes.Load();
    } else if (params.progressMode == 1) {
        measured = verifiedBytes.Load();
    }
    const std::uint64_t completed = completedBytes.Load();
    const std::uint64_t remaining = completed >= status.totalBytes ? 0 : status.totalBytes - completed;

    // Only time spent transferring between two snapshots counts: a pause or
    // an error in between leaves lastSampleTransferring false.
    if (measured > 0 && TransferringWithoutError() && !samples.empty() && lastSampleTransferring) {
        const std::uint64_t newest = samples.back().time;
        activeTime.Add(now > newest ? now - newest : 0);
    }
    const std::uint64_t active = activeTime.Load();
    const std::int64_t windowMilliseconds = static_cast<std::int64_t>(window) * 1000;
    if (measured == 0 || static_cast<std::int64_t>(active) < windowMilliseconds) {
        return -1;
    }
    // Recompute at most once per interval of active time, so the text the
    // user reads does not flicker with every snapshot.
    if (TransferringWithoutError() &&
        static_cast<std::int64_t>(active) < static_cast<std::int64_t>(activeTimeAtEstimate) + interval) {
        return cachedEstimate;
    }
    const double estimate = std::ceil(static_cast<double>(active) / (static_cast<double>(measured) * 1000.0) *
                                      static_cast<double>(remaining));
    constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
    cachedEstimate =
        estimate > kLargest ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(estimate);
    activeTimeAtEstimate = active;
    return cachedEstimate;
}

std::uint64_t TransferStatusImpl::MeasureRate(std::uint64_t now) {
    const bool moving = status.state == TransferState::Transferring || status.state == TransferState::Paused;
    if (!status.IsFinal() && moving) {
        samples.push_back({now, downloadedBytes.Load()});
        while (samples.size() > 2 && static_cast<std::int64_t>((now - samples.front().time) / 1000) >= window) {
            samples.pop_front();
        }
        lastSampleTransferring = TransferringWithoutError();
    }
    if (samples.size() < 2) {
        return 0;
    }
    const Sample& oldest = samples.front();
    const Sample& newest = samples.back();
    const std::uint64_t bytes = newest.bytes > oldest.bytes ? newest.bytes - oldest.bytes : 0;
    const std::int64_t seconds = static_cast<std::int64_t>((newest.time - oldest.time) / 1000);
    // Never divide by less than the window: a burst over a few hundred
    // milliseconds is not a rate of several times its size per second.
    std::int64_t divisor = seconds > window ? seconds : window;
    if (divisor < 1) {
        divisor = 1;
    }
    return bytes / static_cast<std::uint64_t>(divisor);
}

}  // namespace vrexa
