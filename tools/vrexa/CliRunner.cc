#include "tools/vrexa/CliRunner.h"

#include <filesystem>
#include <system_error>

#include "service/TransferContract.h"
#include "service/TransferMonitorImpl.h"
#include "tools/vrexa/FailureText.h"

namespace vrexa::cli {

CliRunner::CliRunner(TransferContract& service, TransferMonitorImpl& monitor, ProgressPrinter& printer,
                     std::ostream& errors, bool quiet)
    : service_(service), monitor_(monitor), printer_(printer), errors_(errors), quiet_(quiet) {}

void CliRunner::SetRetryDelays(std::chrono::milliseconds first, int retries) {
    retryDelay_ = first;
    retries_ = retries;
}

// Notified under the lock: once Follow has seen the last event it may
// return and the runner be destroyed, which must not happen while the
// monitor's thread is still inside notify.
void CliRunner::Push(Kind kind, const TransferStatus& status) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({kind, status});
    changed_.notify_all();
}

void CliRunner::OnProgress(const TransferStatus& status) { Push(Kind::Progress, status); }
void CliRunner::OnInitialized(const TransferStatus& status) { Push(Kind::Initialized, status); }
void CliRunner::OnError(const TransferStatus& status) { Push(Kind::Error, status); }
void CliRunner::OnEnd(const TransferStatus& status) { Push(Kind::End, status); }

void CliRunner::Interrupt(int signal) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!interrupted_) signal_ = signal;
    interrupted_ = true;
    changed_.notify_all();
}

// Doubles from the first wait, but a long run of retries waits at most ten
// minutes between two of them (and never shifts past the integer's width).
std::chrono::milliseconds CliRunner::RetryDelay(int retried) const {
    constexpr std::chrono::milliseconds kLongest = std::chrono::minutes(10);
    std::chrono::milliseconds delay = retryDelay_;
    for (int i = 0; i < retried && delay < kLongest; ++i)
        delay *= 2;
    return delay < kLongest ? delay : kLongest;
}

std::optional<CliRunner::Event> CliRunner::Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return interrupted_ || !events_.empty(); });
    if (interrupted_) return std::nullopt;
    Event event = std::move(events_.front());
    events_.pop_front();
    return event;
}

bool CliRunner::SleepUnlessInterrupted(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, delay, [this] { return interrupted_; });
}

int CliRunner::Interrupted(const std::string& transferId) {
    const TransferStatus status = service_.Suspend(transferId);
    printer_.Finish(status);
    int signal = SIGINT;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signal = signal_;
    }
    const char* what = signal == SIGTERM ? "terminated" : signal == SIGHUP ? "hung up" : "interrupted";
    lastMessage_ = what;
    if (status.state == TransferState::Suspended) {
        errors_ << "vrexa: " << what << "; the transfer is kept. Go on with: vrexa resume " << transferId << "\n";
    } else {
        // A transfer that never started downloading is not stored: there is
        // nothing to resume, a new download starts over.
        errors_ << "vrexa: " << what << " before the download started; nothing was kept\n";
    }
    return 128 + signal;
}

int CliRunner::Fail(const TransferStatus& status, Purpose purpose, const std::string& dest) {
    const FailureReport report =
        DescribeFailure(status, {purpose == Purpose::Verify, dest == "?" ? status.destPath : dest});
    return Fail(status, report.sentence, report.exitCode);
}

int CliRunner::Fail(const TransferStatus& status, const std::string& sentence, ExitCode code) {
    printer_.Finish(status);
    lastMessage_ = sentence;
    errors_ << "vrexa: " << sentence << "\n";
    if (verbose_ && status.error != TransferError::None) errors_ << "vrexa: " << RawFailure(status) << "\n";
    return code;
}

int CliRunner::Follow(const TransferStatus& created, const std::string& dest, Purpose purpose) {
    const std::string id = created.transferId;
    transferId_ = id;
    printer_.SetVerifying(purpose == Purpose::Verify);
    if (id.empty()) {
        if (created.error != TransferError::Unknown && created.error != TransferError::None)
            return Fail(created, purpose, dest);
        return Fail(created,
                    "the transfer could not be created" + (created.message.empty() ? "" : ": " + created.message),
                    kExitFailed);
    }
    if (!quiet_) errors_ << "vrexa: transfer " << id << "\n" << std::flush;
    if (created.state == TransferState::None) return Fail(created, "no stored transfer " + id, kExitFailed);

    monitor_.AddCallback(id, this);
    int retried = 0;
    for (;;) {
        const std::optional<Event> event = Next();
        if (!event) {
            monitor_.RemoveCallback(id);
            return Interrupted(id);
        }
        const TransferStatus& status = event->status;
        switch (event->kind) {
            case Kind::Progress:
                printer_.Update(status);
                break;
            case Kind::Initialized: {
                printer_.Update(status);
                const std::string target = dest == "?" ? status.destPath : dest;
                std::error_code error;
                if (target != "?" && !target.empty()) std::filesystem::create_directories(target, error);
                if (error) {
                    TransferStatus failed = service_.Cancel(id, false);
                    failed.error = TransferError::FileAccessError;
                    failed.message = "cannot create " + target + ": " + error.message();
                    return Fail(failed, failed.message, kExitFileSystem);
                }
                const TransferStatus started = service_.Start(id, target);
                if (started.state != TransferState::Transferring) {
                    if (started.IsFinal()) return Fail(started, purpose, target);
                    // A path the transfer refuses (no room, not a folder):
                    // nothing was written; say so and end.
                    TransferStatus refused = service_.Cancel(id, false);
                    if (refused.error != TransferError::None) return Fail(refused, purpose, target);
                    refused.error = TransferError::InsufficientSpace;
                    refused.message = "the transfer cannot go into " + target;
                    return Fail(refused,
                                "the package cannot go into " + target +
                                    ": it is not a folder, or there is not "
                                    "enough free space",
                                kExitFileSystem);
                }
                monitor_.AddCallback(id, this);
                break;
            }
            case Kind::Error: {
                printer_.Update(status);
                if (retried >= retries_) {
                    // Kept for later: the error may heal (a network back up,
                    // space freed) and `vrexa resume` goes on from here.
                    const TransferStatus kept = service_.Suspend(id);
                    const int code = Fail(status, purpose, dest);
                    if (kept.state == TransferState::Suspended && !quiet_) {
                        errors_ << "vrexa: the transfer is kept. Go on with: vrexa resume " << id << "\n";
                    }
                    return code;
                }
                if (!SleepUnlessInterrupted(RetryDelay(retried))) return Interrupted(id);
                ++retried;
                service_.Retry(id);
                monitor_.AddCallback(id, this);
                break;
            }
            case Kind::End:
                if (status.state == TransferState::Complete) {
                    // Nothing is left to resume: the stored entry goes (a
                    // cancel of a complete transfer removes only that).
                    if (purpose == Purpose::Download) service_.Cancel(id, false);
                    printer_.Finish(status);
                    return kExitComplete;
                }
                if (status.error != TransferError::None) return Fail(status, purpose, dest);
                return Fail(status, "the transfer ended " + TransferStateName(status.state), kExitFailed);
        }
    }
}

}  // namespace vrexa::cli
