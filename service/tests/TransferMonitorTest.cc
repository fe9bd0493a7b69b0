#include "service/TransferMonitorImpl.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/TransferContract.h"
#include "service/TransferMonitorCallback.h"

namespace vrexa {
namespace {

using TS = TransferState;
using TE = TransferError;

TransferStatus StatusOf(const std::string& id, TS state, TE error = TE::None, bool retrying = false) {
    TransferStatus status;
    status.transferId = id;
    status.state = state;
    status.error = error;
    status.retrying = retrying;
    return status;
}

// The service as the monitor sees it: Update answers what the test set; an
// unknown id is a transfer the service does not hold.
class ScriptedService : public TransferContract {
public:
    TransferStatus Update(const std::string& id) override {
        std::function<void()> hook;
        TransferStatus status;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++updates_;
            auto found = statuses_.find(id);
            status = found == statuses_.end() ? StatusOf(id, TS::None) : found->second;
            hook = onUpdate_;
        }
        if (hook) hook();
        if (status.state == TS::None && status.transferId == "throws") throw std::runtime_error("broken");
        return status;
    }
    void Set(const TransferStatus& status) {
        std::lock_guard<std::mutex> guard(mutex_);
        statuses_[status.transferId] = status;
    }
    void OnUpdate(std::function<void()> hook) {
        std::lock_guard<std::mutex> guard(mutex_);
        onUpdate_ = std::move(hook);
    }
    int Updates() {
        std::lock_guard<std::mutex> guard(mutex_);
        return updates_;
    }

    TransferStatus Transfer(const std::string&, const std::string&, const std::string&) override { return {}; }
    bool CanTransferTo(const std::string&, const std::string&) override { return false; }
    TransferStatus Start(const std::string&, const std::string&) override { return {}; }
    TransferStatus Pause(const std::string&) override { return {}; }
    TransferStatus Resume(const std::string&) override { return {}; }
    TransferStatus Retry(const std::string&) override { return {}; }
    TransferStatus Suspend(const std::string&) override { return {}; }
    TransferStatus Restore(const std::string&) override { return {}; }
    TransferStatus Cancel(const std::string&, bool) override { return {}; }

private:
    std::mutex mutex_;
    std::map<std::string, TransferStatus> statuses_;
    std::function<void()> onUpdate_;
    int updates_ = 0;
};

// Writes "<call>:<id>" into a shared journal, so the order across callbacks shows.
class RecordingCallback : public TransferMonitorCallback {
public:
    explicit RecordingCallback(std::vector<std::string>& journal, bool throws = false)
        : journal_(journal), throws_(throws) {}
    void OnProgress(const TransferStatus& s) override { Note("progress", s); }
    void OnInitialized(const TransferStatus& s) override { Note("initialized", s); }
    void OnError(const TransferStatus& s) override { Note("error", s); }
    void OnEnd(const TransferStatus& s) override { Note("end", s); }

private:
    void Note(const char* call, const TransferStatus& status) {
        journal_.push_back(std::string(call) + ":" + status.transferId);
        if (throws_) throw std::runtime_error("callback failed");
    }
    std::vector<std::string>& journal_;
    bool throws_;
};

TEST(TransferMonitor, ReportsInIdOrderAndKeepsOnlyRunningRegistrations) {
    ScriptedService service;
    service.Set(StatusOf("a", TS::Transferring));
    service.Set(StatusOf("b", TS::Initialized));
    service.Set(StatusOf("c", TS::Transferring, TE::NetworkError, true));
    service.Set(StatusOf("d", TS::Complete));
    service.Set(StatusOf("e", TS::Transferring, TE::ChecksumMismatch, false));
    service.Set(StatusOf("f", TS::Initialized, TE::NetworkError, true));
    std::vector<std::string> journal;
    RecordingCallback callback(journal);
    TransferMonitorImpl monitor(&service);
    for (const char* id : {"f", "e", "d", "c", "b", "a", "unknown"})
        monitor.AddCallback(id, &callback);

    ASSERT_TRUE(monitor.PollOnce());
    EXPECT_EQ(journal, (std::vector<std::string>{"progress:a", "initialized:b", "error:c", "end:d", "end:e",
                                                 "initialized:f", "error:f", "end:unknown"}));
    journal.clear();
    ASSERT_TRUE(monitor.PollOnce());
    EXPECT_EQ(journal, std::vector<std::string>{"progress:a"});
}

TEST(TransferMonitor, ARegisteredIdKeepsItsFirstCallback) {
    ScriptedService service;
    service.Set(StatusOf("a", TS::Transferring));
    std::vector<std::string> first;
    std::vector<std::string> second;
    RecordingCallback one(first);
    RecordingCallback two(second);
    TransferMonitorImpl monitor(&service);
    monitor.AddCallback("a", &one);
    monitor.AddCallback("a", &two);
    monitor.PollOnce();
    EXPECT_EQ(first.size(), 1u);
    EXPECT_TRUE(second.empty());
    monitor.RemoveCallback("a");
    monitor.PollOnce();
    EXPECT_EQ(first.size(), 1u);
}

TEST(TransferMonitor, AFailingTransferOrCallbackDoesNotStopTheOthers) {
    ScriptedService service;
    service.Set(StatusOf("b", TS::Transferring));
    service.Set(StatusOf("c", TS::Complete));
    std::vector<std::string> journal;
    RecordingCallback throwing(journal, true);
    RecordingCallback plain(journal);
    TransferMonitorImpl monitor(&service);
    monitor.AddCallback("b", &throwing);
    monitor.AddCallback("c", &plain);
    monitor.AddCallback("throws", &plain);
    EXPECT_TRUE(monitor.PollOnce());
    EXPECT_EQ(journal, (std::vector<std::string>{"progress:b", "end:c"}));
}

TEST(TransferMonitor, ACallbackRegisteredAgainWhilePolledStays) {
    ScriptedService service;
    service.Set(StatusOf("a", TS::Complete));
    std::vector<std::string> journal;
    RecordingCallback old(journal);
    RecordingCallback renewed(journal);
    TransferMonitorImpl monitor(&service);
    monitor.AddCallback("a", &old);
    // Another thread replaces the registration while its status is fetched.
    service.OnUpdate([&] {
        service.OnUpdate(nullptr);
        monitor.RemoveCallback("a");
        monitor.AddCallback("a", &renewed);
        service.Set(StatusOf("a", TS::Transferring));
    });
    monitor.PollOnce();
    journal.clear();
    monitor.PollOnce();
    EXPECT_EQ(journal, std::vector<std::string>{"progress:a"});
}

TEST(TransferMonitor, TheThreadPollsEveryPeriodUntilDestroyed) {
    ScriptedService service;
    service.Set(StatusOf("a", TS::Transferring));
    std::mutex mutex;
    std::condition_variable changed;
    int progress = 0;
    struct Counter : TransferMonitorCallback {
        std::mutex& mutex;
        std::condition_variable& changed;
        int& progress;
        Counter(std::mutex& m, std::condition_variable& c, int& p) : mutex(m), changed(c), progress(p) {}
        void OnProgress(const TransferStatus&) override {
            std::lock_guard<std::mutex> guard(mutex);
            ++progress;
            changed.notify_all();
        }
        void OnInitialized(const TransferStatus&) override {}
        void OnError(const TransferStatus&) override {}
        void OnEnd(const TransferStatus&) override {}
    } counter(mutex, changed, progress);
    const auto started = std::chrono::steady_clock::now();
    {
        TransferMonitorImpl monitor(&service);
        monitor.AddCallback("a", &counter);
        monitor.Start();
        std::unique_lock<std::mutex> guard(mutex);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return progress >= 3; }));
    }
    // Three rounds cannot come sooner than 90% of three periods.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(270));
}

}  // namespace
}  // namespace vrexa
