#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "tests/support/transfer/FakeTransferWorkInterface.h"
#include "transfer/tests/SampleParams.h"

namespace vrexa {
namespace {

using testsupport::FakeTransferWorkInterface;

TEST(TransferWorkInterfaceTest, ManifestsAreNullUntilStoredAndClearedByStoringNull) {
    FakeTransferWorkInterface transfer(testing::SampleParams());
    EXPECT_EQ(transfer.GetPackage(), nullptr);
    EXPECT_EQ(transfer.GetNodeList(), nullptr);
    EXPECT_EQ(transfer.GetGeolocation(), nullptr);

    const auto package = std::make_shared<StandardPackageManifest>();
    const auto nodes = std::make_shared<StandardNodeListManifest>();
    const auto geolocation = std::make_shared<StandardGeolocationManifest>();
    transfer.StorePackage(package);
    transfer.StoreNodeList(nodes);
    transfer.StoreGeolocation(geolocation);
    EXPECT_EQ(transfer.GetPackage(), package);
    EXPECT_EQ(transfer.GetNodeList(), nodes);
    EXPECT_EQ(transfer.GetGeolocation(), geolocation);

    transfer.StorePackage(nullptr);
    EXPECT_EQ(transfer.GetPackage(), nullptr);
    EXPECT_EQ(transfer.GetNodeList(), nodes);
}

TEST(TransferWorkInterfaceTest, PreallocateAndParamChangesShowInLaterCopies) {
    FakeTransferWorkInterface transfer(testing::SampleParams());
    EXPECT_TRUE(transfer.GetPreallocate());
    transfer.SetPreallocate(false);
    EXPECT_FALSE(transfer.GetPreallocate());
    transfer.ChangeParams([](TransferParams& params) { params.versionId = "43"; });

    const TransferParams copy = transfer.GetParams();
    EXPECT_FALSE(copy.preallocate);
    EXPECT_EQ(copy.versionId, "43");
    EXPECT_EQ(copy.transferId, testing::SampleParams().transferId);
}

// A preallocation check, a transfer storing its version and manifests, and a
// log thread copying the params all at once: every copy sees the version and
// the destination changed together, and the thread sanitizer sees no race.
TEST(TransferWorkInterfaceTest, ConcurrentWritersAndReadersSeeWholeChanges) {
    FakeTransferWorkInterface transfer(testing::SampleParams());
    constexpr int kRounds = 2000;
    std::atomic<bool> done{false};

    std::thread check([&] {
        for (int i = 0; i < kRounds; ++i)
            transfer.SetPreallocate(i % 2 == 0);
    });
    std::thread owner([&] {
        for (int i = 0; i < kRounds; ++i) {
            const std::string value = "v" + std::to_string(i);
            transfer.ChangeParams([&](TransferParams& params) {
                params.versionId = value;
                params.destPath = value;
            });
            transfer.StorePackage(std::make_shared<StandardPackageManifest>());
            transfer.StoreNodeList(i % 3 == 0 ? nullptr : std::make_shared<StandardNodeListManifest>());
        }
        done = true;
    });

    int torn = 0;
    // At least as many reads as writes, however the threads are scheduled.
    for (int i = 0; i < kRounds || !done; ++i) {
        const TransferParams copy = transfer.GetParams();
        if (copy.versionId != "42" && copy.versionId != copy.destPath) {
            ++torn;
        }
        const auto package = transfer.GetPackage();
        const auto nodes = transfer.GetNodeList();
        (void)transfer.GetPreallocate();
    }
    check.join();
    owner.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(transfer.GetParams().versionId, "v" + std::to_string(kRounds - 1));
}

}  // namespace
}  // namespace vrexa
