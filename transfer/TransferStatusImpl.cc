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
    : params_(params), window_(window), interval_(interval), clock_(std::move(clock)) {
    status_.transferId = params.transferId;
    status_.state = TransferState::Initializing;
}

void TransferStatusImpl::AddCompleted(std::uint64_t bytes) { completedBytes_.Add(bytes); }

void TransferStatusImpl::SubtractCompleted(std::uint64_t bytes) { completedBytes_.Subtract(bytes); }

void TransferStatusImpl::AddVerified(std::uint64_t bytes) { verifiedBytes_.Add(bytes); }

void TransferStatusImpl::AddDownloaded(std::uint64_t bytes) { downloadedBytes_.Add(bytes); }

void TransferStatusImpl::AddReused(std::uint64_t bytes) { reusedBytes_.Add(bytes); }

void TransferStatusImpl::SetPackage(const PackageManifest& package) {
    status_.run = package.GetRun();
    status_.totalBytes = package.GetTotalSize();
}

TransferStatus TransferStatusImpl::GetStatus() {
    TransferStatus snapshot = status_;
    snapshot.transferId = params_.transferId;
    snapshot.partnerId = params_.partnerId;
    snapshot.packageId = params_.packageId;
    snapshot.versionId = params_.versionId;
    snapshot.destPath = params_.destPath;
    // The run file is only worth starting once every byte is verified.
    if (snapshot.state != TransferState::Complete) {
        snapshot.run.clear();
    }
    snapshot.downloadedBytes = downloadedBytes_.Load();
    snapshot.reusedBytes = reusedBytes_.Load();
    snapshot.completedBytes = completedBytes_.Load();
    snapshot.verifiedBytes = verifiedBytes_.Load();
    const std::uint64_t now = clock_();
    // The estimate reads the newest sample of the previous snapshot, so it
    // must run before the rate adds this one.
    snapshot.secondsRemaining = EstimateSecondsRemaining(now);
    snapshot.rate = MeasureRate(now);
    return snapshot;
}

bool TransferStatusImpl::TransferringWithoutError() const {
    return status_.state == TransferState::Transferring && status_.error == TransferError::None;
}

std::int32_t TransferStatusImpl::EstimateSecondsRemaining(std::uint64_t now) {
    std::uint64_t measured = 0;
    if (params_.progressMode == 0) {
        measured = downloadedBytes_.Load();
    } else if (params_.progressMode == 1) {
        measured = verifiedBytes_.Load();
    }
    const std::uint64_t completed = completedBytes_.Load();
    const std::uint64_t remaining = completed >= status_.totalBytes ? 0 : status_.totalBytes - completed;

    // Only time spent transferring between two snapshots counts: a pause or
    // an error in between leaves lastSampleTransferring_ false.
    if (measured > 0 && TransferringWithoutError() && !samples_.empty() && lastSampleTransferring_) {
        const std::uint64_t newest = samples_.back().time;
        activeTime_.Add(now > newest ? now - newest : 0);
    }
    const std::uint64_t active = activeTime_.Load();
    const std::int64_t windowMilliseconds = static_cast<std::int64_t>(window_) * 1000;
    if (measured == 0 || static_cast<std::int64_t>(active) < windowMilliseconds) {
        return -1;
    }
    // Recompute at most once per interval of active time, so the text the
    // user reads does not flicker with every snapshot.
    if (TransferringWithoutError() &&
        static_cast<std::int64_t>(active) < static_cast<std::int64_t>(activeTimeAtEstimate_) + interval_) {
        return cachedEstimate_;
    }
    const double estimate = std::ceil(static_cast<double>(active) / (static_cast<double>(measured) * 1000.0) *
                                      static_cast<double>(remaining));
    constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
    cachedEstimate_ =
        estimate > kLargest ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(estimate);
    activeTimeAtEstimate_ = active;
    return cachedEstimate_;
}

std::uint64_t TransferStatusImpl::MeasureRate(std::uint64_t now) {
    const bool moving = status_.state == TransferState::Transferring || status_.state == TransferState::Paused;
    if (!status_.IsFinal() && moving) {
        samples_.push_back({now, downloadedBytes_.Load()});
        while (samples_.size() > 2 && static_cast<std::int64_t>((now - samples_.front().time) / 1000) >= window_) {
            samples_.pop_front();
        }
        lastSampleTransferring_ = TransferringWithoutError();
    }
    if (samples_.size() < 2) {
        return 0;
    }
    const Sample& oldest = samples_.front();
    const Sample& newest = samples_.back();
    const std::uint64_t bytes = newest.bytes > oldest.bytes ? newest.bytes - oldest.bytes : 0;
    const std::int64_t seconds = static_cast<std::int64_t>((newest.time - oldest.time) / 1000);
    // Never divide by less than the window_: a burst over a few hundred
    // milliseconds is not a rate of several times its size per second.
    std::int64_t divisor = seconds > window_ ? seconds : window_;
    if (divisor < 1) {
        divisor = 1;
    }
    return bytes / static_cast<std::uint64_t>(divisor);
}

}  // namespace vrexa
