#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "work/ConditionalWork.h"
#include "work/DeferredWork.h"
#include "work/LazyParallelWork.h"
#include "work/LimitedRetrySequentialWork.h"
#include "work/NoOpWork.h"
#include "work/ParallelWork.h"
#include "work/SequentialWork.h"
#include "work/tests/WorkTestSupport.h"

namespace vrexa {
namespace {

using testing::AlwaysWork;
using testing::RecordingCallback;
using testing::RecordingWorkflow;
using testing::StatusOf;
using testing::TestConditional;

// Drives a tree by hand: the tree queues its simple works into a recording
// workflow, and the test completes them one at a time, oldest first.
class Harness {
public:
    explicit Harness(std::shared_ptr<CompositeWork> root) : root_(std::move(root)) {
        this->root_->AddCompleteCallback(&rootOutcomes);
        this->root_->SetWorkflow(workflow);
        this->root_->QueueAvailableWork(workflow);
    }

    std::shared_ptr<SimpleWork> Complete(const WorkStatus& status) {
        std::shared_ptr<SimpleWork> next = workflow->TakeNext();
        EXPECT_NE(next, nullptr) << "nothing queued";
        if (next) {
            next->NotifyComplete(status);
            // As the real workflow does, a non-final outcome queues the work again.
            if (!status.IsFinal()) {
                workflow->QueueSimpleWork(next);
            }
        }
        return next;
    }
    std::shared_ptr<SimpleWork> Complete(WorkResult result) { return Complete(StatusOf(result)); }

    // The root's single outcome, if it has one; more than one is a fault.
    std::optional<WorkStatus> Outcome() const {
        const auto calls = rootOutcomes.Calls();
        EXPECT_LE(calls.size(), 1u);
        if (calls.empty()) {
            return std::nullopt;
        }
        return calls.back().status;
    }
    std::vector<PriorityPath> QueuedPaths() const {
        std::vector<PriorityPath> paths;
        for (const auto& queued : workflow->AllQueued()) {
            paths.push_back(queued.path);
        }
        return paths;
    }
    std::size_t QueuedCount() const { return workflow->AllQueued().size(); }

    std::shared_ptr<RecordingWorkflow> workflow = std::make_shared<RecordingWorkflow>();
    RecordingCallback rootOutcomes;

private:
    std::shared_ptr<CompositeWork> root_;
};

std::shared_ptr<WorkErrorData> Error(const std::string& text) { return std::make_shared<WorkErrorData>(text); }

std::shared_ptr<SequentialWork> SequenceOf(int count) {
    auto sequence = std::make_shared<SequentialWork>(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        sequence->AddChild(AlwaysWork(WorkResult::Success));
    }
    return sequence;
}

std::shared_ptr<ParallelWork> ParallelOf(int count) {
    auto parallel = std::make_shared<ParallelWork>();
    for (int i = 0; i < count; ++i) {
        parallel->AddChild(AlwaysWork(WorkResult::Success));
    }
    return parallel;
}

struct OutcomeCase {
    std::string name;
    std::vector<WorkResult> childOutcomes;  // given to the queued works, oldest first
    std::optional<WorkResult> expected;     // nothing: the composite is still incomplete
    std::size_t queued;                     // queueings in all, the workflow's own included
};

void RunOutcomeCase(const OutcomeCase& c, std::shared_ptr<CompositeWork> root) {
    SCOPED_TRACE(c.name);
    Harness harness(root);
    for (WorkResult result : c.childOutcomes) {
        harness.Complete(result);
    }
    const std::optional<WorkStatus> outcome = harness.Outcome();
    ASSERT_EQ(outcome.has_value(), c.expected.has_value());
    if (c.expected) {
        EXPECT_EQ(outcome->result, *c.expected);
        EXPECT_TRUE(root->IsComplete());
    }
    EXPECT_EQ(harness.QueuedCount(), c.queued);
}

TEST(SequentialWorkTest, OutcomeRules) {
    const std::vector<OutcomeCase> cases = {
        {"every child succeeds",
         {WorkResult::Success, WorkResult::Success, WorkResult::Success},
         WorkResult::Success,
         3},
        {"a Failure stops the sequence", {WorkResult::Success, WorkResult::Failure}, WorkResult::Failure, 2},
        {"a FatalError stops the sequence", {WorkResult::FatalError}, WorkResult::FatalError, 1},
        {"non-final outcomes do not advance", {WorkResult::Cancelled, WorkResult::RetryableError}, std::nullopt, 3},
    };
    for (const OutcomeCase& c : cases) {
        RunOutcomeCase(c, SequenceOf(3));
    }
}

TEST(SequentialWorkTest, FailureKeepsItsDataAndSuccessDropsIt) {
    {
        Harness harness(SequenceOf(3));
        harness.Complete(WorkResult::Success);
        harness.Complete(WorkStatus(WorkResult::Failure, Error("second failed")));
        ASSERT_TRUE(harness.Outcome());
        EXPECT_EQ(harness.Outcome()->data->ToString(), "second failed");
        EXPECT_EQ(harness.QueuedCount(), 2u);
    }
    {
        Harness harness(SequenceOf(1));
        harness.Complete(WorkStatus(WorkResult::Success, Error("leftover")));
        ASSERT_TRUE(harness.Outcome());
        EXPECT_EQ(harness.Outcome()->result, WorkResult::Success);
        EXPECT_EQ(harness.Outcome()->data, nullptr);
    }
}

TEST(SequentialWorkTest, ReportsOnceAndIgnoresLaterOutcomes) {
    auto sequence = SequenceOf(2);
    Harness harness(sequence);
    const auto first = harness.Complete(WorkResult::Failure);
    first->NotifyComplete(StatusOf(WorkResult::Success));
    EXPECT_EQ(harness.rootOutcomes.Calls().size(), 1u);
    EXPECT_EQ(harness.QueuedCount(), 1u);
}

TEST(SequentialWorkTest, OutcomeFromAChildNotRunningIsAnInvalidProgress) {
    auto sequence = SequenceOf(2);
    Harness harness(sequence);
    sequence->GetChildren()[1]->NotifyComplete(StatusOf(WorkResult::Success));
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::FatalError);
    EXPECT_EQ(harness.Outcome()->data->ToString(), "Invalid child progress for CompositeWork::OnWorkComplete");
}

TEST(SequentialWorkTest, EmptySequenceQueuesNothingAndNeverCompletes) {
    Harness harness(std::make_shared<SequentialWork>());
    EXPECT_EQ(harness.QueuedCount(), 0u);
    EXPECT_FALSE(harness.Outcome());
}

TEST(SequentialWorkTest, ResetRunsTheSequenceAgainFromTheFirstChild) {
    auto sequence = SequenceOf(2);
    Harness harness(sequence);
    harness.Complete(WorkResult::Success);
    harness.Complete(WorkResult::Success);
    ASSERT_TRUE(sequence->IsComplete());

    sequence->Reset();
    EXPECT_FALSE(sequence->IsComplete());
    sequence->QueueAvailableWork(harness.workflow);
    const auto queued = harness.workflow->AllQueued();
    ASSERT_EQ(queued.size(), 3u);
    EXPECT_EQ(queued[2].work, sequence->GetChildren()[0]);
}

TEST(ParallelWorkTest, OutcomeRules) {
    const std::vector<OutcomeCase> cases = {
        {"three of four succeeded", {WorkResult::Success, WorkResult::Success, WorkResult::Success}, std::nullopt, 4},
        {"all four succeeded",
         {WorkResult::Success, WorkResult::Success, WorkResult::Success, WorkResult::Success},
         WorkResult::Success,
         4},
        {"a Failure becomes FatalError at once, later outcomes ignored",
         {WorkResult::Success, WorkResult::Failure, WorkResult::Success, WorkResult::Success},
         WorkResult::FatalError,
         4},
        {"a FatalError finishes it", {WorkResult::FatalError}, WorkResult::FatalError, 4},
        {"non-final outcomes change nothing",
         {WorkResult::Cancelled, WorkResult::RetryableError, WorkResult::Success},
         std::nullopt,
         6},
    };
    for (const OutcomeCase& c : cases) {
        RunOutcomeCase(c, ParallelOf(4));
    }
}

TEST(ParallelWorkTest, FailureBecomesFatalErrorWithTheChildsData) {
    Harness harness(ParallelOf(2));
    harness.Complete(WorkStatus(WorkResult::Failure, Error("chunk failed")));
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::FatalError);
    EXPECT_EQ(harness.Outcome()->data->ToString(), "chunk failed");
}

TEST(ParallelWorkTest, QueuesEveryChildWithItsIndexAndAddsAChildOnce) {
    auto parallel = std::make_shared<ParallelWork>();
    auto first = std::make_shared<SequentialWork>(1);
    first->AddChild(AlwaysWork(WorkResult::Success));
    auto second = AlwaysWork(WorkResult::Success);
    parallel->AddChild(first);
    parallel->AddChild(second);
    parallel->AddChild(second);
    parallel->SetPriorityPath({7});

    Harness harness(parallel);
    EXPECT_EQ(harness.QueuedPaths(), (std::vector<PriorityPath>{{7, 0, 0}, {7, 1}}));
    harness.Complete(WorkResult::Success);
    EXPECT_FALSE(harness.Outcome());
    harness.Complete(WorkResult::Success);
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::Success);
}

// Makes `total` children on demand and watches how many are in flight.
class CountingLazyWork : public LazyParallelWork {
public:
    CountingLazyWork(unsigned capacity, int total) : LazyParallelWork(capacity), total_(total) {}

    std::shared_ptr<Work> CreateNextChild() override {
        if (made == total_) {
            return nullptr;
        }
        ++made;
        return AlwaysWork(WorkResult::Success);
    }

    int made = 0;

private:
    const int total_;
};

TEST(LazyParallelWorkTest, KeepsAtMostCapacityInFlightAndQueuesChildrenInOrder) {
    auto lazy = std::make_shared<CountingLazyWork>(3, 10);
    Harness harness(lazy);
    EXPECT_EQ(lazy->GetInFlightCount(), 3u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(harness.Outcome()) << i;
        harness.Complete(WorkResult::Success);
        EXPECT_LE(lazy->GetInFlightCount(), 3u);
    }
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::Success);
    EXPECT_EQ(lazy->made, 10);

    std::vector<PriorityPath> expected;
    for (std::uint32_t i = 0; i < 10; ++i) {
        expected.push_back({i});
    }
    EXPECT_EQ(harness.QueuedPaths(), expected);
}

TEST(LazyParallelWorkTest, FailureBecomesFatalError) {
    Harness harness(std::make_shared<CountingLazyWork>(2, 5));
    harness.Complete(WorkResult::Success);
    harness.Complete(WorkStatus(WorkResult::Failure, Error("file failed")));
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::FatalError);
    EXPECT_EQ(harness.Outcome()->data->ToString(), "file failed");
}

TEST(LazyParallelWorkTest, GeneratorThatMakesNothingNeverFinishes) {
    Harness harness(std::make_shared<CountingLazyWork>(4, 0));
    EXPECT_EQ(harness.QueuedCount(), 0u);
    EXPECT_FALSE(harness.Outcome());
}

TEST(LazyParallelWorkTest, ZeroCapacityCannotBeConstructed) {
    try {
        CountingLazyWork lazy(0, 1);
        FAIL() << "constructed with zero capacity";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "LazyParallelWork::Reserve called with zero capacity");
    }
}

TEST(ConditionalWorkTest, ConditionChoosesTheBranchWhoseStatusFinishesTheWork) {
    struct Case {
        WorkResult condition;
        std::optional<bool> runsOnSuccess;  // nothing: no branch runs
        WorkResult branch;
        WorkResult expected;
    };
    const std::vector<Case> cases = {
        {WorkResult::Success, true, WorkResult::Failure, WorkResult::Failure},
        {WorkResult::Success, true, WorkResult::Success, WorkResult::Success},
        {WorkResult::Failure, false, WorkResult::Success, WorkResult::Success},
        {WorkResult::Failure, false, WorkResult::FatalError, WorkResult::FatalError},
        {WorkResult::FatalError, std::nullopt, WorkResult::Success, WorkResult::FatalError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.condition));
        auto condition = AlwaysWork(WorkResult::Success);
        auto onSuccess = AlwaysWork(WorkResult::Success);
        auto onFailure = AlwaysWork(WorkResult::Success);
        Harness harness(std::make_shared<TestConditional>(condition, onSuccess, onFailure));
        EXPECT_EQ(harness.Complete(c.condition), condition);
        if (c.runsOnSuccess) {
            EXPECT_FALSE(harness.Outcome());
            EXPECT_EQ(harness.Complete(c.branch), *c.runsOnSuccess ? std::shared_ptr<SimpleWork>(onSuccess)
                                                                   : std::shared_ptr<SimpleWork>(onFailure));
        } else {
            EXPECT_EQ(harness.QueuedCount(), 1u);
        }
        ASSERT_TRUE(harness.Outcome());
        EXPECT_EQ(harness.Outcome()->result, c.expected);
    }
}

TEST(ConditionalWorkTest, QueueingWithAMissingChildThrows) {
    auto workflow = std::make_shared<RecordingWorkflow>();
    const std::vector<std::shared_ptr<ConditionalWork>> incomplete = {
        std::make_shared<TestConditional>(nullptr, AlwaysWork(WorkResult::Success), AlwaysWork(WorkResult::Success)),
        std::make_shared<TestConditional>(AlwaysWork(WorkResult::Success), nullptr, AlwaysWork(WorkResult::Success)),
        std::make_shared<TestConditional>(AlwaysWork(WorkResult::Success), AlwaysWork(WorkResult::Success), nullptr),
    };
    for (const auto& conditional : incomplete) {
        try {
            conditional->QueueAvailableWork(workflow);
            FAIL() << "queued with a missing child";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "ConditionalWork::QueueAvailableWork called with incomplete children");
        }
    }
    EXPECT_TRUE(workflow->AllQueued().empty());
}

TEST(DeferredWorkTest, AssignedChildRunsAndItsStatusPassesOn) {
    auto deferred = std::make_shared<DeferredWork>();
    auto child = AlwaysWork(WorkResult::Success);
    EXPECT_TRUE(deferred->Assign(child));
    EXPECT_FALSE(deferred->Assign(AlwaysWork(WorkResult::Success)));
    EXPECT_EQ(deferred->GetChild(), child);

    Harness harness(deferred);
    EXPECT_EQ(harness.Complete(WorkStatus(WorkResult::Failure, Error("geofence"))), child);
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::Failure);
    EXPECT_EQ(harness.Outcome()->data->ToString(), "geofence");
}

TEST(DeferredWorkTest, QueuedBeforeAssignmentRunsNoOpAndRefusesLateChild) {
    auto deferred = std::make_shared<DeferredWork>();
    Harness harness(deferred);
    ASSERT_EQ(harness.QueuedCount(), 1u);
    EXPECT_NE(std::dynamic_pointer_cast<NoOpWork>(harness.workflow->AllQueued()[0].work), nullptr);
    EXPECT_FALSE(deferred->Assign(AlwaysWork(WorkResult::Success)));

    harness.Complete(StatusOf(WorkResult::Success));
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::Success);
}

TEST(DeferredWorkTest, ChildAssignedWhileTheWorkflowRunsIsAttachedToIt) {
    auto deferred = std::make_shared<DeferredWork>();
    auto workflow = std::make_shared<RecordingWorkflow>();
    deferred->SetWorkflow(workflow);
    auto child = std::make_shared<SequentialWork>(1);
    auto grandchild = AlwaysWork(WorkResult::Success);
    child->AddChild(grandchild);

    EXPECT_TRUE(deferred->Assign(child));
    EXPECT_EQ(child->GetParent(), deferred);
    EXPECT_EQ(grandchild->GetWorkflow(), workflow);
}

TEST(LimitedRetrySequentialWorkTest, RestartsUpToMaxRetriesThenReportsOnceAndKeepsTheCount) {
    auto child = AlwaysWork(WorkResult::Failure);
    auto sequence = std::make_shared<LimitedRetrySequentialWork>(2u);
    sequence->AddChild(child);
    Harness harness(sequence);

    auto reports = [&] { return harness.workflow->Outcomes(); };
    auto sequenceReports = [&] {
        std::vector<WorkStatus> statuses;
        for (const auto& call : reports()) {
            if (call.work == sequence) {
                statuses.push_back(call.status);
            }
        }
        return statuses;
    };

    harness.Complete(WorkStatus(WorkResult::Failure, Error("node list broken")));
    harness.Complete(WorkResult::Failure);
    EXPECT_EQ(harness.QueuedCount(), 3u);
    EXPECT_TRUE(sequenceReports().empty());

    harness.Complete(WorkResult::Failure);
    ASSERT_EQ(sequenceReports().size(), 1u);
    EXPECT_EQ(sequenceReports()[0].result, WorkResult::RetryableError);
    EXPECT_FALSE(sequenceReports()[0].retry);
    EXPECT_EQ(harness.QueuedCount(), 4u);  // queued again, waiting for the workflow's Retry
    EXPECT_FALSE(sequence->IsComplete());

    // After the workflow's Retry the next failure is reported at once.
    harness.Complete(WorkResult::Failure);
    EXPECT_EQ(sequenceReports().size(), 2u);
    EXPECT_EQ(harness.QueuedCount(), 5u);

    harness.Complete(WorkResult::Success);
    const auto calls = harness.rootOutcomes.Calls();
    ASSERT_EQ(calls.size(), 3u);  // two unretried errors, then the final outcome
    EXPECT_EQ(calls.back().status.result, WorkResult::Success);
    EXPECT_TRUE(sequence->IsComplete());
}

TEST(LimitedRetrySequentialWorkTest, ResetClearsTheRetryCount) {
    auto sequence = std::make_shared<LimitedRetrySequentialWork>(1u);
    sequence->AddChild(AlwaysWork(WorkResult::Failure));
    Harness harness(sequence);
    harness.Complete(WorkResult::Failure);
    EXPECT_EQ(sequence->GetRetries(), 1u);
    sequence->Reset();
    EXPECT_EQ(sequence->GetRetries(), 0u);
}

// Children added by a subclass's constructor, before any shared pointer to
// the composite exists.
class BuiltInConstructor : public SequentialWork {
public:
    explicit BuiltInConstructor(std::shared_ptr<Work> child) : SequentialWork(1) { AddChild(std::move(child)); }
};

TEST(CompositeWorkTest, ChildrenAddedInAConstructorLearnTheirParentWithTheWorkflow) {
    auto child = AlwaysWork(WorkResult::Success);
    auto parent = std::make_shared<BuiltInConstructor>(child);
    Harness harness(parent);
    EXPECT_EQ(child->GetParent(), parent);
    harness.Complete(WorkResult::Success);
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::Success);
}

TEST(CompositeWorkTest, NestedCompositesReportUpTheTree) {
    // Parallel[ Sequence[a, b], Conditional(c ? d : e) ]
    auto a = AlwaysWork(WorkResult::Success);
    auto b = AlwaysWork(WorkResult::Success);
    auto sequence = std::make_shared<SequentialWork>(2);
    sequence->AddChild(a);
    sequence->AddChild(b);
    auto c = AlwaysWork(WorkResult::Success);
    auto d = AlwaysWork(WorkResult::Success);
    auto conditional = std::make_shared<TestConditional>(c, d, AlwaysWork(WorkResult::Success));
    auto root = std::make_shared<ParallelWork>();
    root->AddChild(sequence);
    root->AddChild(conditional);

    Harness harness(root);
    EXPECT_EQ(harness.QueuedPaths(), (std::vector<PriorityPath>{{0, 0}, {1, 0}}));
    EXPECT_EQ(harness.Complete(WorkResult::Success), a);
    EXPECT_EQ(harness.Complete(WorkResult::Success), c);
    EXPECT_EQ(harness.Complete(WorkResult::Success), b);
    EXPECT_FALSE(harness.Outcome());
    EXPECT_EQ(harness.Complete(WorkResult::Success), d);
    ASSERT_TRUE(harness.Outcome());
    EXPECT_EQ(harness.Outcome()->result, WorkResult::Success);
    EXPECT_EQ(harness.QueuedPaths(), (std::vector<PriorityPath>{{0, 0}, {1, 0}, {0, 0}, {1, 0}}));
}

}  // namespace
}  // namespace vrexa
