#include "service/StandardTransfer.h"

#include <chrono>
#include <future>
#include <thread>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "http/RoundRobinSessionFactory.h"
#include "service/StandardTransferWorkInterface.h"
#include "service/tests/ServiceTestSupport.h"
#include "tests/support/Eventually.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferStatusData.h"
#include "work/AsioWorkManager.h"
#include "work/WorkErrorData.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"

namespace vrexa {
namespace {

using namespace vrexa::testing;
using testsupport::Eventually;
using TS = TransferState;
using TE = TransferError;
namespace fs = boost::filesystem;

enum class Step {
    Initialize,
    AcquireAll,
    InitializeDone,
    Start,
    Pause,
    Resume,
    ProgressComplete,
    RootSuccess,
    Cancel,
    CancelRemovingFiles,
    Suspend,
    Restore,
    Retry,
    RetryableNetworkError,
    FatalFileError,
};

class TransferTest : public ::testing::Test {
protected:
    TransferTest() {
        behavior.filesystem = &filesystem;
        behavior.logManager = &log;
        behavior.auxiliaryWorkManager = &auxiliary;
        behavior.sessionFactory = &sessions;
        params.transferId = "0123456789abcdef0123456789abcdef";
        params.partnerId = "N7";
        params.packageId = "P1";
        destination = temp.Path() + "/dest";
    }
    ~TransferTest() override { transfer.reset(); }

public:
    std::shared_ptr<TransferWorkInterface> GetDoor() { return transfer->GetWorkInterface(); }
    std::shared_ptr<Workflow> GetWorkflow() { return workflows.Last(); }

protected:
    void Make(bool restored = false, const std::string& destPath = "?") {
        params.restored = restored;
        params.destPath = destPath;
        transfer = std::make_shared<StandardTransfer>(params, behavior, &workflows);
    }

    std::shared_ptr<TransferWorkInterface> Door() { return transfer->GetWorkInterface(); }
    ScriptedWorkflow& Scripted() { return *workflows.Last(); }
    TransferStatus Status() {
        TransferLock lock(transfer->GetMutex());
        return transfer->GetStatus(lock);
    }

    void Acquire(const WorkStatus& package, const WorkStatus& nodeList, const WorkStatus& geolocation) {
        auto door = Door();
        door->GetPackageAcquireCallback().OnWorkComplete(nullptr, package);
        door->GetNodeListAcquireCallback().OnWorkComplete(nullptr, nodeList);
        door->GetGeolocationCallback().OnWorkComplete(nullptr, geolocation);
    }
    void AcquireAll() {
        Acquire(Success(std::make_shared<PackageStatusData>(package)),
                Success(std::make_shared<NodeListStatusData>(MakeNodeList({"a.test", "b.test"}))),
                Success(std::make_shared<GeolocationStatusData>(MakeGeolocation("SE"))));
    }
    void ReachInitialized() {
        transfer->Initialize();
        AcquireAll();
        Door()->GetInitializeCallback().OnWorkComplete(nullptr, Success());
    }
    void ReachTransferring() {
        ReachInitialized();
        transfer->Start(destination);
    }

    void Apply(Step step) {
        switch (step) {
            case Step::Initialize:
                transfer->Initialize();
                return;
            case Step::AcquireAll:
                AcquireAll();
                return;
            case Step::InitializeDone:
                Door()->GetInitializeCallback().OnWorkComplete(nullptr, Success());
                return;
            case Step::Start:
                transfer->Start(destination);
                return;
            case Step::Pause:
                transfer->Pause();
                return;
            case Step::Resume:
                transfer->Resume();
                return;
            case Step::ProgressComplete: {
                auto progress = Door()->GetProgress();
                progress->AddDownloaded(100);
                progress->AddCompleted(100);
                progress->AddVerified(100);
                return;
            }
            case Step::RootSuccess:
                Door()->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
                return;
            case Step::Cancel:
                transfer->Cancel(false);
                return;
            case Step::CancelRemovingFiles:
                transfer->Cancel(true);
                return;
            case Step::Suspend:
                transfer->Suspend();
                return;
            case Step::Restore:
                transfer->Restore();
                return;
            case Step::Retry:
                transfer->Retry();
                return;
            case Step::RetryableNetworkError:
                Scripted().GetRetryableErrorCallback()->OnWorkflowRetryableError(
                    workflows.Last(), nullptr,
                    WorkStatus(WorkResult::RetryableError,
                               std::make_shared<TransferErrorData>(TE::NetworkError, "no route")));
                return;
            case Step::FatalFileError:
                Door()->GetWorkCompleteCallback().OnWorkComplete(
                    nullptr, WorkStatus(WorkResult::FatalError,
                                        std::make_shared<TransferErrorData>(TE::FileWriteError, "disk")));
                return;
        }
    }

    TestFolder temp;
    TestFilesystem filesystem{temp.Path() + "/tmp"};
    RecordingLogManager log{&filesystem};
    http::RoundRobinSessionFactory sessions;
    ScriptedWorkflowFactory workflows;
    AsioWorkManager auxiliary{1, true};
    TransferBehavior behavior;
    TransferParams params;
    std::string destination;
    // 100 bytes in two files.
    std::shared_ptr<PackageManifest> package = MakePackage("N7", "P1", "42", {{"run.exe", 60}, {"data/a.bin", 40}});
    std::shared_ptr<StandardTransfer> transfer;
};

// ---- the transition table ------------------------------------------------------

struct TransitionCase {
    const char* name;
    bool restored;
    std::vector<Step> setup;
    Step operation;
    TS state;
    TE error;
    bool retrying;
    std::vector<std::string> events;
};

void PrintTo(const TransitionCase& c, std::ostream* out) { *out << c.name; }

const std::vector<Step> kInitialized = {Step::Initialize, Step::AcquireAll, Step::InitializeDone};
std::vector<Step> With(std::vector<Step> steps, std::initializer_list<Step> more) {
    steps.insert(steps.end(), more);
    return steps;
}
const std::vector<Step> kTransferring = With(kInitialized, {Step::Start});
const std::vector<Step> kComplete = With(kTransferring, {Step::ProgressComplete, Step::RootSuccess});

const TransitionCase kTransitions[] = {
    {"InitializeStartsTheWorkflow", false, {}, Step::Initialize, TS::Initializing, TE::None, false, {"Initialize"}},
    {"InitializeTwiceRaisesOnce", false, {Step::Initialize}, Step::Initialize, TS::Initializing, TE::None, false, {}},
    {"PauseWhileInitializing",
     false,
     {Step::Initialize},
     Step::Pause,
     TS::InitializePaused,
     TE::None,
     false,
     {"Pause"}},
    {"ResumeAfterInitializePauseReturnsToInitializing",
     false,
     {Step::Initialize, Step::Pause},
     Step::Resume,
     TS::Initializing,
     TE::None,
     false,
     {"Resume"}},
    {"InitializationDone",
     false,
     {Step::Initialize, Step::AcquireAll},
     Step::InitializeDone,
     TS::Initialized,
     TE::None,
     false,
     {"InitializeComplete"}},
    {"InitializationDoneWhilePaused",
     false,
     {Step::Initialize, Step::AcquireAll, Step::Pause},
     Step::InitializeDone,
     TS::Initialized,
     TE::None,
     false,
     {"InitializeComplete"}},
    {"StartBeforeInitializedIsRefused", false, {Step::Initialize}, Step::Start, TS::Initializing, TE::None, false, {}},
    {"Start", false, kInitialized, Step::Start, TS::Transferring, TE::None, false, {"Start"}},
    {"PauseWhileInitializedIsRefused", false, kInitialized, Step::Pause, TS::Initialized, TE::None, false, {}},
    {"PauseWhileTransferring", false, kTransferring, Step::Pause, TS::Paused, TE::None, false, {"Pause"}},
    {"ResumeAfterPause",
     false,
     With(kTransferring, {Step::Pause}),
     Step::Resume,
     TS::Transferring,
     TE::None,
     false,
     {"Resume"}},
    {"ResumeWhileTransferringIsRefused", false, kTransferring, Step::Resume, TS::Transferring, TE::None, false, {}},
    {"RootSuccessWithEveryByteVerified",
     false,
     With(kTransferring, {Step::ProgressComplete}),
     Step::RootSuccess,
     TS::Complete,
     TE::None,
     false,
     {"Complete"}},
    {"RootSuccessWhilePaused",
     false,
     With(kTransferring, {Step::ProgressComplete, Step::Pause}),
     Step::RootSuccess,
     TS::Complete,
     TE::None,
     false,
     {"Complete"}},
    {"RootSuccessWithBytesMissing",
     false,
     kTransferring,
     Step::RootSuccess,
     TS::Transferring,
     TE::Unknown,
     false,
     {"FatalError"}},
    {"CancelWhileTransferring", false, kTransferring, Step::Cancel, TS::Cancelled, TE::None, false, {"Cancel"}},
    {"CancelWhileInitializing", false, {Step::Initialize}, Step::Cancel, TS::Cancelled, TE::None, false, {"Cancel"}},
    {"CancelOfCompleteKeepsComplete", false, kComplete, Step::CancelRemovingFiles, TS::Complete, TE::None, false, {}},
    {"SuspendWhileTransferring", false, kTransferring, Step::Suspend, TS::Suspended, TE::None, false, {"Suspend"}},
    {"SuspendWhilePaused",
     false,
     With(kTransferring, {Step::Pause}),
     Step::Suspend,
     TS::Suspended,
     TE::None,
     false,
     {"Suspend"}},
    {"SuspendOfNeverStoredInitializingCancels",
     false,
     {Step::Initialize},
     Step::Suspend,
     TS::Cancelled,
     TE::None,
     false,
     {"Cancel"}},
    {"SuspendOfNeverStoredInitializePausedCancels",
     false,
     {Step::Initialize, Step::Pause},
     Step::Suspend,
     TS::Cancelled,
     TE::None,
     false,
     {"Cancel"}},
    {"SuspendOfNeverStoredInitializedCancels",
     false,
     kInitialized,
     Step::Suspend,
     TS::Cancelled,
     TE::None,
     false,
     {"Cancel"}},
    {"SuspendOfCompleteRaisesNothing", false, kComplete, Step::Suspend, TS::Suspended, TE::None, false, {}},
    {"SuspendOfCancelledChangesNothing",
     false,
     {Step::Initialize, Step::Cancel},
     Step::Suspend,
     TS::Cancelled,
     TE::None,
     false,
     {}},
    {"SuspendWithRetryableErrorStartsAfresh",
     false,
     With(kTransferring, {Step::RetryableNetworkError}),
     Step::Suspend,
     TS::Suspended,
     TE::None,
     false,
     {"Suspend"}},
    {"RestoreOfSuspended",
     false,
     With(kTransferring, {Step::Suspend}),
     Step::Restore,
     TS::Initializing,
     TE::None,
     false,
     {"Restore"}},
    {"RestoreOfRebuiltTransfer", true, {}, Step::Restore, TS::Initializing, TE::None, false, {"Restore"}},
    {"RebuiltTransferSuspendsWhileInitialized",
     true,
     {Step::Restore, Step::AcquireAll, Step::InitializeDone},
     Step::Suspend,
     TS::Suspended,
     TE::None,
     false,
     {"Suspend"}},
    {"RestoreOfInitializingIsRefused", false, {Step::Initialize}, Step::Restore, TS::Initializing, TE::None, false, {}},
    {"CancelOfSuspendedChangesNothing",
     false,
     With(kTransferring, {Step::Suspend}),
     Step::Cancel,
     TS::Suspended,
     TE::None,
     false,
     {}},
    {"RetryableErrorKeepsTheState",
     false,
     kTransferring,
     Step::RetryableNetworkError,
     TS::Transferring,
     TE::NetworkError,
     true,
     {"RetryableError"}},
    {"RetryableErrorWhileInitializing",
     false,
     {Step::Initialize},
     Step::RetryableNetworkError,
     TS::Initializing,
     TE::NetworkError,
     true,
     {"RetryableError"}},
    {"SecondRetryableErrorIsIgnored",
     false,
     With(kTransferring, {Step::RetryableNetworkError}),
     Step::RetryableNetworkError,
     TS::Transferring,
     TE::NetworkError,
     true,
     {}},
    {"RetryClearsTheError",
     false,
     With(kTransferring, {Step::RetryableNetworkError}),
     Step::Retry,
     TS::Transferring,
     TE::None,
     false,
     {"Retry"}},
    {"RetryWithoutErrorIsANoOp", false, kTransferring, Step::Retry, TS::Transferring, TE::None, false, {}},
    {"FatalErrorKeepsTheState",
     false,
     kTransferring,
     Step::FatalFileError,
     TS::Transferring,
     TE::FileWriteError,
     false,
     {"FatalError"}},
    {"CancelAfterFatalErrorChangesNothing",
     false,
     With(kTransferring, {Step::FatalFileError}),
     Step::Cancel,
     TS::Transferring,
     TE::FileWriteError,
     false,
     {}},
    {"PauseAfterFatalErrorChangesNothing",
     false,
     With(kTransferring, {Step::FatalFileError}),
     Step::Pause,
     TS::Transferring,
     TE::FileWriteError,
     false,
     {}},
    {"SuspendAfterFatalErrorChangesNothing",
     false,
     With(kTransferring, {Step::FatalFileError}),
     Step::Suspend,
     TS::Transferring,
     TE::FileWriteError,
     false,
     {}},
    {"RetryAfterFatalErrorChangesNothing",
     false,
     With(kTransferring, {Step::FatalFileError}),
     Step::Retry,
     TS::Transferring,
     TE::FileWriteError,
     false,
     {}},
    {"CallbackAfterCancelIsIgnored",
     false,
     With(kTransferring, {Step::Cancel}),
     Step::FatalFileError,
     TS::Cancelled,
     TE::None,
     false,
     {}},
};

class TransitionTest : public TransferTest, public ::testing::WithParamInterface<TransitionCase> {};

TEST_P(TransitionTest, MovesToTheStateAndRaisesTheEvents) {
    const TransitionCase& c = GetParam();
    Make(c.restored, c.restored ? destination : "?");
    for (Step step : c.setup)
        Apply(step);
    log.Clear();
    Apply(c.operation);
    const TransferStatus status = Status();
    EXPECT_EQ(status.state, c.state);
    EXPECT_EQ(status.error, c.error);
    EXPECT_EQ(status.retrying, c.retrying);
    EXPECT_EQ(log.Events(), c.events);
}

INSTANTIATE_TEST_SUITE_P(Transfer, TransitionTest, ::testing::ValuesIn(kTransitions),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- fixed messages of the consistency checks ------------------------------------

struct MessageCase {
    const char* name;
    std::vector<Step> setup;
    std::function<void(TransferTest&, TransferWorkInterface&)> trigger;
    std::string message;
    TE error;
};

void PrintTo(const MessageCase& c, std::ostream* out) { *out << c.name; }

WorkStatus Error(WorkResult result, std::shared_ptr<WorkStatusData> data, bool retry = false) {
    WorkStatus status(result, std::move(data));
    status.retry = retry;
    return status;
}

std::shared_ptr<WorkStatusData> PackageOf(const std::string& partner, const std::string& id,
                                          const std::string& version) {
    return std::make_shared<PackageStatusData>(MakePackage(partner, id, version, {{"run.exe", 100}}));
}

const MessageCase kMessages[] = {
    {"PackageWhenNotInitializing", kInitialized,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(nullptr, Success(PackageOf("N7", "P1", "42")));
     },
     "Transfer::OnPackageAcquire called but transfer is not initializing", TE::Unknown},
    {"PackageDataOfAnotherKind",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(
             nullptr, Success(std::make_shared<NodeListStatusData>(MakeNodeList({"a.test"}))));
     },
     "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null",
     TE::Unknown},
    {"PackageNull",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(nullptr,
                                                         Success(std::make_shared<PackageStatusData>(nullptr)));
     },
     "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null",
     TE::Unknown},
    {"PackageOfAnotherPartner",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(nullptr, Success(PackageOf("X9", "P1", "42")));
     },
     "Transfer::OnPackageAcquire called but package does not match ids",
     TE::RequestRejected},
    {"PackageOfAnotherId",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(nullptr, Success(PackageOf("N7", "P2", "42")));
     },
     "Transfer::OnPackageAcquire called but package does not match ids",
     TE::RequestRejected},
    {"NodeListWhenNotInitializing", kInitialized,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetNodeListAcquireCallback().OnWorkComplete(
             nullptr, Success(std::make_shared<NodeListStatusData>(MakeNodeList({"a.test"}))));
     },
     "Transfer::OnNodeListAcquire called but transfer is not initializing", TE::Unknown},
    {"NodeListNull",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetNodeListAcquireCallback().OnWorkComplete(nullptr, Success());
     },
     "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is null",
     TE::Unknown},
    {"GeolocationWhenNotInitializing", kInitialized,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetGeolocationCallback().OnWorkComplete(
             nullptr, Success(std::make_shared<GeolocationStatusData>(MakeGeolocation("SE"))));
     },
     "Transfer::OnGeolocation called but transfer is not initializing", TE::Unknown},
    {"GeolocationNull",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetGeolocationCallback().OnWorkComplete(nullptr,
                                                      Success(std::make_shared<GeolocationStatusData>(nullptr)));
     },
     "Transfer::OnGeolocation called but data is not GeolocationStatusData or geolocation is null",
     TE::Unknown},
    {"InitializeWhenNotInitializing", kTransferring,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetInitializeCallback().OnWorkComplete(nullptr, Success());
     },
     "Transfer::OnInitialize called but transfer is not initializing", TE::Unknown},
    {"InitializeWithoutPackage",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetInitializeCallback().OnWorkComplete(nullptr, Success());
     },
     "Transfer::OnInitialize called but package is missing",
     TE::Unknown},
    {"InitializeWithoutNodeList",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(nullptr, Success(PackageOf("N7", "P1", "42")));
         door.GetInitializeCallback().OnWorkComplete(nullptr, Success());
     },
     "Transfer::OnInitialize called but nodelist is missing",
     TE::Unknown},
    {"InitializeWithoutGeolocation",
     {Step::Initialize},
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetPackageAcquireCallback().OnWorkComplete(nullptr, Success(PackageOf("N7", "P1", "42")));
         door.GetNodeListAcquireCallback().OnWorkComplete(
             nullptr, Success(std::make_shared<NodeListStatusData>(MakeNodeList({"a.test"}))));
         door.GetInitializeCallback().OnWorkComplete(nullptr, Success());
     },
     "Transfer::OnInitialize called but geolocation is missing",
     TE::Unknown},
    {"SuccessWithProgressIncomplete", kTransferring,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetProgress()->AddCompleted(100);
         door.GetProgress()->AddVerified(99);
         door.GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
     },
     "Transfer::OnWorkComplete called with Success result but progress is not complete", TE::Unknown},
    {"FailureWithoutTransferData", kTransferring,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetWorkCompleteCallback().OnWorkComplete(
             nullptr, Error(WorkResult::Failure, std::make_shared<WorkErrorData>("plain")));
     },
     "Transfer::OnWorkComplete called with error result but data is not TransferStatusData", TE::Unknown},
    {"FatalErrorOfErrorNone", kTransferring,
     [](TransferTest&, TransferWorkInterface& door) {
         door.GetWorkCompleteCallback().OnWorkComplete(
             nullptr, Error(WorkResult::FatalError, std::make_shared<TransferErrorData>(TE::None, "none")));
     },
     "Transfer::OnWorkComplete called with error result but data->ToTransferError() is None", TE::Unknown},
    {"RetryableErrorOfAnotherWorkflow", kTransferring,
     [](TransferTest& test, TransferWorkInterface& door) {
         auto other = std::make_shared<ScriptedWorkflow>(test.GetDoor());
         door.GetRetryableErrorCallback().OnWorkflowRetryableError(
             other, nullptr,
             Error(WorkResult::RetryableError, std::make_shared<TransferErrorData>(TE::NetworkError, "x")));
     },
     "Transfer::OnWorkflowRetryableError called on wrong workflow", TE::Unknown},
    {"RetryableErrorStillRetrying", kTransferring,
     [](TransferTest& test, TransferWorkInterface& door) {
         door.GetRetryableErrorCallback().OnWorkflowRetryableError(
             test.GetWorkflow(), nullptr,
             Error(WorkResult::RetryableError, std::make_shared<TransferErrorData>(TE::NetworkError, "x"), true));
     },
     "Transfer::OnWorkflowRetryableError called with incorrect status", TE::Unknown},
    {"RetryableErrorWithFatalResult", kTransferring,
     [](TransferTest& test, TransferWorkInterface& door) {
         door.GetRetryableErrorCallback().OnWorkflowRetryableError(
             test.GetWorkflow(), nullptr,
             Error(WorkResult::FatalError, std::make_shared<TransferErrorData>(TE::NetworkError, "x")));
     },
     "Transfer::OnWorkflowRetryableError called with incorrect status", TE::Unknown},
    {"RetryableErrorWithoutTransferData", kTransferring,
     [](TransferTest& test, TransferWorkInterface& door) {
         door.GetRetryableErrorCallback().OnWorkflowRetryableError(
             test.GetWorkflow(), nullptr, Error(WorkResult::RetryableError, std::make_shared<WorkErrorData>("x")));
     },
     "Transfer::OnWorkflowRetryableError called with invalid data", TE::Unknown},
    {"RetryableErrorOfErrorNone", kTransferring,
     [](TransferTest& test, TransferWorkInterface& door) {
         door.GetRetryableErrorCallback().OnWorkflowRetryableError(
             test.GetWorkflow(), nullptr,
             Error(WorkResult::RetryableError, std::make_shared<TransferErrorData>(TE::None, "x")));
     },
     "Transfer::OnWorkflowRetryableError called with TransferError::None", TE::Unknown},
};

class MessageTest : public TransferTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageTest, EndsTheTransferWithTheFixedMessageAndCancelsTheWorkflow) {
    const MessageCase& c = GetParam();
    Make();
    for (Step step : c.setup)
        Apply(step);
    std::shared_ptr<ScriptedWorkflow> workflow = workflows.Last();
    log.Clear();
    c.trigger(*this, *Door());
    const TransferStatus status = Status();
    EXPECT_EQ(status.error, c.error);
    EXPECT_FALSE(status.retrying);
    EXPECT_TRUE(status.IsFinal());
    EXPECT_EQ(log.Events(), std::vector<std::string>{"FatalError"});
    const WorkStatus cancelled = workflow->CancelStatus();
    EXPECT_EQ(cancelled.result, WorkResult::FatalError);
    auto* data = dynamic_cast<const TransferErrorData*>(cancelled.data.get());
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->GetErrorMessage(), c.message);
    EXPECT_EQ(data->ToTransferError(), c.error);
    // The workflow is released: nothing can resume it.
    EXPECT_EQ(transfer->Resume().error, c.error);
}

INSTANTIATE_TEST_SUITE_P(Transfer, MessageTest, ::testing::ValuesIn(kMessages),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vrexa

namespace vrexa {
namespace {

// ---- identifiers and destinations ---------------------------------------------

TEST_F(TransferTest, AVersionPlaceholderBecomesThePackagesVersion) {
    Make();
    transfer->Initialize();
    EXPECT_EQ(transfer->Update().versionId, "?");
    AcquireAll();
    EXPECT_EQ(transfer->Update().versionId, "42");
    EXPECT_EQ(Door()->GetParams().versionId, "42");
    Door()->GetInitializeCallback().OnWorkComplete(nullptr, Success());
    EXPECT_EQ(transfer->Start(destination).versionId, "42");
}

TEST_F(TransferTest, AFixedVersionAnsweredByAnotherVersionIsRejected) {
    params.versionId = "41";
    Make();
    transfer->Initialize();
    AcquireAll();
    const TransferStatus status = transfer->Update();
    EXPECT_EQ(status.error, TE::RequestRejected);
    EXPECT_EQ(status.versionId, "41");
}

struct DestinationCase {
    const char* name;
    bool restored;
    std::string requested;  // "<dest>" stands for the test's destination
    TS state;
    std::string stored;
};

void PrintTo(const DestinationCase& c, std::ostream* out) { *out << c.name; }

const DestinationCase kDestinations[] = {
    {"NewTransferRefusesThePlaceholder", false, "?", TS::Initialized, "?"},
    {"NewTransferTakesAFolder", false, "<dest>", TS::Transferring, "<dest>"},
    {"EmptyFolderIsRefused", false, "", TS::Initialized, "?"},
    {"TrailingSeparatorAndDotsAreNormalized", false, "<dest>/sub/.././/", TS::Transferring, "<dest>"},
    {"RebuiltTransferStartsWithThePlaceholder", true, "?", TS::Transferring, "<dest>"},
    {"RebuiltTransferRefusesAnotherFolder", true, "<dest>-other", TS::Initialized, "<dest>"},
    {"RebuiltTransferAcceptsItsFolderSpeltOtherwise", true, "<dest>/./", TS::Transferring, "<dest>"},
};

class DestinationTest : public TransferTest, public ::testing::WithParamInterface<DestinationCase> {
protected:
    std::string Expand(const std::string& text) {
        const std::string marker = "<dest>";
        const auto at = text.find(marker);
        return at == std::string::npos ? text : text.substr(0, at) + destination + text.substr(at + marker.size());
    }
};

TEST_P(DestinationTest, StartAcceptsExactlyOneFolder) {
    const DestinationCase& c = GetParam();
    Make(c.restored, c.restored ? destination : "?");
    if (c.restored) transfer->Restore();
    ReachInitialized();
    const TransferStatus status = transfer->Start(Expand(c.requested));
    EXPECT_EQ(status.state, c.state);
    EXPECT_EQ(status.destPath, Expand(c.stored));
}

INSTANTIATE_TEST_SUITE_P(Transfer, DestinationTest, ::testing::ValuesIn(kDestinations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, ARelativeDestinationIsStoredAbsolute) {
    Make();
    ReachInitialized();
    const TransferStatus status = transfer->Start("relative/./folder/../dest");
    EXPECT_EQ(status.state, TS::Transferring);
    EXPECT_EQ(status.destPath, (fs::current_path() / "relative" / "dest").string());
    // A second start names the same folder, however it is spelt.
    EXPECT_EQ(transfer->Start(destination).destPath, status.destPath);
}

// ---- questions about folders ---------------------------------------------------------

struct SpaceCase {
    const char* name;
    std::uint64_t present;  // bytes of the package's first file already there
    std::uint64_t free;
    bool fits;
};

void PrintTo(const SpaceCase& c, std::ostream* out) { *out << c.name; }

const SpaceCase kSpaces[] = {
    {"EnoughFree", 0, 100, true},
    {"OneByteShort", 0, 99, false},
    {"FreeAndPresentTogether", 60, 40, true},
    {"PresentTooLittle", 20, 40, false},
    {"PresentWithoutFreeSpaceIsShort", 60, 0, false},
};

class SpaceTest : public TransferTest, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(SpaceTest, CountsFreeSpaceAndWhatIsAlreadyThere) {
    const SpaceCase& c = GetParam();
    Make();
    ReachInitialized();
    if (c.present > 0) temp.Put("dest/run.exe", std::string(c.present, 'x'));
    filesystem.availableSpace = c.free;
    log.Clear();
    EXPECT_EQ(transfer->CanTransferTo(destination), c.fits);
    ASSERT_EQ(log.Events(), std::vector<std::string>{"CanTransferTo"});
}

INSTANTIATE_TEST_SUITE_P(Transfer, SpaceTest, ::testing::ValuesIn(kSpaces),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, CanTransferToAFolderNotMadeYetMeasuresItsNearestExistingParent) {
    Make();
    ReachInitialized();
    filesystem.availableSpace = 1000;
    EXPECT_TRUE(transfer->CanTransferTo(destination + "/not/made/yet"));
    EXPECT_EQ(filesystem.AskedSpaceOf(), temp.Path());
}

TEST_F(TransferTest, CanTransferToAnswersFalseBeforeTheManifestIsKnown) {
    Make();
    transfer->Initialize();
    EXPECT_FALSE(transfer->CanTransferTo(destination));
}

TEST_F(TransferTest, IsSubsetAndIsSupersetCompareAFolderWithThePackage) {
    Make();
    EXPECT_FALSE(transfer->IsSubset(destination, false));
    ReachInitialized();
    temp.Put("dest/run.exe", std::string(60, 'x'));
    EXPECT_FALSE(transfer->IsSubset(destination, false));
    temp.Put("dest/data/a.bin", std::string(39, 'x'));
    EXPECT_TRUE(transfer->IsSubset(destination, false));
    EXPECT_FALSE(transfer->IsSubset(destination, true));
    temp.Put("dest/data/a.bin", std::string(40, 'x'));
    EXPECT_TRUE(transfer->IsSubset(destination, true));

    EXPECT_TRUE(transfer->IsSuperset(destination, false));
    temp.Put("dest/.hidden/x", std::string(1, 'x'));
    EXPECT_FALSE(transfer->IsSuperset(destination, false));
    EXPECT_TRUE(transfer->IsSuperset(destination, true));
    fs::create_directories(destination + "/empty");
    EXPECT_FALSE(transfer->IsSuperset(destination, true));
    fs::remove(destination + "/empty");
    temp.Put("dest/data/extra.bin", std::string(1, 'x'));
    EXPECT_FALSE(transfer->IsSuperset(destination, true));
    EXPECT_FALSE(transfer->IsSuperset(destination + "/missing", true));
}

TEST_F(TransferTest, DescribeNodesNamesEveryNodeOnceTheListIsKnown) {
    Make();
    EXPECT_EQ(transfer->DescribeNodes(), "");
    ReachInitialized();
    const std::string described = transfer->DescribeNodes();
    EXPECT_NE(described.find("\"a.test\":{"), std::string::npos) << described;
    EXPECT_NE(described.find("\"b.test\":{"), std::string::npos) << described;
}

// ---- removal of output files ------------------------------------------------------

TEST_F(TransferTest, CancelWithRemovalRemovesEveryReportedFileNowAndLater) {
    Make();
    ReachTransferring();
    temp.Put("dest/run.exe", std::string(60, 'x'));
    temp.Put("dest/data/a.bin", std::string(40, 'x'));
    temp.Put("dest/keep.txt", std::string(1, 'x'));
    Door()->AddOutputFile("run.exe");
    Door()->AddOutputFile("data/a.bin");
    auto door = Door();
    EXPECT_EQ(transfer->Cancel(true).state, TS::Cancelled);
    EXPECT_TRUE(
        Eventually([&] { return !fs::exists(destination + "/data") && !fs::exists(destination + "/run.exe"); }));
    EXPECT_TRUE(fs::exists(destination + "/keep.txt"));
    // A file work torn down after the cancel reports its file: it goes at once.
    temp.Put("dest/late/b.bin", std::string(5, 'x'));
    door->AddOutputFile("late/b.bin");
    EXPECT_FALSE(fs::exists(destination + "/late"));
}

TEST_F(TransferTest, CancelWithoutRemovalKeepsTheFiles) {
    Make();
    ReachTransferring();
    temp.Put("dest/run.exe", std::string(60, 'x'));
    Door()->AddOutputFile("run.exe");
    transfer->Cancel(false);
    auto door = Door();
    door->AddOutputFile("run.exe");
    auxiliary.Drain();
    EXPECT_TRUE(fs::exists(destination + "/run.exe"));
}

// ---- retry, suspend, late works ---------------------------------------------------

TEST_F(TransferTest, RetryAfterANetworkErrorUsesANewSession) {
    Make();
    ReachTransferring();
    auto door = Door();
    const auto before = door->GetSession();
    ASSERT_TRUE(before);
    Apply(Step::RetryableNetworkError);
    EXPECT_EQ(door->GetSession(), before);
    transfer->Retry();
    EXPECT_NE(door->GetSession(), before);

    const auto kept = door->GetSession();
    Scripted().GetRetryableErrorCallback()->OnWorkflowRetryableError(
        workflows.Last(), nullptr,
        WorkStatus(WorkResult::RetryableError, std::make_shared<TransferErrorData>(TE::FileAccessError, "busy")));
    transfer->Retry();
    EXPECT_EQ(door->GetSession(), kept);
}

TEST_F(TransferTest, RetryRefusedByTheWorkflowKeepsTheError) {
    Make();
    ReachTransferring();
    Apply(Step::RetryableNetworkError);
    Scripted().retryResult = false;
    const TransferStatus status = transfer->Retry();
    EXPECT_EQ(status.error, TE::NetworkError);
    EXPECT_TRUE(status.retrying);
}

TEST_F(TransferTest, SuspendStartsAfreshAndDropsTheOldRunsCallbacks) {
    Make();
    ReachTransferring();
    auto old = Door();
    old->GetProgress()->AddCompleted(50);
    transfer->Suspend();
    const TransferStatus restored = transfer->Restore();
    EXPECT_EQ(restored.state, TS::Initializing);
    EXPECT_EQ(restored.completedBytes, 0u);
    EXPECT_EQ(restored.totalBytes, 0u);
    EXPECT_EQ(workflows.Count(), 2u);
    EXPECT_EQ(old->GetSession() == Door()->GetSession(), false);
    // A work of the old run reports a package of other ids: dropped, not fatal.
    old->GetPackageAcquireCallback().OnWorkComplete(
        nullptr, Success(std::make_shared<PackageStatusData>(MakePackage("X9", "P1", "42", {{"a", 1}}))));
    old->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
    EXPECT_EQ(transfer->Update().error, TE::None);
    EXPECT_TRUE(transfer->Update().transferId == params.transferId);
}

TEST_F(TransferTest, SuspendingAgainAndAgainKeepsOnlyTheRunsWhoseWorksStillReport) {
    Make(true);
    const auto late = Door();
    for (int cycle = 0; cycle < 200; ++cycle) {
        transfer->Restore();
        transfer->Suspend();
        workflows.ForgetAllButLast();
    }
    // The first run's door is still held by a late work and the last two
    // runs' workflows were still there when they were retired; every other
    // run is gone, and so is its entry.
    EXPECT_LE(transfer->RetiredRuns(), 3u);
    late->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
    EXPECT_EQ(transfer->Update().state, TS::Suspended);
}

TEST_F(TransferTest, WorksOutlivingTheirTransferNeverReachIt) {
    Make();
    ReachTransferring();
    auto first = Door();
    transfer->Suspend();
    auto second = Door();
    transfer.reset();
    // Both the retired and the last interface stay with their works.
    for (const auto& door : {first, second}) {
        door->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
        door->GetInitializeCallback().OnWorkComplete(nullptr, Success());
        door->AddOutputFile("run.exe");
        door->GetProgress()->AddDownloaded(1);
        EXPECT_EQ(door->GetParams().transferId, params.transferId);
    }
}

TEST_F(TransferTest, AWorkflowThatCannotBeMadeEndsTheTransfer) {
    workflows.fail = true;
    Make();
    const TransferStatus status = transfer->Initialize();
    EXPECT_EQ(status.error, TE::Unknown);
    EXPECT_TRUE(status.IsFinal());
}

// ---- events ------------------------------------------------------------------------

TEST_F(TransferTest, EventsAreRaisedAfterTheLockIsReleased) {
    Make();
    std::vector<std::future<void>> others;
    std::vector<bool> free;
    log.OnTrack([&] {
        others.push_back(std::async(std::launch::async, [&] { transfer->GetWorkInterface(); }));
        free.push_back(others.back().wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    });
    ReachTransferring();
    // Raised from inside a callback and from a client operation.
    Apply(Step::FatalFileError);
    log.OnTrack(nullptr);
    ASSERT_EQ(free.size(), 4u);
    for (bool wasFree : free)
        EXPECT_TRUE(wasFree);
}

TEST_F(TransferTest, UpdateRaisesThePeriodicEventOnceTheActiveTimeGrewPastTheInterval) {
    behavior.periodicEventInterval = 0;
    Make();
    transfer->Update();
    EXPECT_TRUE(log.Events().empty());
    ReachTransferring();
    Door()->GetProgress()->AddDownloaded(10);
    log.Clear();
    EXPECT_TRUE(Eventually([&] {
        transfer->Update();
        const auto events = log.Events();
        return !events.empty() && events.back() == "PeriodicUpdate";
    }));
}

// ---- concurrency --------------------------------------------------------------------

TEST_F(TransferTest, ClientOperationsAndWorkCallbacksMayRunAtOnce) {
    Make();
    ReachTransferring();
    auto door = Door();
    // Fixed rounds per thread: each round raises events, which the log keeps.
    const int rounds = 300;
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            transfer->Pause();
            transfer->Resume();
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            transfer->Update();
            transfer->CanTransferTo(destination);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            door->GetProgress()->AddDownloaded(1);
            door->AddOutputFile("file" + std::to_string(i % 10));
            (void)door->GetParams();
            (void)door->GetNodeList();
            Apply(Step::RetryableNetworkError);
            transfer->Retry();
        }
    });
    for (auto& thread : threads)
        thread.join();
    const TransferStatus status = transfer->Update();
    EXPECT_EQ(status.state, TS::Transferring);
    EXPECT_FALSE(status.IsFinal());
}

}  // namespace
}  // namespace vrexa
