#include "tools/vrexa/CliRunner.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "service/TransferContract.h"
#include "service/TransferMonitorImpl.h"

namespace vrexa::cli {
namespace {

const std::string kId = "0123456789abcdef0123456789abcdef";

TransferStatus Status(TransferState state, TransferError error = TransferError::None, bool retrying = false) {
    TransferStatus status;
    status.transferId = kId;
    status.state = state;
    status.error = error;
    status.retrying = retrying;
    status.totalBytes = 100;
    return status;
}

// A service whose polls answer a script, one status a poll (the last one
// repeats), and which records the client operations it is asked for.
class ScriptedService : public TransferContract {
public:
    void Script(std::vector<TransferStatus> polls) {
        std::lock_guard lock(mutex_);
        polls_.assign(polls.begin(), polls.end());
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    TransferStatus Transfer(const std::string&, const std::string&, const std::string&) override {
        return Record("Transfer", Status(TransferState::Initializing));
    }
    bool CanTransferTo(const std::string&, const std::string&) override { return true; }
    TransferStatus Start(const std::string&, const std::string& destPath) override {
        return Record("Start " + destPath, startAnswer);
    }
    TransferStatus Update(const std::string&) override {
        std::lock_guard lock(mutex_);
        if (polls_.size() > 1) {
            TransferStatus next = polls_.front();
            polls_.pop_front();
            return next;
        }
        return polls_.empty() ? Status(TransferState::Initializing) : polls_.front();
    }
    TransferStatus Pause(const std::string&) override { return Record("Pause", Status(TransferState::Paused)); }
    TransferStatus Resume(const std::string&) override { return Record("Resume", Status(TransferState::Transferring)); }
    TransferStatus Retry(const std::string&) override { return Record("Retry", Status(TransferState::Transferring)); }
    TransferStatus Suspend(const std::string&) override { return Record("Suspend", suspendAnswer); }
    TransferStatus Restore(const std::string&) override {
        return Record("Restore", Status(TransferState::Initializing));
    }
    TransferStatus Cancel(const std::string&, bool) override {
        return Record("Cancel", Status(TransferState::Cancelled));
    }

    TransferStatus startAnswer = Status(TransferState::Transferring);
    TransferStatus suspendAnswer = Status(TransferState::Suspended);

private:
    TransferStatus Record(const std::string& call, TransferStatus answer) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        return answer;
    }

    std::mutex mutex_;
    std::deque<TransferStatus> polls_;
    std::vector<std::string> calls_;
};

class CliRunnerTest : public ::testing::Test {
protected:
    CliRunnerTest()
        : dest_(std::filesystem::temp_directory_path() / ("vrexa-cli-" + std::to_string(::getpid())) / "a" / "b"),
          monitor_(&service_, std::chrono::milliseconds(5)),
          printer_(out_, ProgressPrinter::Mode::Plain),
          runner_(service_, monitor_, printer_, errors_, false) {
        runner_.SetRetryDelays(std::chrono::milliseconds(1), 2);
        monitor_.Start();
    }
    ~CliRunnerTest() override { std::filesystem::remove_all(dest_.parent_path().parent_path()); }

    int Follow(CliRunner::Purpose purpose = CliRunner::Purpose::Download) {
        return runner_.Follow(service_.Transfer("p", "q", "?"), dest_.string(), purpose);
    }

    std::filesystem::path dest_;
    ScriptedService service_;
    TransferMonitorImpl monitor_;
    std::ostringstream out_;
    std::ostringstream errors_;
    ProgressPrinter printer_;
    CliRunner runner_;
};

TEST_F(CliRunnerTest, StartsIntoTheDestinationOnceInitializedAndEndsComplete) {
    TransferStatus done = Status(TransferState::Complete);
    done.completedBytes = 100;
    service_.Script({Status(TransferState::Initializing), Status(TransferState::Initialized),
                     Status(TransferState::Transferring), done});
    EXPECT_EQ(Follow(), kExitComplete);
    EXPECT_TRUE(std::filesystem::is_directory(dest_)) << "the destination is made before Start";
    // A complete download leaves nothing to resume: its stored entry goes.
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Transfer", "Start " + dest_.string(), "Cancel"}));
    EXPECT_NE(errors_.str().find("transfer " + kId), std::string::npos) << "the id is printed for resume";
    EXPECT_NE(out_.str().find("[100%]"), std::string::npos);
}

TEST_F(CliRunnerTest, ACompleteVerificationIsLeftAsItIs) {
    service_.Script({Status(TransferState::Initialized), Status(TransferState::Complete)});
    EXPECT_EQ(Follow(CliRunner::Purpose::Verify), kExitComplete);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Transfer", "Start " + dest_.string()}));
}

TEST_F(CliRunnerTest, AWaitingErrorIsRetriedThenTheTransferIsKeptAndTheErrorNamed) {
    TransferStatus waiting = Status(TransferState::Transferring, TransferError::NetworkError, true);
    waiting.message = "error|2|6|libcurl error 7 (HTTP 0)";
    waiting.facts.url = "http://n1:8080/packages/k1/data.bin";
    waiting.facts.curlCode = 7;
    waiting.facts.curlError = "Failed to connect to n1 port 8080: Connection refused";
    service_.Script({Status(TransferState::Initialized), waiting});
    runner_.SetVerbose(true);
    EXPECT_EQ(Follow(), kExitNetwork);
    EXPECT_EQ(service_.Calls(),
              (std::vector<std::string>{"Transfer", "Start " + dest_.string(), "Retry", "Retry", "Suspend"}));
    EXPECT_EQ(errors_.str(), "vrexa: transfer " + kId +
                                 "\n"
                                 "vrexa: cannot connect to n1:8080: Failed to connect to n1 port 8080: Connection "
                                 "refused\n"
                                 "vrexa: [NetworkError] error|2|6|libcurl error 7 (HTTP 0); libcurl error 7: Failed "
                                 "to connect to n1 port 8080: Connection refused\n"
                                 "vrexa: the transfer is kept. Go on with: vrexa resume " +
                                 kId + "\n");
}

TEST_F(CliRunnerTest, WithoutRetriesAWaitingErrorIsKeptAtOnce) {
    runner_.SetRetryDelays(std::chrono::hours(1), 0);
    service_.Script({Status(TransferState::Initialized),
                     Status(TransferState::Transferring, TransferError::InsufficientSpace, true)});
    EXPECT_EQ(Follow(), kExitFileSystem);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Transfer", "Start " + dest_.string(), "Suspend"}));
    EXPECT_NE(errors_.str().find("vrexa: there is not enough free space in " + dest_.string() + " for the package\n"),
              std::string::npos)
        << errors_.str();
}

TEST_F(CliRunnerTest, EndingsMapToExitCodes) {
    struct Case {
        TransferStatus end;
        CliRunner::Purpose purpose;
        int code;
        std::string said;
    };
    TransferStatus missing = Status(TransferState::Transferring, TransferError::ChecksumMismatch);
    missing.facts.fileFault = TransferErrorFacts::FileFault::Missing;
    missing.facts.file = "data/a.bin";
    const std::vector<Case> cases = {
        {missing, CliRunner::Purpose::Verify, kExitMismatch,
         "vrexa: data/a.bin is missing in " + dest_.string() + "\n"},
        {missing, CliRunner::Purpose::Download, kExitFailed,
         "vrexa: data/a.bin is missing in " + dest_.string() + "\n"},
        {Status(TransferState::Initializing, TransferError::GeofenceBlocked), CliRunner::Purpose::Download, kExitFailed,
         "vrexa: package \"\" may not be downloaded from this country\n"},
        {Status(TransferState::Cancelled), CliRunner::Purpose::Download, kExitFailed,
         "vrexa: the transfer ended Cancelled\n"},
        {Status(TransferState::Complete), CliRunner::Purpose::Verify, kExitComplete, ""},
    };
    for (const Case& c : cases) {
        ScriptedService service;
        TransferMonitorImpl monitor(&service, std::chrono::milliseconds(5));
        std::ostringstream out;
        std::ostringstream errors;
        ProgressPrinter printer(out, ProgressPrinter::Mode::Quiet);
        CliRunner runner(service, monitor, printer, errors, true);
        service.Script({c.end});
        monitor.Start();
        EXPECT_EQ(runner.Follow(service.Transfer("p", "q", "?"), dest_.string(), c.purpose), c.code)
            << TransferStateName(c.end.state) << " " << TransferErrorName(c.end.error);
        EXPECT_EQ(errors.str(), c.said);
    }
}

TEST_F(CliRunnerTest, AnInterruptSuspendsTheTransferAndSaysHowToResume) {
    service_.Script({Status(TransferState::Initialized), Status(TransferState::Transferring)});
    std::thread interrupter([this] {
        // Once the download runs, as a user pressing Ctrl-C would.
        while (service_.Calls().size() < 2)
            std::this_thread::yield();
        runner_.Interrupt();
    });
    EXPECT_EQ(Follow(), kExitInterrupted);
    interrupter.join();
    EXPECT_EQ(service_.Calls().back(), "Suspend");
    EXPECT_NE(errors_.str().find("vrexa resume " + kId), std::string::npos) << errors_.str();
}

TEST_F(CliRunnerTest, AFailedCreationEndsAtOnce) {
    TransferStatus failed;
    failed.error = TransferError::Unknown;
    EXPECT_EQ(runner_.Follow(failed, dest_.string(), CliRunner::Purpose::Download), kExitFailed);
    EXPECT_EQ(errors_.str(), "vrexa: the transfer could not be created\n");
}

}  // namespace
}  // namespace vrexa::cli
