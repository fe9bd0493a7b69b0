#pragma once

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "service/TransferMonitorCallback.h"
#include "tools/vrexa/ExitCode.h"
#include "tools/vrexa/StatusFormat.h"
#include "transfer/TransferStatus.h"

namespace vrexa {
class TransferContract;
class TransferMonitorImpl;
}  // namespace vrexa

namespace vrexa::cli {

// Follows one transfer from its creation to its end through the monitor:
// starts it into its destination once initialized, retries a waiting error a
// few times, and suspends it when interrupted, so that `vrexa resume` can go
// on. The monitor's callbacks only queue what they saw; every service call is
// made on the thread that runs Follow.
class CliRunner : public TransferMonitorCallback {
public:
    enum class Purpose { Download, Verify };

    CliRunner(TransferContract& service, TransferMonitorImpl& monitor, ProgressPrinter& printer, std::ostream& errors,
              bool quiet);

    // status: what creating or restoring the transfer returned. dest: where to
    // start it ("?" keeps a restored transfer's own destination).
    int Follow(const TransferStatus& created, const std::string& dest, Purpose purpose);

    // From any thread (a signal): the transfer is suspended and Follow returns
    // 128 + the signal, as a shell reports a process the signal ended
    // (130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP).
    void Interrupt(int signal = SIGINT);

    // Waits between retries of an error the transfer waits on.
    void SetRetryDelays(std::chrono::milliseconds first, int retries);
    // With verbose, a failure is followed by the engine's own account of it.
    void SetVerbose(bool verbose) { verbose_ = verbose; }
    // The sentence of the last failure Follow printed; empty after success.
    const std::string& LastMessage() const { return lastMessage_; }
    // The id of the transfer Follow was given; empty before.
    const std::string& TransferId() const { return transferId_; }

    void OnProgress(const TransferStatus& status) override;
    void OnInitialized(const TransferStatus& status) override;
    void OnError(const TransferStatus& status) override;
    void OnEnd(const TransferStatus& status) override;

private:
    enum class Kind { Progress, Initialized, Error, End };
    struct Event {
        Kind kind;
        TransferStatus status;
    };

    // The next event, or nullopt once interrupted.
    std::optional<Event> Next();
    // false when interrupted before the deadline.
    bool SleepUnlessInterrupted(std::chrono::milliseconds delay);
    std::chrono::milliseconds RetryDelay(int retried) const;
    void Push(Kind kind, const TransferStatus& status);
    // Prints the failure as a sentence (see DescribeFailure) and returns its
    // exit code.
    int Fail(const TransferStatus& status, Purpose purpose, const std::string& dest);
    // A failure the runner itself met, already worded.
    int Fail(const TransferStatus& status, const std::string& sentence, ExitCode code);
    int Interrupted(const std::string& transferId);

    TransferContract& service_;
    TransferMonitorImpl& monitor_;
    ProgressPrinter& printer_;
    std::ostream& errors_;
    const bool quiet_;
    std::chrono::milliseconds retryDelay_{2000};
    int retries_ = 3;
    bool verbose_ = false;
    std::string lastMessage_;
    std::string transferId_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    bool interrupted_ = false;
    int signal_ = SIGINT;
};

}  // namespace vrexa::cli
