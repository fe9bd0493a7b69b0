// Whole packages through the download workflow made by its factory, on a
// real work manager, from the local download network (nginx nodes): every
// file bit-identical whatever its name, the run file and the programs
// runnable and nothing else, every byte counted once; a second run over the
// complete folder requests no chunk at all, one over a folder with one chunk
// spoiled requests exactly that chunk; and the check of the folder passes.
// Links planted in the destination lead neither the download nor the check
// out of it, and a program kept from an earlier version is not runnable while
// it is rewritten.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Eventually.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/network/LocalNetwork.h"
#include "transfer/TransferStatusData.h"
#include "workflow/TransferPackageWorkflowFactory.h"
#include "workflow/VerifyTransferWorkflowFactory.h"
#include "workflow/tests/WorkflowHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using testing::TestFile;

constexpr std::uint32_t kChunk = 64 * 1024;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

bool Executable(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// The run file has no extension, as programs on this system often have none;
// the names hold every character a URL would otherwise take for syntax.
const std::vector<TestFile>& Files() {
    static const std::vector<TestFile> files = {
        {"setup", RandomBytes(300 * 1024 + 17, 1)},
        {"tools/helper.sh", RandomBytes(70 * 1024, 2)},
        {"data/a.bin", RandomBytes(1536 * 1024 + 5, 3)},
        {"data/empty", ""},
        {"docs/read me?#1 100%:final.txt", RandomBytes(1000, 4)},
        {"d\xC3\xA9j\xC3\xA0/\xC3\xBC\xC3\xA5 %41%2F.dat", RandomBytes(kChunk + 1, 5)},
    };
    return files;
}

std::uint64_t TotalSize() {
    std::uint64_t total = 0;
    for (const auto& file : Files()) {
        total += file.bytes.size();
    }
    return total;
}

// Every entry below root with its kind, permissions and content (links by
// target), to show that nothing there changed.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::file_status status = entry.symlink_status();
        std::string description = std::to_string(static_cast<int>(status.type())) + ":" +
                                  std::to_string(static_cast<unsigned>(status.permissions())) + ":";
        if (fs::is_symlink(status)) {
            description += fs::read_symlink(entry.path()).string();
        } else if (fs::is_regular_file(status)) {
            description += testing::ReadFile(entry.path());
        }
        entries[fs::relative(entry.path(), root).string()] = description;
    }
    return entries;
}

TransferError ErrorOf(const WorkStatus& status) {
    const auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
    return data ? data->ToTransferError() : TransferError::None;
}

class PackageWorkflowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        temp_ = new testsupport::TestFolder();
        testing::Publish(Tree(), Files(), "setup", kChunk, {});
        testsupport::LocalNetworkOptions options;
        options.tree = Tree();
        options.nodes = 2;
        options.partners = {"p1"};
        network_ = new testsupport::LocalNetwork(options);
    }

    static void TearDownTestSuite() {
        delete network_;
        network_ = nullptr;
        delete temp_;
        temp_ = nullptr;
    }

    void TearDown() override {
        // Every test starts from the network's own nodes.
        std::vector<testsupport::NetworkNode> nodes = network_->Nodes();
        network_->ServeNodeList("p1", nodes);
    }

    static fs::path Tree() { return fs::path(temp_->Path()) / "tree"; }

    // A fresh, empty destination folder.
    fs::path NewDestination(const std::string& name) {
        const fs::path dest = fs::path(temp_->Path()) / name;
        fs::remove_all(dest);
        fs::create_directories(dest);
        return dest;
    }

    std::shared_ptr<testing::TestTransfer> Run(TransferWorkflowFactory& factory, const fs::path& dest,
                                               const std::string& version = "?") {
        auto transfer = harness_.NewTransfer(version, dest.string());
        harness_.Run(factory, transfer);
        return transfer;
    }

    static testsupport::TestFolder* temp_;
    static testsupport::LocalNetwork* network_;
    testing::WorkflowHarness harness_{network_->ManifestHost(), network_->GeolocationUrl()};
    TransferPackageWorkflowFactory download_;
    VerifyTransferWorkflowFactory verify_;
};

testsupport::TestFolder* PackageWorkflowTest::temp_ = nullptr;
testsupport::LocalNetwork* PackageWorkflowTest::network_ = nullptr;

TEST_F(PackageWorkflowTest, EveryFileArrivesBitIdenticalAndOnlyProgramsAreRunnable) {
    const fs::path dest = NewDestination("fresh");
    const auto transfer = Run(download_, dest);
    ASSERT_TRUE(transfer->Outcome());
    ASSERT_EQ(transfer->Outcome()->result, WorkResult::Success)
        << (transfer->Outcome()->data ? transfer->Outcome()->data->ToString() : "");
    ASSERT_TRUE(transfer->Initialized());
    EXPECT_EQ(transfer->Initialized()->result, WorkResult::Success);
    for (const auto& file : Files()) {
        EXPECT_TRUE(testing::ReadFile(dest / file.path) == file.bytes) << file.path;
    }
    // The run file is a program though its name does not say so.
    EXPECT_TRUE(Executable(dest / "setup"));
    EXPECT_TRUE(Executable(dest / "tools/helper.sh"));
    for (const auto& file : Files()) {
        if (file.path != "setup" && file.path != "tools/helper.sh") {
            EXPECT_FALSE(Executable(dest / file.path)) << file.path;
        }
    }
    EXPECT_EQ(transfer->progress->completed.load(), TotalSize());
    EXPECT_EQ(transfer->progress->verified.load(), TotalSize());
    EXPECT_GE(transfer->progress->downloaded.load(), TotalSize());
    // A file is reported when its work is released, which may come a moment
    // after the root's outcome has been seen (another thread may still hold
    // the work).
    std::vector<std::string> reported;
    testsupport::Eventually([&] {
        reported = transfer->OutputFiles();
        return reported.size() >= Files().size();
    });
    std::set<std::string> expected;
    for (const auto& file : Files()) {
        expected.insert(file.path);
    }
    EXPECT_EQ(std::set<std::string>(reported.begin(), reported.end()), expected);
    EXPECT_EQ(reported.size(), Files().size());
}

TEST_F(PackageWorkflowTest, ResumingRequestsOnlyWhatIsWrongOnDisk) {
    const fs::path dest = NewDestination("resumed");
    const auto first = Run(download_, dest);
    ASSERT_TRUE(first->Outcome());
    ASSERT_EQ(first->Outcome()->result, WorkResult::Success);

    // From now on the only node is a server that records every request.
    testsupport::TestHttpServer recorder(Tree().string());
    network_->ServeNodeList("p1", {{"r1", recorder.Address(), "/packages/"}});

    const auto complete = Run(download_, dest, "v1");
    ASSERT_TRUE(complete->Outcome());
    EXPECT_EQ(complete->Outcome()->result, WorkResult::Success);
    EXPECT_TRUE(recorder.Requests().empty());
    EXPECT_EQ(complete->progress->downloaded.load(), 0u);
    EXPECT_EQ(complete->progress->completed.load(), TotalSize());
    EXPECT_EQ(complete->progress->verified.load(), TotalSize());
    EXPECT_TRUE(Executable(dest / "setup"));

    // One byte spoiled in the second chunk of a file: that chunk alone, in
    // one ranged request.
    const TestFile& spoiled = Files()[2];
    {
        std::fstream file(dest / spoiled.path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(kChunk + 10);
        file.put(static_cast<char>(~spoiled.bytes[kChunk + 10]));
    }
    const auto repaired = Run(download_, dest, "v1");
    ASSERT_TRUE(repaired->Outcome());
    EXPECT_EQ(repaired->Outcome()->result, WorkResult::Success);
    const auto requests = recorder.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/packages/p1/k1/v1/" + spoiled.path);
    EXPECT_EQ(requests[0].Header("Range").value_or(""),
              "bytes=" + std::to_string(kChunk) + "-" + std::to_string(2 * kChunk - 1));
    EXPECT_TRUE(testing::ReadFile(dest / spoiled.path) == spoiled.bytes);
    EXPECT_EQ(repaired->progress->downloaded.load(), kChunk);

    const auto check = Run(verify_, dest, "v1");
    ASSERT_TRUE(check->Outcome());
    EXPECT_EQ(check->Outcome()->result, WorkResult::Success);
    EXPECT_EQ(check->progress->verified.load(), TotalSize());
    EXPECT_TRUE(recorder.Requests().size() == 1u);
}

// A link at a package path in the destination (a folder, a file, the run
// file) is a bad path: the download fails with a file-access error, the link
// stays, and nothing it points to is written, replaced or made executable.
TEST_F(PackageWorkflowTest, LinksAtPackagePathsFailTheDownloadAndLeaveEverythingOutsideAsItWas) {
    struct Case {
        const char* name;
        const char* link;    // in the destination
        const char* target;  // in the folder outside; "" for that folder itself
    };
    const Case cases[] = {
        {"folder of a file", "data", ""},
        {"a file", "docs/read me?#1 100%:final.txt", "victim.txt"},
        {"the run file", "setup", "victim.txt"},
    };
    int index = 0;
    for (const Case& c : cases) {
        // A folder of its own per case: works of the failed transfer that
        // were still winding down may hold the previous one.
        const std::string suffix = std::to_string(index++);
        const fs::path dest = NewDestination("linked" + suffix);
        const fs::path elsewhere = NewDestination("elsewhere" + suffix);
        { std::ofstream(elsewhere / "victim.txt") << "the user's own file"; }
        fs::permissions(elsewhere / "victim.txt", fs::perms::owner_read | fs::perms::owner_write |
                                                      fs::perms::group_read | fs::perms::others_read);
        const auto before = Snapshot(elsewhere);
        fs::create_directories((dest / c.link).parent_path());
        fs::create_symlink(elsewhere / c.target, dest / c.link);

        const auto transfer = Run(download_, dest);
        ASSERT_TRUE(transfer->Outcome()) << c.name;
        EXPECT_EQ(transfer->Outcome()->result, WorkResult::FatalError) << c.name;
        EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::FileAccessError) << c.name;
        EXPECT_EQ(Snapshot(elsewhere), before) << c.name;
        EXPECT_TRUE(fs::is_symlink(dest / c.link)) << c.name;
    }
}

// The check of a destination reads the package's own files: a link there,
// even to a copy with the right bytes, does not pass for the file.
TEST_F(PackageWorkflowTest, VerificationDoesNotFollowALinkOutOfTheDestination) {
    struct Case {
        const char* name;
        const char* link;  // a package path, or a folder of one
    };
    const Case cases[] = {{"a file", "data/a.bin"}, {"a folder", "tools"}};
    for (const Case& c : cases) {
        const fs::path dest = NewDestination("checked");
        const auto download = Run(download_, dest);
        ASSERT_TRUE(download->Outcome()) << c.name;
        ASSERT_EQ(download->Outcome()->result, WorkResult::Success) << c.name;
        const fs::path elsewhere = NewDestination("copies");
        fs::rename(dest / c.link, elsewhere / "copy");
        fs::create_symlink(elsewhere / "copy", dest / c.link);
        const auto before = Snapshot(elsewhere);

        const auto check = Run(verify_, dest, "v1");
        ASSERT_TRUE(check->Outcome()) << c.name;
        EXPECT_EQ(check->Outcome()->result, WorkResult::FatalError) << c.name;
        EXPECT_EQ(ErrorOf(*check->Outcome()), TransferError::ChecksumMismatch) << c.name;
        EXPECT_EQ(Snapshot(elsewhere), before) << c.name;
    }
}

// A program kept from the earlier version, of the right size but with a
// wrong chunk: while that chunk is rewritten (here: the update fails half
// way) it cannot be run; the update that completes makes it runnable again.
TEST_F(PackageWorkflowTest, KeptProgramIsNotRunnableWhileRewrittenAndRunnableAfterSuccess) {
    const fs::path dest = NewDestination("kept");
    const auto first = Run(download_, dest);
    ASSERT_TRUE(first->Outcome());
    ASSERT_EQ(first->Outcome()->result, WorkResult::Success);
    const TestFile& program = Files()[1];
    ASSERT_EQ(program.path, "tools/helper.sh");
    ASSERT_TRUE(Executable(dest / program.path));
    {
        std::fstream file(dest / program.path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(kChunk + 10);
        file.put(static_cast<char>(~program.bytes[kChunk + 10]));
    }

    // The only node cuts every answer for the program short.
    testsupport::TestHttpServer node(Tree().string());
    network_->ServeNodeList("p1", {{"n1", node.Address(), "/packages/"}});
    node.SetFault("/packages/p1/k1/v1/" + program.path, testsupport::Fault().Cut(100));
    const auto failed = Run(download_, dest, "v1");
    const auto stopped = failed->Outcome() ? failed->Outcome() : failed->Suspension();
    ASSERT_TRUE(stopped);
    EXPECT_NE(stopped->result, WorkResult::Success);
    EXPECT_FALSE(node.Requests().empty());
    EXPECT_FALSE(Executable(dest / program.path));
    // A program the update did not have to touch keeps running.
    EXPECT_TRUE(Executable(dest / "setup"));

    node.ClearFaults();
    const auto repaired = Run(download_, dest, "v1");
    ASSERT_TRUE(repaired->Outcome());
    EXPECT_EQ(repaired->Outcome()->result, WorkResult::Success);
    EXPECT_TRUE(testing::ReadFile(dest / program.path) == program.bytes);
    EXPECT_TRUE(Executable(dest / program.path));
}

}  // namespace
}  // namespace vrexa
