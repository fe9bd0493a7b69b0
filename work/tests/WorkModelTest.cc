#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/function.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "work/LimitedRetrySimpleWork.h"
#include "work/NoOpWork.h"
#include "work/SequentialWork.h"
#include "work/WorkCallbacks.h"
#include "work/WorkStatus.h"
#include "work/tests/WorkTestSupport.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;
using testing::AlwaysWork;
using testing::RecordingCallback;
using testing::RecordingWorkflow;
using testing::ScriptedLimitedWork;
using testing::ScriptedWork;
using testing::StatusOf;

std::string Json(const ptree& tree) {
    std::ostringstream out;
    boost::property_tree::write_json(out, tree, false);
    std::string text = out.str();
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

template <class Describable>
std::string Described(const Describable& object) {
    ptree tree;
    object.Describe(tree);
    return Json(tree);
}

struct CustomError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(WorkStatusTest, DescribesResultAndRetryAndDataOnlyWhenSet) {
    struct Case {
        WorkStatus status;
        bool retry;
        std::string json;
    };
    const std::vector<Case> cases = {
        {StatusOf(WorkResult::Success), false, R"({"result":"0","retry":"false"})"},
        {StatusOf(WorkResult::RetryableError), true, R"({"result":"3","retry":"true"})"},
        {WorkStatus(WorkResult::Failure, std::make_shared<WorkErrorData>("Sample::Op has no node")), false,
         R"({"result":"1","retry":"false","data":{"errorMessage":"Sample::Op has no node"}})"},
    };
    for (const Case& c : cases) {
        WorkStatus status = c.status;
        status.retry = c.retry;
        EXPECT_EQ(Described(status), c.json);
    }
}

TEST(WorkStatusTest, DefaultIsAnUnreachedFatalErrorWithoutData) {
    const WorkStatus status;
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_FALSE(status.retry);
    EXPECT_EQ(status.data, nullptr);
}

TEST(WorkStatusTest, OnlyCancelledAndRetryableErrorAreNotFinal) {
    EXPECT_TRUE(StatusOf(WorkResult::Success).IsFinal());
    EXPECT_TRUE(StatusOf(WorkResult::Failure).IsFinal());
    EXPECT_TRUE(StatusOf(WorkResult::FatalError).IsFinal());
    EXPECT_FALSE(StatusOf(WorkResult::Cancelled).IsFinal());
    EXPECT_FALSE(StatusOf(WorkResult::RetryableError).IsFinal());
}

std::exception_ptr Captured(const std::function<void()>& thrower) {
    try {
        thrower();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

TEST(WorkExceptionDataTest, DescribesTypeNameAndTextOrUnknownType) {
    struct Case {
        std::exception_ptr exception;
        std::string json;
        std::string summary;
    };
    const std::vector<Case> cases = {
        {Captured([] { throw std::runtime_error("x"); }), R"({"exception":"std::runtime_error","what":"x"})",
         "std::runtime_error"},
        {Captured([] { throw CustomError("disk gone"); }),
         R"({"exception":"vrexa::(anonymous namespace)::CustomError","what":"disk gone"})",
         "vrexa::(anonymous namespace)::CustomError"},
        {Captured([] { throw 42; }), R"({"exception":"Unknown exception type"})", "Unknown exception type"},
    };
    for (const Case& c : cases) {
        const WorkExceptionData data(c.exception);
        EXPECT_EQ(Described(data), c.json);
        EXPECT_EQ(data.ToString(), c.summary);
    }
}

TEST(WorkExceptionDataTest, RethrowThrowsTheStoredExceptionOrLogicErrorWhenEmpty) {
    const WorkExceptionData stored(Captured([] { throw CustomError("kept"); }));
    EXPECT_THROW(stored.Rethrow(), CustomError);

    const WorkExceptionData empty(nullptr);
    try {
        empty.Rethrow();
        FAIL() << "Rethrow returned";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "WorkExceptionData::Rethrow called with no exception_ptr");
    }
}

TEST(WorkErrorDataTest, DescribesAndSummarizesItsMessage) {
    const WorkErrorData data("Reader::Open has no file");
    EXPECT_EQ(Described(data), R"({"errorMessage":"Reader::Open has no file"})");
    EXPECT_EQ(data.ToString(), "Reader::Open has no file");
}

class CountingRetryCallback : public SimpleWorkRetryCallback {
public:
    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork>, const WorkStatus& status) override {
        ++calls;
        EXPECT_TRUE(status.retry);
        EXPECT_EQ(status.result, WorkResult::RetryableError);
    }
    int calls = 0;
};

// A work that fails with RetryableError and agrees to retry a fixed number of
// times.
class RetryNTimesWork : public ScriptedWork {
public:
    RetryNTimesWork(int retries)
        : ScriptedWork([](int) { return StatusOf(WorkResult::RetryableError); }), allowed_(retries) {}
    bool ShouldRetry() override { return asked++ < allowed_; }
    int asked = 0;

private:
    const int allowed_;
};

TEST(SimpleWorkTest, RetriesInPlaceWhileShouldRetryAgrees) {
    auto work = std::make_shared<RetryNTimesWork>(3);
    CountingRetryCallback first;
    CountingRetryCallback second;
    work->AddRetryCallback(&first);
    work->AddRetryCallback(&second);

    const WorkStatus status = work->Execute();

    EXPECT_EQ(work->runs, 4);
    EXPECT_EQ(first.calls, 3);
    EXPECT_EQ(second.calls, 3);
    EXPECT_EQ(status.result, WorkResult::RetryableError);
    EXPECT_FALSE(status.retry);
}

TEST(SimpleWorkTest, FinalOutcomesAreNotRetriedEvenWhenShouldRetryAgrees) {
    for (WorkResult result : {WorkResult::Success, WorkResult::Failure, WorkResult::FatalError}) {
        auto work = std::make_shared<ScriptedLimitedWork>([result](int) { return StatusOf(result); }, 5u);
        const WorkStatus status = work->Execute();
        EXPECT_EQ(work->runs, 1);
        EXPECT_EQ(status.result, result);
        EXPECT_FALSE(status.retry);
    }
}

TEST(SimpleWorkTest, CancelledBeforeExecuteReturnsCancelledWithoutRunningTheTask) {
    auto work = AlwaysWork(WorkResult::Success);
    work->Cancel();
    EXPECT_TRUE(work->IsCancelled());
    EXPECT_EQ(work->cancels, 1);

    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, WorkResult::Cancelled);
    EXPECT_EQ(status.data, nullptr);
    EXPECT_EQ(work->runs, 0);

    work->Reset();
    EXPECT_FALSE(work->IsCancelled());
    EXPECT_EQ(work->Execute().result, WorkResult::Success);
}

TEST(SimpleWorkTest, CancelDuringRetriesStopsTheLoop) {
    std::shared_ptr<ScriptedLimitedWork> work;
    work = std::make_shared<ScriptedLimitedWork>(
        [&work](int attempt) {
            if (attempt == 1) {
                work->Cancel();
            }
            return StatusOf(WorkResult::RetryableError);
        },
        10u);
    const WorkStatus status = work->Execute();
    EXPECT_EQ(work->runs, 2);
    EXPECT_EQ(status.result, WorkResult::Cancelled);
}

TEST(SimpleWorkTest, EscapingExceptionsBecomeFatalErrorWithTheException) {
    struct Case {
        std::function<WorkStatus(int)> task;
        std::string json;
    };
    const std::vector<Case> cases = {
        {[](int) -> WorkStatus { throw std::runtime_error("x"); },
         R"({"result":"4","retry":"false","data":{"exception":"std::runtime_error","what":"x"}})"},
        {[](int) -> WorkStatus { throw 7; },
         R"({"result":"4","retry":"false","data":{"exception":"Unknown exception type"}})"},
    };
    for (const Case& c : cases) {
        auto work = std::make_shared<ScriptedWork>(c.task);
        EXPECT_EQ(Described(work->Execute()), c.json);
    }
}

TEST(SimpleWorkTest, ExceptionFromShouldRetryOrRetryCallbackBecomesFatalError) {
    class ThrowingRetryCallback : public SimpleWorkRetryCallback {
    public:
        void OnSimpleWorkRetry(std::shared_ptr<SimpleWork>, const WorkStatus&) override {
            throw std::runtime_error("retry log failed");
        }
    } throwing;
    auto work = std::make_shared<ScriptedLimitedWork>([](int) { return StatusOf(WorkResult::RetryableError); }, 3u);
    work->AddRetryCallback(&throwing);
    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_EQ(status.data->ToString(), "std::runtime_error");
    EXPECT_EQ(work->runs, 1);
}

TEST(LimitedRetrySimpleWorkTest, RunsMaxRetriesPlusOneTimesPerQueueing) {
    for (unsigned maxRetries : {0u, 1u, 3u}) {
        auto work =
            std::make_shared<ScriptedLimitedWork>([](int) { return StatusOf(WorkResult::RetryableError); }, maxRetries);
        CountingRetryCallback retries;
        work->AddRetryCallback(&retries);

        EXPECT_EQ(work->Execute().result, WorkResult::RetryableError);
        EXPECT_EQ(work->runs, static_cast<int>(maxRetries) + 1) << maxRetries;
        EXPECT_EQ(retries.calls, static_cast<int>(maxRetries));

        // Without a reset the allowance stays spent.
        work->Execute();
        EXPECT_EQ(work->runs, static_cast<int>(maxRetries) + 2);

        work->Cancel();
        work->Reset();
        EXPECT_FALSE(work->IsCancelled());
        EXPECT_EQ(work->GetRetries(), 0u);
        work->Execute();
        EXPECT_EQ(work->runs, 2 * static_cast<int>(maxRetries) + 3);
    }
}

TEST(LimitedRetrySimpleWorkTest, SucceedsOnALaterAttempt) {
    auto work = std::make_shared<ScriptedLimitedWork>(
        [](int attempt) { return StatusOf(attempt < 2 ? WorkResult::RetryableError : WorkResult::Success); }, 5u);
    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, WorkResult::Success);
    EXPECT_FALSE(status.retry);
    EXPECT_EQ(work->runs, 3);
}

TEST(NoOpWorkTest, SucceedsAtOnceAndNamesItself) {
    auto work = std::make_shared<NoOpWork>();
    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, WorkResult::Success);
    EXPECT_EQ(status.data, nullptr);
    EXPECT_EQ(Described(*work), R"({"name":"NoOpWork"})");
}

TEST(WorkTest, DescribesItselfWithTheStatusUnderWorkStatus) {
    auto work = std::make_shared<NoOpWork>();
    WorkStatus status(WorkResult::FatalError, std::make_shared<WorkErrorData>("boom"));
    status.retry = true;
    ptree tree;
    static_cast<const Work&>(*work).Describe(status, tree);
    EXPECT_EQ(Json(tree),
              R"({"name":"NoOpWork","workStatus":{"result":"4","retry":"true","data":{"errorMessage":"boom"}}})");
}

// Records into a shared log which listener heard an outcome, in order.
class OrderRecorder : public WorkCompleteCallback {
public:
    OrderRecorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override { log_.push_back(name_); }

private:
    std::vector<std::string>& log_;
    const std::string name_;
};

class OrderRecordingWorkflow : public RecordingWorkflow {
public:
    explicit OrderRecordingWorkflow(std::vector<std::string>& log) : log_(log) {}
    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override {
        log_.push_back("workflow");
        RecordingWorkflow::OnWorkComplete(std::move(work), status);
    }

private:
    std::vector<std::string>& log_;
};

class OrderRecordingParent : public SequentialWork {
public:
    explicit OrderRecordingParent(std::vector<std::string>& log) : log_(log) {}
    void OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& status) override {
        log_.push_back("parent");
        SequentialWork::OnWorkComplete(std::move(child), status);
    }

private:
    std::vector<std::string>& log_;
};

TEST(WorkTest, NotifyCompleteTellsWorkflowThenCallbacksInOrderThenParent) {
    std::vector<std::string> log;
    auto workflow = std::make_shared<OrderRecordingWorkflow>(log);
    auto parent = std::make_shared<OrderRecordingParent>(log);
    OrderRecorder first(log, "first");
    OrderRecorder second(log, "second");
    auto child = std::make_shared<NoOpWork>(&first);
    child->AddCompleteCallback(&second);
    parent->AddChild(child);
    parent->SetWorkflow(workflow);

    child->NotifyComplete(StatusOf(WorkResult::Cancelled));

    EXPECT_EQ(log, (std::vector<std::string>{"workflow", "first", "second", "parent"}));
}

TEST(WorkTest, NotifyCompleteStillReachesCallbacksWhenWorkflowAndParentAreGone) {
    RecordingCallback callback;
    auto child = std::make_shared<NoOpWork>(&callback);
    {
        auto workflow = std::make_shared<RecordingWorkflow>();
        auto parent = std::make_shared<SequentialWork>(1);
        parent->AddChild(child);
        parent->SetWorkflow(workflow);
        ASSERT_EQ(child->GetParent(), parent);
        ASSERT_EQ(child->GetWorkflow(), workflow);
    }
    EXPECT_EQ(child->GetParent(), nullptr);
    EXPECT_EQ(child->GetWorkflow(), nullptr);

    child->NotifyComplete(StatusOf(WorkResult::Success));

    ASSERT_EQ(callback.Calls().size(), 1u);
    EXPECT_EQ(callback.Calls()[0].work, child);
    EXPECT_EQ(callback.Calls()[0].status.result, WorkResult::Success);
}

TEST(CallbackRouteTest, RoutesForwardToTheirFunctions) {
    std::shared_ptr<Work> completedWork;
    WorkResult completedResult = WorkResult::FatalError;
    WorkCompleteCallbackRoute complete([&](std::shared_ptr<Work> work, const WorkStatus& status) {
        completedWork = std::move(work);
        completedResult = status.result;
    });
    std::shared_ptr<SimpleWork> retriedWork;
    SimpleWorkRetryCallbackRoute retry(
        [&](std::shared_ptr<SimpleWork> work, const WorkStatus&) { retriedWork = std::move(work); });

    auto work = std::make_shared<ScriptedLimitedWork>(
        [](int attempt) { return StatusOf(attempt == 0 ? WorkResult::RetryableError : WorkResult::Failure); }, 1u);
    work->AddCompleteCallback(&complete);
    work->AddRetryCallback(&retry);
    work->NotifyComplete(work->Execute());

    EXPECT_EQ(retriedWork, work);
    EXPECT_EQ(completedWork, work);
    EXPECT_EQ(completedResult, WorkResult::Failure);
}

TEST(CallbackRouteTest, EmptyRoutesThrowBadFunctionCall) {
    WorkCompleteCallbackRoute complete;
    SimpleWorkRetryCallbackRoute retry;
    auto work = std::make_shared<NoOpWork>();
    const WorkStatus status = StatusOf(WorkResult::Success);
    try {
        complete.OnWorkComplete(work, status);
        FAIL() << "empty complete route returned";
    } catch (const boost::bad_function_call& e) {
        EXPECT_STREQ(e.what(), "call to empty boost::function");
    }
    EXPECT_THROW(retry.OnSimpleWorkRetry(work, status), boost::bad_function_call);
}

}  // namespace
}  // namespace vrexa
