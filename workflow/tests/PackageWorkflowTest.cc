// A whole package through the download workflow, from the local download
// network (nginx nodes) into an empty folder: every file bit-identical, the
// programs runnable and nothing else, every byte counted once; then the same
// workflow on the complete folder downloads nothing, and the check of the
// folder passes.
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/network/LocalNetwork.h"
#include "workflow/TransferPackageWorkflowFactory.h"
#include "workflow/VerifyTransferWorkflowFactory.h"
#include "workflow/tests/WorkflowHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using testing::TestFile;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

bool Executable(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

TEST(PackageWorkflowTest, PackageDownloadsWholeThenResumesAsCompleteAndVerifies) {
    testing::TempFolder temp;
    const std::vector<TestFile> files = {
        {"setup", RandomBytes(300 * 1024 + 17, 1)},      {"tools/helper.sh", RandomBytes(70 * 1024, 2)},
        {"data/a.bin", RandomBytes(1536 * 1024 + 5, 3)}, {"data/empty", ""},
        {"docs/read me.txt", RandomBytes(1000, 4)},
    };
    std::uint64_t total = 0;
    for (const auto& file : files)
        total += file.bytes.size();
    testing::Publish(temp.Path() / "tree", files, "setup", 64 * 1024, {});

    testsupport::LocalNetworkOptions options;
    options.tree = temp.Path() / "tree";
    options.nodes = 2;
    options.partners = {"p1"};
    testsupport::LocalNetwork network(options);
    testing::WorkflowHarness harness(network.ManifestHost(), network.GeolocationUrl());
    const fs::path dest = temp.Path() / "dest";
    fs::create_directories(dest);

    TransferPackageWorkflowFactory download;
    auto first = harness.NewTransfer("?", dest.string());
    harness.Run(download, first);
    ASSERT_TRUE(first->Outcome());
    ASSERT_EQ(first->Outcome()->result, WorkResult::Success) << first->Outcome()->data->ToString();
    ASSERT_TRUE(first->Initialized());
    EXPECT_EQ(first->Initialized()->result, WorkResult::Success);
    for (const auto& file : files) {
        EXPECT_TRUE(testing::ReadFile(dest / file.path) == file.bytes) << file.path;
    }
    EXPECT_TRUE(Executable(dest / "setup"));
    EXPECT_TRUE(Executable(dest / "tools/helper.sh"));
    EXPECT_FALSE(Executable(dest / "data/a.bin"));
    EXPECT_FALSE(Executable(dest / "docs/read me.txt"));
    EXPECT_EQ(first->progress->completed.load(), total);
    EXPECT_EQ(first->progress->verified.load(), total);
    EXPECT_GE(first->progress->downloaded.load(), total);
    const std::vector<std::string> reported = first->OutputFiles();
    std::set<std::string> expected;
    for (const auto& file : files)
        expected.insert(file.path);
    EXPECT_EQ(std::set<std::string>(reported.begin(), reported.end()), expected);
    EXPECT_EQ(reported.size(), files.size());

    auto again = harness.NewTransfer("v1", dest.string());
    harness.Run(download, again);
    ASSERT_TRUE(again->Outcome());
    EXPECT_EQ(again->Outcome()->result, WorkResult::Success);
    EXPECT_EQ(again->progress->downloaded.load(), 0u);
    EXPECT_EQ(again->progress->verified.load(), total);

    VerifyTransferWorkflowFactory verify;
    auto check = harness.NewTransfer("v1", dest.string());
    harness.Run(verify, check);
    ASSERT_TRUE(check->Outcome());
    EXPECT_EQ(check->Outcome()->result, WorkResult::Success);
    EXPECT_EQ(check->progress->verified.load(), total);
}

}  // namespace
}  // namespace vrexa
