#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "work/AsioWorkManager.h"
#include "work/WorkCompleteCallbackRoute.h"
#include "work/ConditionalWork.h"
#include "work/DeferredWork.h"
#include "work/LazyParallelWork.h"
#include "work/LimitedRetrySequentialWork.h"
#include "work/ParallelWork.h"
#include "work/SequentialWork.h"
#include "work/StandardWorkflow.h"
#include "work/tests/WorkTestSupport.h"

namespace vrexa {
namespace {

using testing::AlwaysWork;
using testing::ConcurrencyProbe;
using testing::GateWork;
using testing::HoldingWork;
using testing::ManualWorkManager;
using testing::RecordingCallback;
using testing::ScriptedLimitedWork;
using testing::ScriptedWork;
using testing::StatusOf;
using testing::TestConditional;

std::shared_ptr<StandardWorkflow> MakeWorkflow(std::shared_ptr<Work> root, WorkManager& manager, int maxRunning) {
    auto workflow = std::make_shared<StandardWorkflow>(root, &manager, maxRunning);
    root->SetWorkflow(workflow);
    return workflow;
}

template <class... Children>
std::shared_ptr<ParallelWork> Parallel(Children... children) {
    auto parallel = std::make_shared<ParallelWork>();
    (parallel->AddChild(children), ...);
    return parallel;
}

template <class... Children>
std::shared_ptr<SequentialWork> Sequence(Children... children) {
    auto sequence = std::make_shared<SequentialWork>(sizeof...(children));
    (sequence->AddChild(children), ...);
    return sequence;
}

// A lazy parallel work whose total children are made by make.
class MadeLazyWork : public LazyParallelWork {
public:
    MadeLazyWork(unsigned capacity, int total, std::function<std::shared_ptr<Work>()> make)
        : LazyParallelWork(capacity), total_(total), make_(std::move(make)) {}

    std::shared_ptr<Work> CreateNextChild() override {
        if (made_ == total_) {
            return nullptr;
        }
        ++made_;
        return make_();
    }

private:
    const int total_;
    const std::function<std::shared_ptr<Work>()> make_;
    int made_ = 0;
};

struct RunOutcome {
    WorkStatus status;  // the root's first outcome
    WorkflowState state;
};

// Runs the tree on a real pool until its root reports.
RunOutcome RunToOutcome(const std::shared_ptr<Work>& root, unsigned threads, int maxRunning) {
    RecordingCallback outcome;
    root->AddCompleteCallback(&outcome);
    AsioWorkManager manager(threads, false);
    auto workflow = MakeWorkflow(root, manager, maxRunning);
    EXPECT_TRUE(workflow->Start());
    if (!outcome.WaitForCount(1)) {
        ADD_FAILURE() << "the root never reported";
        workflow->Cancel(WorkStatus());
        return RunOutcome{WorkStatus(), workflow->GetState()};
    }
    return RunOutcome{outcome.Calls()[0].status, workflow->GetState()};
}

std::vector<PriorityPath> PostedPaths(ManualWorkManager& manager) {
    std::vector<PriorityPath> paths;
    for (const auto& posted : manager.AllPosted()) {
        paths.push_back(posted.work->GetPriorityPath());
    }
    return paths;
}

// Records each suspension, and the state the workflow shows to the callback
// (which also proves the workflow's lock is not held while it is called).
class RecordingRetryableErrorCallback : public WorkflowRetryableErrorCallback {
public:
    void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override {
        works.push_back(std::move(work));
        statuses.push_back(status);
        states.push_back(workflow->GetState());
    }
    std::vector<std::shared_ptr<Work>> works;
    std::vector<WorkStatus> statuses;
    std::vector<WorkflowState> states;
};

TEST(StandardWorkflowTest, StartWithARootThatQueuesNothingRunsWithNothingDispatched) {
    ManualWorkManager manager;
    auto workflow = MakeWorkflow(std::make_shared<ParallelWork>(), manager, 4);
    EXPECT_FALSE(workflow->IsStarted());
    EXPECT_TRUE(workflow->Start());
    EXPECT_EQ(workflow->GetState(), WorkflowState::Running);
    EXPECT_TRUE(manager.AllPosted().empty());
    EXPECT_FALSE(workflow->Start());
}

// A root that fails once it has queued its children, the first time only.
class FailingOnceToQueue : public ParallelWork {
public:
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override {
        ParallelWork::QueueAvailableWork(std::move(workflow));
        if (!failed.exchange(true)) {
            throw std::runtime_error("no room for the tree");
        }
    }
    std::atomic<bool> failed{false};
};

TEST(StandardWorkflowTest, StartWhoseRootFailsToQueueLeavesItNotStartedWithNothingQueued) {
    ManualWorkManager manager;
    auto root = std::make_shared<FailingOnceToQueue>();
    root->AddChild(AlwaysWork(WorkResult::Success));
    root->AddChild(AlwaysWork(WorkResult::Success));
    auto workflow = MakeWorkflow(root, manager, 4);
    EXPECT_THROW(workflow->Start(), std::runtime_error);
    EXPECT_EQ(workflow->GetState(), WorkflowState::NotStarted);
    EXPECT_FALSE(workflow->Pause());
    EXPECT_TRUE(manager.AllPosted().empty());

    // What the failed attempt queued is gone: each child runs once.
    EXPECT_TRUE(workflow->Start());
    EXPECT_EQ(manager.AllPosted().size(), 2u);
    manager.RunAll();
    EXPECT_EQ(workflow->GetState(), WorkflowState::Finished);
    EXPECT_EQ(manager.AllPosted().size(), 2u);
}

TEST(StandardWorkflowTest, DispatchesSmallestPriorityPathFirstWithinTheRunningLimit) {
    ManualWorkManager manager;
    auto workflow = MakeWorkflow(std::make_shared<ParallelWork>(), manager, 2);
    for (const PriorityPath& path : std::vector<PriorityPath>{{0, 0}, {0, 1}, {0, 2}, {1}, {0}}) {
        auto work = AlwaysWork(WorkResult::Success);
        work->SetPriorityPath(path);
        workflow->QueueSimpleWork(work);
    }
    ASSERT_TRUE(workflow->Start());
    EXPECT_EQ(PostedPaths(manager), (std::vector<PriorityPath>{{0}, {0, 0}}));

    // Each finished work frees one place, never more.
    for (std::size_t finished = 1; finished <= 3; ++finished) {
        manager.TakeJob()();
        EXPECT_EQ(manager.AllPosted().size(), finished + 2);
    }
    manager.RunAll();
    EXPECT_EQ(PostedPaths(manager), (std::vector<PriorityPath>{{0}, {0, 0}, {0, 1}, {0, 2}, {1}}));
}

TEST(StandardWorkflowTest, RunsMaxRunningWorksAtOnceAndNoMoreOnManyThreads) {
    ConcurrencyProbe probe(2, 60);
    auto root = std::make_shared<ParallelWork>();
    for (int i = 0; i < 60; ++i) {
        root->AddChild(HoldingWork(probe));
    }
    const RunOutcome run = RunToOutcome(root, 6, 2);
    EXPECT_EQ(run.status.result, WorkResult::Success);
    EXPECT_EQ(run.state, WorkflowState::Finished);
    EXPECT_EQ(probe.Highest(), 2);
    EXPECT_FALSE(probe.GaveUp());
}

// After the first phase of a tree every dispatch comes from a worker thread
// (a finished work queues its successors); those works must still spread
// over the pool, as the files after a package's run file do.
TEST(StandardWorkflowTest, WorksDispatchedByFinishedWorksRunConcurrently) {
    constexpr int kThreads = 6;
    struct Shape {
        const char* name;
        std::function<std::shared_ptr<Work>(ConcurrencyProbe&)> build;  // the probe sees the last phase
    };
    const std::vector<Shape> shapes = {
        {"a parallel after a sequence step",
         [](ConcurrencyProbe& probe) {
             auto parallel = std::make_shared<ParallelWork>();
             for (int i = 0; i < kThreads; ++i) {
                 parallel->AddChild(HoldingWork(probe));
             }
             return Sequence(AlwaysWork(WorkResult::Success), parallel);
         }},
        {"two lazy files after a run file",
         [](ConcurrencyProbe& probe) {
             const auto plain = [] { return AlwaysWork(WorkResult::Success); };
             const auto holding = [&probe] { return HoldingWork(probe); };
             return Sequence(std::make_shared<MadeLazyWork>(3, 3, plain),
                             Parallel(std::make_shared<MadeLazyWork>(3, 3, holding),
                                      std::make_shared<MadeLazyWork>(3, 3, holding)));
         }},
    };
    for (const Shape& shape : shapes) {
        ConcurrencyProbe probe(kThreads, kThreads);
        const RunOutcome run = RunToOutcome(shape.build(probe), kThreads, kThreads);
        EXPECT_EQ(run.status.result, WorkResult::Success) << shape.name;
        EXPECT_EQ(probe.Highest(), kThreads) << shape.name;
        EXPECT_FALSE(probe.GaveUp()) << shape.name;
    }
}

TEST(StandardWorkflowTest, PauseCancelsRunningWorksWhichComeBackCancelledAndWaitForResume) {
    ManualWorkManager manager;
    std::vector<std::shared_ptr<GateWork>> gates = {std::make_shared<GateWork>(), std::make_shared<GateWork>(),
                                                    std::make_shared<GateWork>()};
    auto root = Parallel(gates[0], gates[1], gates[2]);
    RecordingCallback outcome;
    root->AddCompleteCallback(&outcome);
    auto workflow = MakeWorkflow(root, manager, 3);
    ASSERT_TRUE(workflow->Start());
    ASSERT_EQ(manager.AllPosted().size(), 3u);

    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back(manager.TakeJob());
    }
    for (const auto& gate : gates) {
        ASSERT_TRUE(gate->started.WaitUntil([](int n) { return n == 1; }));
    }
    EXPECT_TRUE(workflow->Pause());
    EXPECT_EQ(workflow->GetState(), WorkflowState::Paused);
    for (std::thread& worker : workers) {
        worker.join();
    }

    for (const auto& gate : gates) {
        EXPECT_EQ(gate->cancels, 1);
    }
    EXPECT_EQ(manager.AllPosted().size(), 3u);  // queued again, nothing dispatched
    EXPECT_EQ(manager.PendingJobs(), 0u);
    EXPECT_TRUE(outcome.Calls().empty());
    EXPECT_FALSE(workflow->Pause());

    EXPECT_TRUE(workflow->Resume());
    ASSERT_EQ(manager.AllPosted().size(), 6u);
    for (const auto& gate : gates) {
        gate->Release();
    }
    manager.RunAll();
    ASSERT_EQ(outcome.Calls().size(), 1u);
    EXPECT_EQ(outcome.Calls()[0].status.result, WorkResult::Success);
    EXPECT_EQ(workflow->GetState(), WorkflowState::Finished);
}

TEST(StandardWorkflowTest, UnretriedRetryableErrorSuspendsAndIsReportedOnce) {
    ManualWorkManager manager;
    auto flaky = std::make_shared<ScriptedWork>(
        [](int attempt) { return StatusOf(attempt == 0 ? WorkResult::RetryableError : WorkResult::Success); });
    auto other = AlwaysWork(WorkResult::Success);
    auto root = Parallel(flaky, other);
    RecordingCallback outcome;
    root->AddCompleteCallback(&outcome);
    auto workflow = MakeWorkflow(root, manager, 2);
    RecordingRetryableErrorCallback first;
    RecordingRetryableErrorCallback second;
    workflow->AddRetryableErrorCallback(&first);
    workflow->AddRetryableErrorCallback(&second);
    ASSERT_TRUE(workflow->Start());

    manager.TakeJob()();  // flaky fails
    EXPECT_EQ(workflow->GetState(), WorkflowState::Suspended);
    for (const RecordingRetryableErrorCallback* callback : {&first, &second}) {
        ASSERT_EQ(callback->works.size(), 1u);
        EXPECT_EQ(callback->works[0], flaky);
        EXPECT_EQ(callback->statuses[0].result, WorkResult::RetryableError);
        EXPECT_EQ(callback->states[0], WorkflowState::Suspended);
    }
    EXPECT_EQ(other->cancels, 1);

    // A second report while suspended tells nobody.
    workflow->OnWorkComplete(other, StatusOf(WorkResult::RetryableError));
    EXPECT_EQ(first.works.size(), 1u);

    manager.RunAll();  // the cancelled work comes back and waits
    EXPECT_EQ(other->runs, 0);
    EXPECT_EQ(manager.AllPosted().size(), 2u);

    EXPECT_TRUE(workflow->Retry());
    EXPECT_EQ(manager.AllPosted().size(), 4u);
    manager.RunAll();
    EXPECT_EQ(flaky->runs, 2);
    ASSERT_EQ(outcome.Calls().size(), 1u);
    EXPECT_EQ(outcome.Calls()[0].status.result, WorkResult::Success);
}

// A retrying sequence whose outcome handling can be held up after it has
// queued its child again, so that another work's report lands in between.
class HeldRetrySequence : public LimitedRetrySequentialWork {
public:
    explicit HeldRetrySequence(unsigned maxRetries) : LimitedRetrySequentialWork(maxRetries) {}
    void OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& status) override {
        LimitedRetrySequentialWork::OnWorkComplete(std::move(child), status);
        handled.Update([](int& n) { ++n; });
        release.Wait();
    }
    testing::Watched<int> handled{0};
    testing::Gate release;
};

TEST(StandardWorkflowTest, WorkQueuedAgainWhileItsRunStillReportsStaysCountedAsRunning) {
    ManualWorkManager manager;
    auto flaky = std::make_shared<ScriptedWork>(
        [](int attempt) { return StatusOf(attempt == 0 ? WorkResult::Failure : WorkResult::Success); });
    auto retrying = std::make_shared<HeldRetrySequence>(1u);
    retrying->AddChild(flaky);
    auto other = AlwaysWork(WorkResult::Success);
    auto workflow = MakeWorkflow(Parallel(retrying, other), manager, 2);
    ASSERT_TRUE(workflow->Start());

    // flaky fails and is queued again by its sequence; its report is held.
    std::thread worker(manager.TakeJob());
    ASSERT_TRUE(retrying->handled.WaitUntil([](int n) { return n == 1; }));
    // other's report dispatches flaky's second run meanwhile.
    manager.TakeJob()();
    ASSERT_EQ(manager.AllPosted().size(), 3u);
    retrying->release.Open();
    worker.join();

    // The second run is still running, so pausing cancels it.
    EXPECT_TRUE(workflow->Pause());
    EXPECT_EQ(flaky->cancels, 1);
}

TEST(StandardWorkflowTest, LimitedRetryWorkGetsItsFullAllowanceAgainAfterRetry) {
    ManualWorkManager manager;
    auto work = std::make_shared<ScriptedLimitedWork>([](int) { return StatusOf(WorkResult::RetryableError); }, 1u);
    auto workflow = MakeWorkflow(Sequence(work), manager, 1);
    RecordingRetryableErrorCallback suspensions;
    workflow->AddRetryableErrorCallback(&suspensions);
    ASSERT_TRUE(workflow->Start());

    manager.RunAll();
    EXPECT_EQ(work->runs, 2);
    EXPECT_EQ(suspensions.works.size(), 1u);
    EXPECT_FALSE(suspensions.statuses[0].retry);

    ASSERT_TRUE(workflow->Retry());
    manager.RunAll();
    EXPECT_EQ(work->runs, 4);
    EXPECT_EQ(suspensions.works.size(), 2u);
    EXPECT_EQ(workflow->GetState(), WorkflowState::Suspended);
}

TEST(StandardWorkflowTest, OperationsFollowTheStateDiagram) {
    enum class Op { Start, Pause, Resume, Retry, Fail };
    struct Step {
        Op op;
        bool returns;
        WorkflowState after;
    };
    const std::vector<Step> steps = {
        {Op::Pause, false, WorkflowState::NotStarted}, {Op::Resume, false, WorkflowState::NotStarted},
        {Op::Retry, false, WorkflowState::NotStarted}, {Op::Start, true, WorkflowState::Running},
        {Op::Resume, false, WorkflowState::Running},   {Op::Retry, false, WorkflowState::Running},
        {Op::Pause, true, WorkflowState::Paused},      {Op::Pause, false, WorkflowState::Paused},
        {Op::Retry, false, WorkflowState::Paused},     {Op::Fail, true, WorkflowState::PausedSuspended},
        {Op::Resume, true, WorkflowState::Suspended},  {Op::Pause, true, WorkflowState::PausedSuspended},
        {Op::Retry, true, WorkflowState::Paused},      {Op::Resume, true, WorkflowState::Running},
        {Op::Fail, true, WorkflowState::Suspended},    {Op::Resume, false, WorkflowState::Suspended},
        {Op::Retry, true, WorkflowState::Running},     {Op::Start, false, WorkflowState::Running},
    };
    ManualWorkManager manager;
    auto root = std::make_shared<ParallelWork>();
    auto failing = AlwaysWork(WorkResult::RetryableError);
    auto workflow = MakeWorkflow(root, manager, 1);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        bool returned = true;
        switch (step.op) {
            case Op::Start:
                returned = workflow->Start();
                break;
            case Op::Pause:
                returned = workflow->Pause();
                break;
            case Op::Resume:
                returned = workflow->Resume();
                break;
            case Op::Retry:
                returned = workflow->Retry();
                break;
            case Op::Fail:
                workflow->OnWorkComplete(failing, StatusOf(WorkResult::RetryableError));
                break;
        }
        EXPECT_EQ(returned, step.returns) << "step " << i;
        EXPECT_EQ(workflow->GetState(), step.after) << "step " << i;
    }
}

TEST(StandardWorkflowTest, CancelNotifiesTheRootOnceAndStopsRunningWorks) {
    ManualWorkManager manager;
    auto gate = std::make_shared<GateWork>();
    auto root = Sequence(gate, AlwaysWork(WorkResult::Success));
    RecordingCallback outcome;
    root->AddCompleteCallback(&outcome);
    auto workflow = MakeWorkflow(root, manager, 2);
    ASSERT_TRUE(workflow->Start());
    std::thread worker(manager.TakeJob());
    ASSERT_TRUE(gate->started.WaitUntil([](int n) { return n == 1; }));

    const WorkStatus given(WorkResult::Failure, std::make_shared<WorkErrorData>("cancelled by the user"));
    EXPECT_TRUE(workflow->Cancel(given));
    worker.join();

    EXPECT_EQ(gate->cancels, 1);
    EXPECT_EQ(workflow->GetState(), WorkflowState::Cancelled);
    EXPECT_TRUE(workflow->IsFinished());
    ASSERT_EQ(outcome.Calls().size(), 1u);
    EXPECT_EQ(outcome.Calls()[0].work, root);
    EXPECT_EQ(outcome.Calls()[0].status.data->ToString(), "cancelled by the user");

    EXPECT_FALSE(workflow->Cancel(given));
    EXPECT_EQ(outcome.Calls().size(), 1u);
    EXPECT_FALSE(workflow->Pause());
    EXPECT_FALSE(workflow->Start());
    EXPECT_EQ(manager.PendingJobs(), 0u);  // the cancelled work was dropped, not queued
    EXPECT_EQ(manager.AllPosted().size(), 1u);
}

TEST(StandardWorkflowTest, FatalErrorFromADeepWorkFinishesTheWorkflowBeforeItsParentsReport) {
    ManualWorkManager manager;
    auto deep = AlwaysWork(WorkResult::FatalError);
    auto sibling = AlwaysWork(WorkResult::Success);
    auto root = Sequence(Parallel(Sequence(deep), sibling), AlwaysWork(WorkResult::Success));
    std::shared_ptr<StandardWorkflow> workflow;
    std::vector<WorkflowState> seenByRoot;
    WorkCompleteCallbackRoute rootCallback(
        [&](std::shared_ptr<Work>, const WorkStatus&) { seenByRoot.push_back(workflow->GetState()); });
    root->AddCompleteCallback(&rootCallback);
    workflow = MakeWorkflow(root, manager, 4);
    ASSERT_TRUE(workflow->Start());
    ASSERT_EQ(manager.AllPosted().size(), 2u);

    manager.TakeJob()();
    EXPECT_EQ(workflow->GetState(), WorkflowState::Finished);
    EXPECT_EQ(seenByRoot, std::vector<WorkflowState>{WorkflowState::Finished});
    EXPECT_EQ(sibling->cancels, 1);
    manager.RunAll();
    EXPECT_EQ(sibling->runs, 0);
    EXPECT_EQ(manager.AllPosted().size(), 2u);
}

TEST(StandardWorkflowTest, FinalOutcomeOfTheRootFinishesTheWorkflow) {
    for (WorkResult result : {WorkResult::Success, WorkResult::Failure}) {
        ManualWorkManager manager;
        auto root = Sequence(AlwaysWork(result));
        auto workflow = MakeWorkflow(root, manager, 1);
        ASSERT_TRUE(workflow->Start());
        manager.RunAll();
        EXPECT_EQ(workflow->GetState(), WorkflowState::Finished) << static_cast<int>(result);
    }
}

TEST(StandardWorkflowTest, ExceptionFromACallbackCancelsTheWorkflowWithFatalError) {
    testing::ThrowingCallback throwing("log route failed");
    auto first = AlwaysWork(WorkResult::Success);
    first->AddCompleteCallback(&throwing);
    auto second = AlwaysWork(WorkResult::Success);
    auto root = Sequence(first, second);
    const RunOutcome run = RunToOutcome(root, 2, 2);
    EXPECT_EQ(run.status.result, WorkResult::FatalError);
    EXPECT_EQ(run.state, WorkflowState::Cancelled);
    auto data = std::dynamic_pointer_cast<WorkExceptionData>(run.status.data);
    ASSERT_NE(data, nullptr);
    EXPECT_THROW(data->Rethrow(), std::runtime_error);
    EXPECT_EQ(second->runs, 0);
}

// What runs, not what the work counts as in flight: its children hold their
// places in a probe while they run.
TEST(StandardWorkflowTest, LazyParallelWorkRunsExactlyItsCapacityAtOnceOnManyThreads) {
    ConcurrencyProbe probe(3, 200);
    auto lazy = std::make_shared<MadeLazyWork>(3, 200, [&probe] { return HoldingWork(probe); });
    EXPECT_EQ(RunToOutcome(lazy, 4, 16).status.result, WorkResult::Success);
    EXPECT_EQ(probe.Highest(), 3);
    EXPECT_FALSE(probe.GaveUp());
}

TEST(StandardWorkflowTest, TreeOfEveryKindRunsToSuccessOnRealThreads) {
    // Sequence[
    //   LimitedRetrySequence[flaky once, then fine],
    //   Parallel[ lazy(2 of 20), Conditional(fails ? x : assigner) ],
    //   Deferred(filled by assigner)
    // ]
    auto lazy = std::make_shared<MadeLazyWork>(2, 20, [] { return AlwaysWork(WorkResult::Success); });
    auto deferred = std::make_shared<DeferredWork>();
    auto deferredChild = AlwaysWork(WorkResult::Success);
    std::atomic<bool> assigned{false};
    auto assigner = std::make_shared<ScriptedWork>([&](int) {
        assigned = deferred->Assign(deferredChild);
        return StatusOf(WorkResult::Success);
    });
    auto skipped = AlwaysWork(WorkResult::Success);
    auto conditional = std::make_shared<TestConditional>(AlwaysWork(WorkResult::Failure), skipped, assigner);
    auto flaky = std::make_shared<ScriptedWork>(
        [](int attempt) { return StatusOf(attempt == 0 ? WorkResult::Failure : WorkResult::Success); });
    auto retrying = std::make_shared<LimitedRetrySequentialWork>(1u);
    retrying->AddChild(flaky);
    auto root = Sequence(retrying, Parallel(lazy, conditional), deferred);

    const RunOutcome run = RunToOutcome(root, 3, 4);
    EXPECT_EQ(run.status.result, WorkResult::Success);
    EXPECT_EQ(run.state, WorkflowState::Finished);
    EXPECT_EQ(flaky->runs, 2);
    EXPECT_EQ(skipped->runs, 0);
    EXPECT_TRUE(assigned);
    EXPECT_EQ(deferredChild->runs, 1);
}

}  // namespace
}  // namespace vrexa
