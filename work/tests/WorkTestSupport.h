#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "tests/support/Eventually.h"
#include "work/CompositeWork.h"
#include "work/ConditionalWork.h"
#include "work/LimitedRetrySimpleWork.h"
#include "work/SimpleWork.h"
#include "work/WorkCompleteCallback.h"
#include "work/WorkManager.h"
#include "work/WorkStatus.h"
#include "work/Workflow.h"

namespace vrexa::testing {

// Long enough never to be reached by a working engine on a loaded machine; a
// wait that reaches it is a failure, not a timing.
inline constexpr std::chrono::seconds kDeadline = testsupport::kEventuallyDeadline;

// A value guarded by a mutex that threads can wait on with a deadline.
template <class T>
class Watched {
public:
    explicit Watched(T initial = T()) : value_(std::move(initial)) {}

    template <class F>
    void Update(F change) {
        {
            std::lock_guard lock(mutex_);
            change(value_);
        }
        changed_.notify_all();
    }
    template <class P>
    bool WaitUntil(P predicate) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return predicate(value_); });
    }
    T Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    T value_;
};

// Opened once; waiters pass from then on.
class Gate {
public:
    void Open() {
        open_.Update([](bool& v) { v = true; });
    }
    bool Wait() {
        return open_.WaitUntil([](bool v) { return v; });
    }

private:
    Watched<bool> open_{false};
};

// Measures how many holders run at once. Each holder, the n-th to start,
// stays until the holders up to the (n + window - 1)-th have started too (or
// every one of total has), so a pool that runs window of them at a time
// reaches exactly window. One that runs fewer cannot: its first holder gives
// up after a limit, every later one passes at once, and the peak shows what
// really ran together.
class ConcurrencyProbe {
public:
    ConcurrencyProbe(int window, int total) : window_(window), total_(total) {}

    void Hold() {
        std::unique_lock lock(mutex_);
        const int order = ++started_;
        highest_ = std::max(highest_, ++current_);
        changed_.notify_all();
        const int awaited = std::min(total_, order + window_ - 1);
        if (!changed_.wait_for(lock, kHoldLimit, [&] { return started_ >= awaited || gaveUp_; })) {
            gaveUp_ = true;
            changed_.notify_all();
        }
        --current_;
    }
    int Highest() const {
        std::lock_guard lock(mutex_);
        return highest_;
    }
    bool GaveUp() const {
        std::lock_guard lock(mutex_);
        return gaveUp_;
    }

private:
    // Ample for threads that are really running to start their jobs, short
    // enough that a pool which serializes them fails its test quickly.
    static constexpr std::chrono::seconds kHoldLimit{10};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    const int window_;
    const int total_;
    int started_ = 0;
    int current_ = 0;
    int highest_ = 0;
    bool gaveUp_ = false;
};

// A work whose task answers from a script indexed by the attempt number
// (counted over the work's whole life).
template <class Base>
class Scripted : public Base {
public:
    using Script = std::function<WorkStatus(int attempt)>;

    template <class... BaseArgs>
    explicit Scripted(Script script, BaseArgs&&... args)
        : Base(std::forward<BaseArgs>(args)...), script_(std::move(script)) {}

    void Describe(boost::property_tree::ptree& tree) const override { tree.put("name", "ScriptedWork"); }
    WorkStatus ExecuteTask() override { return script_(runs.fetch_add(1)); }
    void OnCancel() override { cancels.fetch_add(1); }

    std::atomic<int> runs{0};
    std::atomic<int> cancels{0};

private:
    Script script_;
};

using ScriptedWork = Scripted<SimpleWork>;
using ScriptedLimitedWork = Scripted<LimitedRetrySimpleWork>;

inline WorkStatus StatusOf(WorkResult result) { return WorkStatus(result, nullptr); }

inline std::shared_ptr<ScriptedWork> AlwaysWork(WorkResult result) {
    return std::make_shared<ScriptedWork>([result](int) { return StatusOf(result); });
}

// A work that succeeds after holding its place in probe.
inline std::shared_ptr<ScriptedWork> HoldingWork(ConcurrencyProbe& probe) {
    return std::make_shared<ScriptedWork>([&probe](int) {
        probe.Hold();
        return StatusOf(WorkResult::Success);
    });
}

// A work that blocks in its task until released or cancelled: it reports
// Cancelled when cancelled, otherwise the result it was given.
class GateWork : public SimpleWork {
public:
    explicit GateWork(WorkResult result = WorkResult::Success) : result_(result) {}

    void Describe(boost::property_tree::ptree& tree) const override { tree.put("name", "GateWork"); }
    WorkStatus ExecuteTask() override {
        started.Update([](int& n) { ++n; });
        const bool woken = released_.WaitUntil([this](bool open) { return open || IsCancelled(); });
        if (IsCancelled()) {
            return StatusOf(WorkResult::Cancelled);
        }
        if (!woken) {
            return WorkStatus(WorkResult::FatalError, std::make_shared<WorkErrorData>("GateWork was never released"));
        }
        return StatusOf(result_);
    }
    void OnCancel() override {
        cancels.fetch_add(1);
        released_.Update([](bool&) {});  // wakes the task to see the flag
    }
    void Release() {
        released_.Update([](bool& v) { v = true; });
    }

    Watched<int> started{0};
    std::atomic<int> cancels{0};

private:
    const WorkResult result_;
    Watched<bool> released_{false};
};

// Records every outcome it is told of.
class RecordingCallback : public WorkCompleteCallback {
public:
    struct Call {
        std::shared_ptr<Work> work;
        WorkStatus status;
    };

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override {
        calls_.Update([&](std::vector<Call>& v) { v.push_back(Call{std::move(work), status}); });
    }
    bool WaitForCount(std::size_t n) {
        return calls_.WaitUntil([n](const std::vector<Call>& v) { return v.size() >= n; });
    }
    std::vector<Call> Calls() const { return calls_.Get(); }

private:
    Watched<std::vector<Call>> calls_;
};

// A conditional whose children are assigned by its constructor, as concrete
// works do; an empty child is left unassigned.
class TestConditional : public ConditionalWork {
public:
    TestConditional(std::shared_ptr<Work> condition, std::shared_ptr<Work> onSuccess, std::shared_ptr<Work> onFailure) {
        if (condition) {
            SetCondition(std::move(condition));
        }
        if (onSuccess) {
            SetOnSuccess(std::move(onSuccess));
        }
        if (onFailure) {
            SetOnFailure(std::move(onFailure));
        }
    }
};

// A callback that fails, as a broken log route or transfer handler would.
class ThrowingCallback : public WorkCompleteCallback {
public:
    explicit ThrowingCallback(std::string text) : text_(std::move(text)) {}
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override { throw std::runtime_error(text_); }

private:
    const std::string text_;
};

// A workflow that only records what the tree tells it, so that composites can
// be driven by hand, one outcome at a time.
class RecordingWorkflow : public Workflow {
public:
    struct Queued {
        std::shared_ptr<SimpleWork> work;
        PriorityPath path;
    };

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override {
        std::lock_guard lock(mutex_);
        outcomes_.push_back(RecordingCallback::Call{std::move(work), status});
    }
    bool Start() override { return false; }
    bool Pause() override { return false; }
    bool Resume() override { return false; }
    bool Retry() override { return false; }
    WorkflowState GetState() override { return WorkflowState::Running; }
    bool IsStarted() override { return true; }
    bool IsPaused() override { return false; }
    bool IsSuspended() override { return false; }
    bool IsFinished() override { return false; }
    bool Cancel(const WorkStatus&) override { return false; }
    void AddRetryableErrorCallback(WorkflowRetryableErrorCallback*) override {}
    void QueueSimpleWork(std::shared_ptr<SimpleWork> work) override {
        std::lock_guard lock(mutex_);
        PriorityPath path = work->GetPriorityPath();
        queued_.push_back(Queued{std::move(work), std::move(path)});
        pending_.push_back(queued_.back().work);
    }
    void OnSimpleWorkComplete(std::shared_ptr<SimpleWork>, const WorkStatus&) override {}

    // The oldest queued work not yet taken, or empty.
    std::shared_ptr<SimpleWork> TakeNext() {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) {
            return nullptr;
        }
        std::shared_ptr<SimpleWork> next = pending_.front();
        pending_.pop_front();
        return next;
    }
    std::vector<Queued> AllQueued() {
        std::lock_guard lock(mutex_);
        return queued_;
    }
    std::vector<RecordingCallback::Call> Outcomes() {
        std::lock_guard lock(mutex_);
        return outcomes_;
    }

private:
    std::mutex mutex_;
    std::vector<Queued> queued_;
    std::deque<std::shared_ptr<SimpleWork>> pending_;
    std::vector<RecordingCallback::Call> outcomes_;
};

// A work manager that keeps its jobs until a test runs them, on whatever
// thread the test chooses.
class ManualWorkManager : public WorkManager {
public:
    struct Posted {
        std::shared_ptr<Workflow> workflow;
        std::shared_ptr<SimpleWork> work;
    };

    void Post(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    void Post(std::shared_ptr<SimpleWork> work) override {
        Post([work] { RunSimpleWork(work); });
    }
    void Post(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(Posted{workflow, work});
        jobs_.push_back([workflow, work] { RunWorkflowWork(workflow, work); });
    }

    // The oldest job not yet taken; empty when there is none.
    std::function<void()> TakeJob() {
        std::lock_guard lock(mutex_);
        if (jobs_.empty()) {
            return nullptr;
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        return job;
    }
    // Runs every job on the calling thread, including those the jobs post.
    void RunAll() {
        while (std::function<void()> job = TakeJob()) {
            job();
        }
    }
    std::vector<Posted> AllPosted() {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    std::size_t PendingJobs() {
        std::lock_guard lock(mutex_);
        return jobs_.size();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    std::vector<Posted> posted_;
};

}  // namespace vrexa::testing
