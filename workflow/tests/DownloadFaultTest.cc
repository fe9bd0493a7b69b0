// Real downloads of a package's files from fault-injecting nodes: every fault
// a node can commit is survived while one healthy node is left, and ends in
// the transfer error it stands for when none is.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "manifest/StandardNodeManifest.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestHttpServer.h"
#include "transfer/TransferStatusData.h"
#include "workflow/TransferMultipleFilesWork.h"
#include "workflow/TransferSingleFileWork.h"
#include "workflow/tests/DownloadHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using downloadtest::DownloadTransfer;
using downloadtest::RunOutcome;
using testsupport::Fault;
using testsupport::TestHttpServer;

constexpr std::uint32_t kChunk = 64 * 1024;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

// A package of a run file and two other files (one of them empty) served by
// test servers from one folder; the destination is another folder.
class DownloadFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        files_ = {{"bin/setup.sh", RandomBytes(3 * kChunk + 123, 1)},
                  {"data/a b#1.dat", RandomBytes(2 * kChunk, 2)},
                  {"odd/q?x%41:y \xC3\xA5.bin", RandomBytes(1000, 3)},
                  {"empty", ""}};
        for (const auto& [path, data] : files_) {
            downloadtest::WriteFile(root_ / "served/p1/k1/v1" / path, data);
        }
        fs::create_directories(root_ / "dest");
    }

    std::unique_ptr<TestHttpServer> Server() { return std::make_unique<TestHttpServer>((root_ / "served").string()); }

    static std::shared_ptr<NodeManifest> Node(const std::string& id, std::uint16_t port) {
        return std::make_shared<StandardNodeManifest>(id, "127.0.0.1:" + std::to_string(port), "/");
    }

    std::shared_ptr<DownloadTransfer> Transfer(NodeListManifest::Nodes nodes) {
        auto transfer = std::make_shared<DownloadTransfer>();
        PackageManifest::Files manifests;
        for (const auto& [path, data] : files_) {
            manifests.push_back(downloadtest::ManifestOf(path, data, kChunk));
        }
        transfer->package_ = std::make_shared<downloadtest::FixedPackage>("p1", "k1", "v1", "bin/setup.sh", manifests);
        transfer->nodes_ = std::make_shared<downloadtest::FixedNodes>(std::move(nodes));
        transfer->Params().destPath = (root_ / "dest").string();
        return transfer;
    }

    RunOutcome Download(const std::shared_ptr<DownloadTransfer>& transfer) {
        transfer->Finish();
        return downloadtest::RunTree(std::make_shared<TransferMultipleFilesWork>(transfer), 4, 8);
    }

    void ExpectComplete(const RunOutcome& outcome, DownloadTransfer& transfer) {
        ASSERT_TRUE(outcome.finished) << "suspended: " << outcome.suspended;
        ASSERT_EQ(outcome.status.result, WorkResult::Success)
            << (outcome.status.data ? outcome.status.data->ToString() : std::string());
        std::uint64_t total = 0;
        for (const auto& [path, data] : files_) {
            EXPECT_TRUE(fs::is_regular_file(root_ / "dest" / path)) << path;
            EXPECT_TRUE(downloadtest::ReadFile(root_ / "dest" / path) == data) << path;
            total += data.size();
        }
        EXPECT_EQ(transfer.progress_->completed.load(), static_cast<std::int64_t>(total));
        EXPECT_EQ(transfer.progress_->verified.load(), total);
        // A chunk fetched again never counts twice, not even for a moment.
        EXPECT_LE(transfer.progress_->highestCompleted.load(), static_cast<std::int64_t>(total));
    }

    std::uint64_t Size(const std::string& path) { return files_.at(path).size(); }

    testsupport::TestFolder folder_;
    const fs::path root_{folder_.Path()};
    std::map<std::string, std::string> files_;
};

TEST_F(DownloadFaultTest, DownloadsEveryFileBitIdenticalAndReportsEachOnce) {
    auto node = Server();
    auto transfer = Transfer({Node("a", node->Port())});
    ExpectComplete(Download(transfer), *transfer);
    EXPECT_EQ(transfer->progress_->downloaded.load(), 5 * kChunk + 123 + 1000);
    std::vector<std::string> reported = transfer->OutputFiles();
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported,
              (std::vector<std::string>{"bin/setup.sh", "data/a b#1.dat", "empty", "odd/q?x%41:y \xC3\xA5.bin"}));
    // Every chunk was asked for with its own range, on the encoded path.
    std::size_t ranged = 0;
    for (const auto& request : node->Requests()) {
        EXPECT_TRUE(request.Header("Range").has_value()) << request.target;
        ranged += request.target == "/p1/k1/v1/data/a%20b%231.dat";
    }
    EXPECT_EQ(ranged, 2u);
}

// With the default settings every slot a file has for chunks holds a request
// while the nodes hold their answers: as many requests at once as the
// parallelism allows (whatever the machine's core count makes it), never
// more, and at least one per node when there are fewer nodes than slots.
TEST_F(DownloadFaultTest, DefaultSettingsKeepEveryNodeBusyWithinTheBound) {
    files_ = {{"big.bin", RandomBytes(24 * kChunk, 4)}};
    downloadtest::WriteFile(root_ / "served/p1/k1/v1/big.bin", files_.at("big.bin"));
    constexpr int kNodes = 4;
    std::vector<std::unique_ptr<TestHttpServer>> servers;
    NodeListManifest::Nodes nodes;
    for (int i = 0; i < kNodes; ++i) {
        servers.push_back(Server());
        servers.back()->SetFault("/p1/k1/v1/big.bin", Fault().Hold("busy"));
        nodes.push_back(Node("n" + std::to_string(i), servers.back()->Port()));
    }
    auto transfer = Transfer(nodes);
    transfer->Finish();
    const TransferBehavior& behavior = transfer->GetBehavior();
    const int bound = std::min({behavior.transferThreads, behavior.maxRunningWorks, behavior.parallelItems});
    auto run = std::async(std::launch::async, [&] {
        return downloadtest::RunTree(std::make_shared<TransferMultipleFilesWork>(transfer), behavior.transferThreads,
                                     behavior.maxRunningWorks);
    });
    // Every request waits at the servers until as many as the engine keeps
    // busy have arrived: then all are let go at once.
    auto held = [&] {
        int total = 0;
        for (const auto& server : servers)
            total += server->Held("busy");
        return total;
    };
    int waiting = 0;
    testsupport::Eventually([&] { return (waiting = held()) >= bound; });
    for (const auto& server : servers)
        server->Release("busy");
    EXPECT_EQ(waiting, bound) << "requests held at the nodes at once";
    ExpectComplete(run.get(), *transfer);
    EXPECT_LE(transfer->requests_.highest.load(), bound);
    EXPECT_GE(transfer->requests_.highest.load(), std::min(bound, kNodes));
}

// An empty file needs no request: files with content are made and fetched
// first, so bytes flow before a package's many empty files are created.
TEST_F(DownloadFaultTest, FilesWithContentAreFetchedBeforeEmptyFilesAreMade) {
    const std::string last = "z.bin";  // the last file with content
    files_["a-empty"] = "";
    files_[last] = RandomBytes(100, 5);
    for (const std::string path : {"a-empty", "z.bin"}) {
        downloadtest::WriteFile(root_ / "served/p1/k1/v1" / path, files_.at(path));
    }
    auto node = Server();
    node->SetFault("/p1/k1/v1/" + last, Fault().Hold("last"));
    auto transfer = Transfer({Node("a", node->Port())});
    transfer->GetBehavior().parallelItems = 1;
    auto run = std::async(std::launch::async, [&] { return Download(transfer); });
    const bool held = testsupport::Eventually([&] { return node->Held("last") > 0; });
    const bool emptyMade = fs::exists(root_ / "dest/a-empty") || fs::exists(root_ / "dest/empty");
    node->Release("last");
    EXPECT_TRUE(held) << "the last file with content was never asked for";
    EXPECT_FALSE(emptyMade) << "an empty file was made before a file with content";
    ExpectComplete(run.get(), *transfer);
}

struct FaultCase {
    const char* name;
    Fault fault;
    TransferError whenAlone;  // the error when the faulty node is the only one
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class NodeFaultTest : public DownloadFaultTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(NodeFaultTest, AHealthyNodeCompletesTheDownload) {
    auto faulty = Server();
    auto healthy = Server();
    for (const auto& [path, data] : files_) {
        faulty->SetFault("/p1/k1/v1/" + path, GetParam().fault);
    }
    auto transfer = Transfer({Node("faulty", faulty->Port()), Node("healthy", healthy->Port())});
    ExpectComplete(Download(transfer), *transfer);
}

TEST_P(NodeFaultTest, WithoutAHealthyNodeTheErrorGoesUp) {
    auto faulty = Server();
    for (const auto& [path, data] : files_) {
        faulty->SetFault("/p1/k1/v1/" + path, GetParam().fault);
    }
    auto transfer = Transfer({Node("faulty", faulty->Port())});
    const RunOutcome outcome = Download(transfer);
    ASSERT_TRUE(outcome.suspended || outcome.finished);
    EXPECT_NE(outcome.status.result, WorkResult::Success);
    EXPECT_EQ(downloadtest::ErrorOf(outcome.status), GetParam().whenAlone)
        << (outcome.status.data ? outcome.status.data->ToString() : std::string());
}

const FaultCase kFaults[] = {
    {"ServiceUnavailable", Fault().Status(503), TransferError::NetworkError},
    {"NotFound", Fault().Status(404), TransferError::RequestRejected},
    {"ResetMidBody", Fault().ResetAfter(1000), TransferError::NetworkError},
    {"CutBody", Fault().Cut(1000), TransferError::RequestRejected},
    // The whole file for a chunk's range: longer than the window.
    {"OverlongBody", Fault().IgnoreRange(), TransferError::RequestRejected},
    {"StallBelowSpeedFloor", Fault().Stall(1000, 30), TransferError::NetworkError},
};

INSTANTIATE_TEST_SUITE_P(Faults, NodeFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// Bytes sent beyond the announced length are not part of the body: they never
// reach the file, and the download completes even from that node alone.
TEST_F(DownloadFaultTest, BytesBeyondTheAnnouncedLengthAreNeverWritten) {
    auto node = Server();
    for (const auto& [path, data] : files_) {
        node->SetFault("/p1/k1/v1/" + path, Fault().ExtraBytes(10));
    }
    auto transfer = Transfer({Node("a", node->Port())});
    ExpectComplete(Download(transfer), *transfer);
}

TEST_F(DownloadFaultTest, ServiceUnavailableOnceIsRetried) {
    auto node = Server();
    node->SetFault("/p1/k1/v1/bin/setup.sh", Fault().Status(503).Times(1));
    auto transfer = Transfer({Node("a", node->Port())});
    ExpectComplete(Download(transfer), *transfer);
}

TEST_F(DownloadFaultTest, ANodeThatIsDownIsLeftForTheOthers) {
    std::uint16_t down = 0;
    {
        auto gone = Server();
        down = gone->Port();
    }
    auto healthy = Server();
    auto transfer = Transfer({Node("down", down), Node("healthy", healthy->Port())});
    ExpectComplete(Download(transfer), *transfer);

    auto alone = Transfer({Node("down", down)});
    fs::remove_all(root_ / "dest");
    fs::create_directories(root_ / "dest");
    const RunOutcome outcome = Download(alone);
    EXPECT_EQ(downloadtest::ErrorOf(outcome.status), TransferError::NetworkError);
}

// A node that serves wrong bytes: the chunk's check fails and the chunk is
// fetched again from the other node.
TEST_F(DownloadFaultTest, CorruptedBytesAreFetchedAgainElsewhere) {
    auto corrupt = Server();
    auto healthy = Server();
    for (auto& [path, data] : files_) {
        std::string wrong = data;
        for (std::size_t at = 0; at < wrong.size(); at += 4096) {
            wrong[at] = static_cast<char>(wrong[at] ^ 0x5A);
        }
        corrupt->SetBody("/p1/k1/v1/" + path, wrong);
    }
    auto transfer = Transfer({Node("corrupt", corrupt->Port()), Node("healthy", healthy->Port())});
    ExpectComplete(Download(transfer), *transfer);

    fs::remove_all(root_ / "dest");
    fs::create_directories(root_ / "dest");
    corrupt->ClearRequests();
    auto alone = Transfer({Node("corrupt", corrupt->Port())});
    const RunOutcome outcome = Download(alone);
    EXPECT_EQ(downloadtest::ErrorOf(outcome.status), TransferError::ChecksumMismatch);
    // A chunk that keeps failing its check is fetched once and retried
    // chunkRetryLimit (4) times before the error goes up.
    std::map<std::string, int> fetched;
    for (const auto& request : corrupt->Requests()) {
        ++fetched[request.path + " " + request.Header("Range").value_or("")];
    }
    int most = 0;
    for (const auto& [range, count] : fetched) {
        most = std::max(most, count);
    }
    EXPECT_EQ(most, 5);
}

// A node a hundred times slower than another is asked for a small part of a
// chunk; the next node chosen continues from the byte after it, and the chunk
// is checked whole. Parts from a node that sends wrong bytes fail that check
// like a whole chunk would, and the chunk is fetched again.
class PartedChunkTest : public DownloadFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PartedChunkTest, ASlowNodeSendsPartsAndTheChunkIsCheckedWhole) {
    const bool corrupt = GetParam();
    constexpr std::uint64_t kPiece = 4096;
    const std::string data = RandomBytes(8 * kChunk, 5);
    files_ = {{"big.bin", data}};
    downloadtest::WriteFile(root_ / "served/p1/k1/v1/big.bin", data);
    auto slow = Server();
    auto fast = Server();
    slow->SetFault("/p1/k1/v1/big.bin", Fault().Delay(0.2));
    if (corrupt) {
        std::string wrong = data;
        for (std::size_t at = 0; at < wrong.size(); at += 1024) {
            wrong[at] = static_cast<char>(wrong[at] ^ 0x5A);
        }
        slow->SetBody("/p1/k1/v1/big.bin", wrong);
    }
    const auto slowNode = Node("slow", slow->Port());
    const auto fastNode = Node("fast", fast->Port());
    auto transfer = Transfer({slowNode, fastNode});
    transfer->GetBehavior().minRequestPiece = static_cast<int>(kPiece);
    transfer->GetBehavior().minNodeShare = 0.5;  // the slow node is drawn often
    transfer->Finish();
    // Both nodes already measured: the slow one at 100 KB/s, the fast one at 100 MB/s.
    OptimizedRequestParams seed(transfer->GetNodeList(), TransferParams(), nullptr);
    for (const auto& [node, speed] : {std::pair{slowNode, 100000u}, std::pair{fastNode, 100000000u}}) {
        for (int i = 0; i < 3; ++i) {
            seed.SelectedNode = node;
            http::RequestStatus status;
            status.state = http::State::Succeeded;
            status.bytes = speed;
            status.totalTimeMs = 1000;
            transfer->GetBehavior().optimizer->ReportResult(seed, status);
        }
    }
    ExpectComplete(Download(transfer), *transfer);

    const auto ranges = [](TestHttpServer& server) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;
        for (const auto& request : server.Requests()) {
            const std::string range = request.Header("Range").value_or("");
            const auto dash = range.find('-');
            asked.emplace_back(std::stoull(range.substr(6, dash - 6)), std::stoull(range.substr(dash + 1)));
        }
        return asked;
    };
    const auto fromSlow = ranges(*slow);
    ASSERT_FALSE(fromSlow.empty());
    if (!corrupt) {
        // Only ever a part, in whole pieces: the fast node would have sent
        // the whole chunk in the time the slow one takes for it.
        for (const auto& [first, last] : fromSlow) {
            EXPECT_LT(last - first + 1, kChunk) << first;
            EXPECT_EQ((last - first + 1) % kPiece, 0u) << first;
        }
    }
    // Some chunk was begun on the slow node and taken on from the middle.
    const auto fromFast = ranges(*fast);
    EXPECT_TRUE(
        std::any_of(fromFast.begin(), fromFast.end(), [](const auto& range) { return range.first % kChunk != 0; }));
}

INSTANTIATE_TEST_SUITE_P(Sources, PartedChunkTest, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? std::string("CorruptSlowNode") : std::string("HonestSlowNode");
});

// Resuming: only what is wrong on disk is fetched, one ranged request for one
// bad chunk, nothing at all for a complete package.
TEST_F(DownloadFaultTest, OnlyAChunkCorruptedOnDiskIsFetchedAgain) {
    auto node = Server();
    auto first = Transfer({Node("a", node->Port())});
    ExpectComplete(Download(first), *first);

    node->ClearRequests();
    auto again = Transfer({Node("a", node->Port())});
    ExpectComplete(Download(again), *again);
    EXPECT_TRUE(node->Requests().empty());
    EXPECT_EQ(again->progress_->downloaded.load(), 0u);

    const fs::path damaged = root_ / "dest/bin/setup.sh";
    std::string bytes = downloadtest::ReadFile(damaged);
    bytes[2 * kChunk + 5] = static_cast<char>(bytes[2 * kChunk + 5] ^ 1);
    downloadtest::WriteFile(damaged, bytes);
    node->ClearRequests();
    auto repair = Transfer({Node("a", node->Port())});
    ExpectComplete(Download(repair), *repair);
    const auto requests = node->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Range"),
              "bytes=" + std::to_string(2 * kChunk) + "-" + std::to_string(3 * kChunk - 1));
    EXPECT_EQ(repair->progress_->downloaded.load(), kChunk);
}

// Without preallocation (a USB drive) the file grows front to back through
// write caches, and a shorter file left behind is resumed rather than
// fetched again.
TEST_F(DownloadFaultTest, WithoutPreallocationAPartialFileIsResumed) {
    auto node = Server();
    const std::string path = "bin/setup.sh";
    downloadtest::WriteFile(root_ / "dest" / path, files_.at(path).substr(0, 2 * kChunk));
    auto transfer = Transfer({Node("a", node->Port())});
    transfer->Params().preallocate = false;
    transfer->Finish();
    auto file = std::make_shared<TransferSingleFileWork>(transfer, transfer->package_->GetRunFile());
    const RunOutcome outcome = downloadtest::RunTree(file, 4, 8);
    ASSERT_TRUE(outcome.finished);
    ASSERT_EQ(outcome.status.result, WorkResult::Success);
    EXPECT_TRUE(downloadtest::ReadFile(root_ / "dest" / path) == files_.at(path));
    std::set<std::string> ranges;
    for (const auto& request : node->Requests()) {
        ranges.insert(request.Header("Range").value_or(""));
    }
    EXPECT_EQ(ranges, (std::set<std::string>{"bytes=131072-196607", "bytes=196608-196730"}));
    EXPECT_EQ(transfer->progress_->verified.load(), Size(path));
}

}  // namespace
}  // namespace vrexa
