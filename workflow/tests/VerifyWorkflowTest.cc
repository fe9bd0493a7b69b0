// The check of a package already on disk: intact, changed, shortened,
// lengthened and missing files, on a writable and on a read-only tree. The
// check requests manifests only, never a chunk, and changes nothing on disk.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestHttpServer.h"
#include "transfer/TransferStatusData.h"
#include "workflow/ChecksumStatusData.h"
#include "workflow/FileWorks.h"
#include "workflow/MapAndVerifyChunkWork.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/VerifyTransferWorkflowFactory.h"
#include "workflow/tests/WorkflowHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using testing::ErrorOf;
using testing::Message;
using testing::TestFile;
using testing::TestTransfer;
using testsupport::TestHttpServer;

constexpr std::uint32_t kChunk = 1000;

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 17) % 251);
    return bytes;
}

const std::vector<TestFile> kFiles = {
    {"setup", Pattern(2500, 1)},
    {"data/a.bin", Pattern(3000, 2)},
    {"data/deep/b.bin", Pattern(999, 3)},
    {"empty", ""},
};

std::uint64_t TotalSize() {
    std::uint64_t total = 0;
    for (const auto& file : kFiles)
        total += file.bytes.size();
    return total;
}

// What a check must leave as it found it: contents, size, permissions and
// modification time of every entry.
struct Snapshot {
    std::map<std::string, std::string> contents;
    std::map<std::string, fs::perms> perms;
    std::map<std::string, fs::file_time_type> times;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const fs::path& root) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string key = fs::relative(entry.path(), root).string();
        snapshot.perms[key] = entry.status().permissions();
        snapshot.times[key] = fs::last_write_time(entry.path());
        if (entry.is_regular_file()) snapshot.contents[key] = testing::ReadFile(entry.path());
    }
    return snapshot;
}

class VerifyWorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tree_);
        server_ = std::make_unique<TestHttpServer>(tree_.string());
        server_->SetBody("/geo-location", R"({"ip": "192.0.2.7", "country_code": "SE"})");
        harness_ = std::make_unique<testing::WorkflowHarness>(server_->Address(), server_->Url("/geo-location"));
        testing::Publish(tree_, kFiles, "setup", kChunk, {server_->Address()});
        testing::WriteFiles(dest_, kFiles);
    }

    std::shared_ptr<TestTransfer> Verify() {
        server_->ClearRequests();
        auto transfer = harness_->NewTransfer("?", dest_.string());
        harness_->Run(factory_, transfer);
        return transfer;
    }

    // Requests other than for the manifests, node list and geolocation.
    std::vector<std::string> ChunkRequests() {
        std::vector<std::string> paths;
        for (const auto& request : server_->Requests()) {
            if (request.path.rfind("/packages/", 0) == 0) paths.push_back(request.path);
        }
        return paths;
    }

    testsupport::TestFolder temp_;
    fs::path tree_ = fs::path(temp_.Path()) / "tree";
    fs::path dest_ = fs::path(temp_.Path()) / "dest";
    std::unique_ptr<TestHttpServer> server_;
    std::unique_ptr<testing::WorkflowHarness> harness_;
    VerifyTransferWorkflowFactory factory_;
};

// Makes every file under root unwritable for this process: write bits
// removed and, where the process may set it (a privileged process ignores
// write bits), the immutable flag. Undone when it goes.
class ReadOnlyTree {
public:
    explicit ReadOnlyTree(fs::path root) : root_(std::move(root)) {
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            fs::permissions(entry.path(), kWrite, fs::perm_options::remove);
            if (entry.is_regular_file()) {
                SetImmutable(entry.path(), true);
            }
        }
    }
    ~ReadOnlyTree() {
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            if (entry.is_regular_file()) {
                SetImmutable(entry.path(), false);
            }
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
        }
    }
    ReadOnlyTree(const ReadOnlyTree&) = delete;
    ReadOnlyTree& operator=(const ReadOnlyTree&) = delete;

    // Whether this process can still open path for writing.
    static bool Writable(const fs::path& path) {
        const int fd = ::open(path.c_str(), O_WRONLY);
        if (fd >= 0) {
            ::close(fd);
        }
        return fd >= 0;
    }

private:
    static constexpr fs::perms kWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

    static void SetImmutable(const fs::path& path, bool on) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) {
            return;
        }
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(fd);
    }

    fs::path root_;
};

TEST_F(VerifyWorkflowTest, IntactPackageVerifiesOnAWritableAndOnAReadOnlyTree) {
    for (bool readOnly : {false, true}) {
        std::optional<ReadOnlyTree> locked;
        if (readOnly) {
            locked.emplace(dest_);
            if (ReadOnlyTree::Writable(dest_ / "setup")) {
                GTEST_SKIP() << "this process can write files whatever their mode and flags";
            }
        }
        const Snapshot before = Take(dest_);
        const auto transfer = Verify();
        ASSERT_TRUE(transfer->Outcome()) << readOnly;
        EXPECT_EQ(transfer->Outcome()->result, WorkResult::Success)
            << readOnly << " " << (transfer->Outcome()->data ? transfer->Outcome()->data->ToString() : "");
        EXPECT_EQ(transfer->progress->completed.load(), TotalSize()) << readOnly;
        EXPECT_EQ(transfer->progress->verified.load(), TotalSize()) << readOnly;
        EXPECT_EQ(transfer->progress->downloaded.load(), 0u) << readOnly;
        EXPECT_TRUE(ChunkRequests().empty()) << readOnly;
        EXPECT_TRUE(transfer->OutputFiles().empty()) << readOnly;
        EXPECT_TRUE(Take(dest_) == before) << readOnly;
    }
}

TEST_F(VerifyWorkflowTest, ChangedBytesNameTheFileAndTheChunk) {
    const struct {
        const char* path;
        std::uint64_t offset;
        std::uint64_t chunkLower;
    } cases[] = {
        {"data/a.bin", 2999, 2000},  // the last byte of the last full chunk
        {"setup", 2400, 2000},       // in the last, shorter chunk
        {"data/deep/b.bin", 0, 0},   // a file of one chunk
    };
    for (const auto& c : cases) {
        testing::WriteFiles(dest_, kFiles);
        {
            std::fstream file(dest_ / c.path, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(c.offset));
            file.put('\xff');
        }
        const Snapshot before = Take(dest_);
        const auto transfer = Verify();
        ASSERT_TRUE(transfer->Outcome()) << c.path;
        EXPECT_EQ(transfer->Outcome()->result, WorkResult::FatalError) << c.path;
        EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::ChecksumMismatch) << c.path;
        auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(transfer->Outcome()->data);
        ASSERT_NE(checksum, nullptr) << c.path;
        EXPECT_EQ(checksum->mapData->fileData->filePath, c.path);
        EXPECT_EQ(checksum->mapData->lowerBound, c.chunkLower);
        EXPECT_NE(checksum->actualChecksum, checksum->mapData->expectedChecksum);
        const TransferErrorFacts facts = checksum->Facts();
        EXPECT_EQ(facts.fileFault, TransferErrorFacts::FileFault::WrongChunk);
        EXPECT_EQ(facts.file, c.path);
        EXPECT_EQ(facts.chunkFirst, c.chunkLower);
        EXPECT_EQ(facts.chunkLast, checksum->mapData->upperBound);
        EXPECT_TRUE(ChunkRequests().empty()) << c.path;
        EXPECT_TRUE(Take(dest_) == before) << c.path;
    }
}

TEST_F(VerifyWorkflowTest, FileOfAnotherSizeOrMissingIsAMismatch) {
    const struct {
        const char* name;
        const char* path;
        std::optional<std::uint64_t> size;  // resized to this; none: removed
        std::string message;                // of a size mismatch
        std::uint64_t expected;
    } cases[] = {
        {"one byte short", "data/a.bin", 2999, "OpenExistingFileWork::ExecuteTask: size mismatch", 3000},
        {"one byte long", "setup", 2501, "OpenExistingFileWork::ExecuteTask: size mismatch", 2500},
        {"empty file with bytes", "empty", 1, "OpenExistingFileWork::ExecuteTask: size mismatch", 0},
        {"missing", "data/deep/b.bin", std::nullopt, "", 999},
    };
    for (const auto& c : cases) {
        testing::WriteFiles(dest_, kFiles);
        if (c.size) {
            fs::resize_file(dest_ / c.path, *c.size);
        } else {
            fs::remove(dest_ / c.path);
        }
        const Snapshot before = Take(dest_);
        const auto transfer = Verify();
        ASSERT_TRUE(transfer->Outcome()) << c.name;
        EXPECT_EQ(transfer->Outcome()->result, WorkResult::FatalError) << c.name;
        EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::ChecksumMismatch) << c.name;
        if (!c.message.empty()) {
            EXPECT_EQ(Message(*transfer->Outcome()), c.message) << c.name;
        }
        // The facts a program words its own message from: which file, and
        // what is wrong with it.
        auto data = std::dynamic_pointer_cast<const TransferStatusData>(transfer->Outcome()->data);
        ASSERT_NE(data, nullptr) << c.name;
        const TransferErrorFacts facts = data->Facts();
        EXPECT_EQ(facts.file, c.path) << c.name;
        if (c.size) {
            EXPECT_EQ(facts.fileFault, TransferErrorFacts::FileFault::WrongSize) << c.name;
            EXPECT_EQ(facts.fileSize, *c.size) << c.name;
            EXPECT_EQ(facts.expectedSize, c.expected) << c.name;
        } else {
            EXPECT_EQ(facts.fileFault, TransferErrorFacts::FileFault::Missing) << c.name;
        }
        EXPECT_TRUE(ChunkRequests().empty()) << c.name;
        EXPECT_TRUE(Take(dest_) == before) << c.name;
        if (!c.size) {
            EXPECT_FALSE(fs::exists(dest_ / c.path)) << c.name;
        }
    }
}

TEST_F(VerifyWorkflowTest, PackageWithoutFilesFailsItsInitialization) {
    testing::TestPackageOptions options;
    server_->SetBody("/manifests/k1/current.xml", testing::PackageXml({}, options));
    const auto transfer = Verify();
    ASSERT_TRUE(transfer->Initialized());
    EXPECT_EQ(transfer->Initialized()->result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(*transfer->Initialized()), TransferError::Unknown);
    ASSERT_TRUE(transfer->Outcome());
    EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::Unknown);
}

// A file shortened while its chunks are being checked: the view that can no
// longer cover the chunk makes a mismatch, never a failure to write.
TEST_F(VerifyWorkflowTest, FileShortenedDuringTheCheckIsAMismatch) {
    const std::vector<TestFile> big = {{"big.bin", Pattern(64 * 1024, 4)}};
    testing::WriteFiles(dest_, big);
    for (bool mappedFirst : {false, true}) {
        fs::resize_file(dest_ / "big.bin", big[0].bytes.size());
        auto transfer = harness_->NewTransfer("v1", dest_.string());
        auto fileData = std::make_shared<TransferSharedFileData>("big.bin", big[0].bytes.size());
        auto open = std::make_shared<OpenExistingFileWork>(transfer, fileData);
        ASSERT_EQ(open->Execute().result, WorkResult::Success);
        auto chunk = std::make_shared<MapAndVerifyChunkWork>(transfer, fileData, 32 * 1024, 64 * 1024 - 1, 0u);
        const auto steps = chunk->GetChildren();
        ASSERT_EQ(steps.size(), 4u);
        if (mappedFirst) {
            ASSERT_EQ(std::dynamic_pointer_cast<SimpleWork>(steps[0])->Execute().result, WorkResult::Success);
        }
        fs::resize_file(dest_ / "big.bin", 16 * 1024);
        WorkStatus status(WorkResult::Success, nullptr);
        for (std::size_t i = mappedFirst ? 1 : 0; i < steps.size() && status.result == WorkResult::Success; ++i)
            status = std::dynamic_pointer_cast<SimpleWork>(steps[i])->Execute();
        EXPECT_EQ(status.result, WorkResult::FatalError) << mappedFirst;
        EXPECT_EQ(ErrorOf(status), TransferError::ChecksumMismatch) << mappedFirst;
        EXPECT_EQ(fs::file_size(dest_ / "big.bin"), 16u * 1024) << mappedFirst;
    }
}

}  // namespace
}  // namespace vrexa
