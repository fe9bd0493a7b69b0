#include "service/OfflineTransferManager.h"

#include <set>

#include <gtest/gtest.h>

#include "service/StandardTransfer.h"
#include "service/StandardTransferFactory.h"
#include "service/TransferIdGenerator.h"
#include "service/TransferOperations.h"
#include "service/tests/ServiceTestSupport.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"

namespace vrexa {
namespace {

using namespace vrexa::testing;

bool IsTransferId(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

TEST(TransferId, IsARandomVersionFourUuidAsThirtyTwoLowerCaseHexDigits) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = NewTransferId();
        ASSERT_TRUE(IsTransferId(id)) << id;
        EXPECT_EQ(id[12], '4') << id;
        EXPECT_NE(std::string("89ab").find(id[16]), std::string::npos) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

class ManagerTest : public ::testing::Test {
protected:
    ManagerTest() {
        behavior.filesystem = &filesystem;
        behavior.transferFactory = &factory;
        params.partnerId = "N7";
        params.packageId = "P1";
    }

    std::shared_ptr<Transfer> Create() { return manager.Create(params, behavior); }

    TestFolder temp;
    TestFilesystem filesystem{temp.Path()};
    ScriptedWorkflowFactory workflows;
    StandardTransferFactory factory{&workflows};
    TransferBehavior behavior;
    TransferParams params;
    OfflineTransferManager manager;
};

TEST_F(ManagerTest, CreatesANewTransferWithAFreshIdOnEveryCall) {
    auto first = Create();
    auto second = Create();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    const std::string firstId = first->Initialize().transferId;
    const std::string secondId = second->Initialize().transferId;
    EXPECT_TRUE(IsTransferId(firstId));
    EXPECT_NE(firstId, secondId);
    EXPECT_EQ(manager.Find(firstId, behavior), first);
    EXPECT_EQ(manager.Find(secondId, behavior), second);
    EXPECT_EQ(manager.Find("0123456789abcdef0123456789abcdef", behavior), nullptr);
}

TEST_F(ManagerTest, ShutdownSuspendsWhatWasStoredCancelsTheRestAndEndsCreatingAndFinding) {
    auto package = MakePackage("N7", "P1", "42", {{"run.exe", 10}});
    auto initialize = [&](const std::shared_ptr<Transfer>& transfer) {
        transfer->Initialize();
        auto door = transfer->GetWorkInterface();
        door->GetPackageAcquireCallback().OnWorkComplete(nullptr,
                                                         Success(std::make_shared<PackageStatusData>(package)));
        door->GetNodeListAcquireCallback().OnWorkComplete(
            nullptr, Success(std::make_shared<NodeListStatusData>(MakeNodeList({"a.test"}))));
        door->GetGeolocationCallback().OnWorkComplete(
            nullptr, Success(std::make_shared<GeolocationStatusData>(MakeGeolocation("SE"))));
        door->GetInitializeCallback().OnWorkComplete(nullptr, Success());
    };
    auto initializing = Create();
    initializing->Initialize();
    auto initialized = Create();
    initialize(initialized);
    auto transferring = Create();
    initialize(transferring);
    transferring->Start(temp.Path());
    auto complete = Create();
    initialize(complete);
    complete->Start(temp.Path());
    auto progress = complete->GetWorkInterface()->GetProgress();
    progress->AddCompleted(10);
    progress->AddVerified(10);
    complete->GetWorkInterface()->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
    auto cancelled = Create();
    cancelled->Cancel(false);
    const std::string id = transferring->Update().transferId;

    manager.Shutdown();

    EXPECT_EQ(initializing->Update().state, TransferState::Cancelled);
    EXPECT_EQ(initialized->Update().state, TransferState::Cancelled);
    EXPECT_EQ(transferring->Update().state, TransferState::Suspended);
    EXPECT_EQ(complete->Update().state, TransferState::Suspended);
    EXPECT_EQ(cancelled->Update().state, TransferState::Cancelled);
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(manager.Find(id, behavior), nullptr);
}

}  // namespace
}  // namespace vrexa

namespace vrexa {
namespace {

using namespace vrexa::testing;

class OperationsTest : public ManagerTest {
protected:
    TransferOperations operations{manager, behavior};
};

TEST_F(OperationsTest, TwoTransfersOfTheSamePackageAreTwoInitializingTransfers) {
    const TransferStatus first = operations.Transfer("N7", "P1");
    const TransferStatus second = operations.Transfer("N7", "P1");
    EXPECT_NE(first.transferId, second.transferId);
    for (const TransferStatus& status : {first, second}) {
        EXPECT_TRUE(IsTransferId(status.transferId));
        EXPECT_EQ(status.state, TransferState::Initializing);
        EXPECT_EQ(status.versionId, "?");
    }
    EXPECT_EQ(operations.Update(first.transferId).transferId, first.transferId);
    EXPECT_EQ(operations.Pause(first.transferId).state, TransferState::InitializePaused);
    EXPECT_EQ(operations.Update(second.transferId).state, TransferState::Initializing);
}

TEST_F(OperationsTest, AnUnknownIdIsAnsweredWithStateNoneAndNoError) {
    const std::string id = "0123456789abcdef0123456789abcdef";
    for (const TransferStatus& status : {operations.Start(id, "/x"), operations.Start(id), operations.Update(id),
                                         operations.Pause(id), operations.Resume(id), operations.Retry(id),
                                         operations.Suspend(id), operations.Restore(id), operations.Cancel(id, true)}) {
        EXPECT_EQ(status.transferId, id);
        EXPECT_EQ(status.partnerId, "?");
        EXPECT_EQ(status.destPath, "");
        EXPECT_EQ(status.state, TransferState::None);
        EXPECT_EQ(status.error, TransferError::None);
        EXPECT_EQ(status.secondsRemaining, -1);
        EXPECT_TRUE(status.IsFinal());
    }
    EXPECT_FALSE(operations.CanTransferTo(id, temp.Path()));
}

TEST_F(OperationsTest, ACreationAfterShutdownIsAnsweredWithErrorUnknown) {
    manager.Shutdown();
    const TransferStatus status = operations.Transfer("N7", "P1", "42");
    EXPECT_EQ(status.transferId, "");
    EXPECT_EQ(status.state, TransferState::None);
    EXPECT_EQ(status.error, TransferError::Unknown);
}

}  // namespace
}  // namespace vrexa
