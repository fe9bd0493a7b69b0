// The steps of the file and chunk pipelines one by one, on real files.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/SharedFile.h"
#include "file/Volume.h"
#include "file/posix/FilesystemImpl.h"
#include "http/State.h"
#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"
#include "manifest/StandardNodeManifest.h"
#include "tests/support/ForgedChunk.h"
#include "tests/support/TestFolder.h"
#include "text/HexText.h"
#include "transfer/RequestStateError.h"
#include "transfer/TransferFileExceptionData.h"
#include "workflow/ChecksumStatusData.h"
#include "workflow/ChunkStepWork.h"
#include "workflow/FileWorks.h"
#include "workflow/HttpTransferStatusData.h"
#include "workflow/OptimizedRequestChunkWork.h"
#include "workflow/TransferHttpWriter.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/ZeroDigest.h"
#include "workflow/tests/DownloadHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using downloadtest::DownloadTransfer;

std::string Message(const WorkStatus& status) {
    if (const auto error = std::dynamic_pointer_cast<WorkErrorData>(status.data)) {
        return error->GetErrorMessage();
    }
    return std::string();
}

class WorkStepsTest : public ::testing::Test {
protected:
    void SetUp() override {
        transfer_ = std::make_shared<DownloadTransfer>();
        transfer_->Params().destPath = root_.string();
        transfer_->nodes_ = std::make_shared<downloadtest::FixedNodes>(
            NodeListManifest::Nodes{std::make_shared<StandardNodeManifest>("a", "127.0.0.1:1", "/")});
        transfer_->Finish();
    }

    testsupport::TestFolder folder_;
    const fs::path root_{folder_.Path()};
    std::shared_ptr<DownloadTransfer> transfer_;
};

// What the open step makes of a file found on disk, with and without
// preallocation.
struct OpenCase {
    const char* name;
    std::optional<std::size_t> found;  // bytes on disk before, none: no file
    bool preallocate;
    std::size_t sizeAfter;
    bool keepsBytes;  // the bytes found are still there
    bool zeroFilled;  // chunks may be checked against zeros
};

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

class OpenTableTest : public WorkStepsTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenTableTest, LeavesTheFileAsTheTableSays) {
    const OpenCase& c = GetParam();
    constexpr std::size_t kSize = 10000;
    const std::string found(c.found.value_or(0), 'x');
    if (c.found) {
        downloadtest::WriteFile(root_ / "f/file.bin", found);
    }
    transfer_->Params().preallocate = c.preallocate;
    auto fileData = std::make_shared<TransferSharedFileData>("f/file.bin", kSize);
    auto open = std::make_shared<OpenAndAllocateFileWork>(transfer_, fileData);
    ASSERT_EQ(open->ExecuteTask().result, WorkResult::Success);
    ASSERT_TRUE(fileData->GetFile());
    EXPECT_EQ(fileData->GetFile()->GetSize(), c.sizeAfter);
    const std::string after = downloadtest::ReadFile(root_ / "f/file.bin");
    EXPECT_EQ(after.size(), c.sizeAfter);
    if (c.keepsBytes) {
        EXPECT_EQ(after.substr(0, found.size()), found);
    } else {
        EXPECT_EQ(after.find('x'), std::string::npos);
    }
    EXPECT_EQ(fileData->IsChunkZero(0), c.zeroFilled);
}

const OpenCase kOpenCases[] = {
    {"NoFilePreallocated", std::nullopt, true, 10000, true, true},
    {"NoFileNotPreallocated", std::nullopt, false, 0, true, true},
    {"EqualSizeKept", 10000, true, 10000, true, false},
    {"EqualSizeKeptNotPreallocated", 10000, false, 10000, true, false},
    {"EmptyExtended", 0, true, 10000, true, true},
    {"EmptyKept", 0, false, 0, true, true},
    {"ShorterRecreated", 300, true, 10000, false, true},
    {"ShorterResumed", 300, false, 300, true, false},
    {"LongerRecreated", 20000, true, 10000, false, true},
    {"LongerRecreatedEmpty", 20000, false, 0, false, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, OpenTableTest, ::testing::ValuesIn(kOpenCases),
                         [](const ::testing::TestParamInfo<OpenCase>& info) { return info.param.name; });

// Program files lose their execute bits before anything is written into
// them, until the package is complete: at once when the open step creates,
// extends or resumes them; for one kept at its size, only when a chunk
// request is about to write into it (a kept program whose chunks are all
// right stays as it was). With execution not allowed at all, and for files
// that are not programs, nothing changes.
TEST_F(WorkStepsTest, ProgramsAreNotRunnableOnceTheyAreWritten) {
    struct Case {
        const char* path;
        std::size_t found;  // bytes on disk before (the file's size is 100)
        bool allowExecute;
        bool executableAfterOpen;
        bool executableAfterWrite;
    };
    const Case cases[] = {
        {"created.sh", 0, true, false, false},        {"resumed.sh", 40, true, false, false},
        {"kept.sh", 100, true, true, false},          {"kept-allowed.sh", 100, false, true, true},
        {"created-allowed.sh", 0, false, true, true}, {"data.bin", 0, true, true, true},
        {"kept-data.bin", 100, true, true, true},
    };
    transfer_->Params().preallocate = false;  // a shorter file is resumed
    for (const Case& c : cases) {
        downloadtest::WriteFile(root_ / c.path, std::string(c.found, 'x'));
        fs::permissions(root_ / c.path, fs::perms::owner_all);
        transfer_->GetBehavior().allowExecute = c.allowExecute;
        auto fileData = std::make_shared<TransferSharedFileData>(c.path, 100);
        ASSERT_EQ(std::make_shared<OpenAndAllocateFileWork>(transfer_, fileData)->ExecuteTask().result,
                  WorkResult::Success);
        const auto executable = [&] {
            return (fs::status(root_ / c.path).permissions() & fs::perms::owner_exec) != fs::perms::none;
        };
        EXPECT_EQ(executable(), c.executableAfterOpen) << c.path;
        fileData->MarkChunkWritten(0);
        EXPECT_EQ(executable(), c.executableAfterWrite) << c.path;
        EXPECT_EQ(downloadtest::ReadFile(root_ / c.path).substr(0, c.found), std::string(c.found, 'x')) << c.path;
    }
}

TEST_F(WorkStepsTest, OpenExistingChecksPresenceAndSizeWithoutWriting) {
    downloadtest::WriteFile(root_ / "ok.bin", std::string(100, 'a'));
    downloadtest::WriteFile(root_ / "long.bin", std::string(101, 'a'));
    ::chmod((root_ / "ok.bin").c_str(), 0444);
    struct Case {
        const char* path;
        WorkResult result;
        std::optional<TransferError> error;
        const char* message;
    };
    const Case cases[] = {
        {"ok.bin", WorkResult::Success, std::nullopt, ""},
        {"long.bin", WorkResult::FatalError, TransferError::ChecksumMismatch,
         "OpenExistingFileWork::ExecuteTask: size mismatch"},
        {"missing.bin", WorkResult::FatalError, TransferError::ChecksumMismatch, ""},
        {"../outside.bin", WorkResult::FatalError, TransferError::ChecksumMismatch, ""},
    };
    for (const Case& c : cases) {
        auto fileData = std::make_shared<TransferSharedFileData>(c.path, 100);
        const WorkStatus status = std::make_shared<OpenExistingFileWork>(transfer_, fileData)->ExecuteTask();
        EXPECT_EQ(status.result, c.result) << c.path;
        EXPECT_EQ(downloadtest::ErrorOf(status), c.error) << c.path;
        EXPECT_EQ(Message(status), c.message) << c.path;
        EXPECT_EQ(fileData->GetFile() != nullptr, c.result == WorkResult::Success) << c.path;
    }
    EXPECT_FALSE(fs::exists(root_ / "missing.bin"));
}

// Checking a read-only file in place: the chunk steps read through a
// read-only view, match, and leave the file as it was.
TEST_F(WorkStepsTest, ChunkStepsVerifyAReadOnlyFileInPlace) {
    const std::string content(5000, 'q');
    downloadtest::WriteFile(root_ / "ro.bin", content);
    ::chmod((root_ / "ro.bin").c_str(), 0444);
    const auto before = fs::last_write_time(root_ / "ro.bin");
    auto fileData = std::make_shared<TransferSharedFileData>("ro.bin", content.size());
    ASSERT_EQ(std::make_shared<OpenExistingFileWork>(transfer_, fileData)->ExecuteTask().result, WorkResult::Success);
    transfer_->Params().preallocate = false;  // would flush a writable view
    auto map = std::make_shared<TransferSharedMapData>(fileData, 1000, 2999, ChunkChecksum(content.data(), 2000),
                                                       transfer_->progress_);
    for (auto step : std::initializer_list<std::shared_ptr<SimpleWork>>{
             std::make_shared<CreateChunkMapWork>(transfer_, map), std::make_shared<PrefetchChunkWork>(transfer_, map),
             std::make_shared<VerifyChunkWork>(transfer_, map),
             std::make_shared<ReleaseChunkMapWork>(transfer_, map)}) {
        const WorkStatus status = step->ExecuteTask();
        EXPECT_EQ(status.result, WorkResult::Success) << (status.data ? status.data->ToString() : "");
    }
    EXPECT_EQ(transfer_->progress_->verified.load(), 2000u);
    EXPECT_EQ(downloadtest::ReadFile(root_ / "ro.bin"), content);
    EXPECT_EQ(fs::last_write_time(root_ / "ro.bin"), before);
}

// A chunk beyond the end of a file that is not preallocated is collected in a
// write cache; its bytes exist nowhere else, so releasing it always writes
// them, whatever the preallocate flag says.
TEST_F(WorkStepsTest, ReleaseAlwaysWritesAWriteCache) {
    for (const bool preallocate : {false, true}) {
        const std::string name = preallocate ? "a.bin" : "b.bin";
        auto fileData = std::make_shared<TransferSharedFileData>(name, 100);
        transfer_->Params().preallocate = false;
        ASSERT_EQ(std::make_shared<OpenAndAllocateFileWork>(transfer_, fileData)->ExecuteTask().result,
                  WorkResult::Success);
        // The flag changes behind the file's back, as on a file shortened
        // while the transfer ran.
        transfer_->Params().preallocate = preallocate;
        auto map = std::make_shared<TransferSharedMapData>(fileData, 0, 99, 0, transfer_->progress_);
        ASSERT_EQ(std::make_shared<CreateChunkMapWork>(transfer_, map)->ExecuteTask().result, WorkResult::Success);
        const std::string bytes(100, 'w');
        map->GetWindow()->Write(bytes.data(), bytes.size());
        ASSERT_EQ(std::make_shared<ReleaseChunkMapWork>(transfer_, map)->ExecuteTask().result, WorkResult::Success);
        EXPECT_FALSE(map->GetWindow());
        fileData->ResetFile();
        EXPECT_EQ(downloadtest::ReadFile(root_ / name), bytes) << "preallocate " << preallocate;
    }
}

TEST_F(WorkStepsTest, StepsWithoutFileOrWindowFailWithTheirMessage) {
    auto fileData = std::make_shared<TransferSharedFileData>("x.bin", 100);
    auto map = std::make_shared<TransferSharedMapData>(fileData, 0, 99, 0, transfer_->progress_);
    const std::pair<std::shared_ptr<SimpleWork>, const char*> cases[] = {
        {std::make_shared<CreateChunkMapWork>(transfer_, map), "CreateChunkMapWork::ExecuteTask has no shared file"},
        {std::make_shared<PrefetchChunkWork>(transfer_, map), "PrefetchChunkWork::ExecuteTask has no shared map"},
        {std::make_shared<VerifyChunkWork>(transfer_, map), "VerifyChunkWork::ExecuteTask has no shared map"},
        {std::make_shared<ReleaseChunkMapWork>(transfer_, map), "ReleaseChunkMapWork::ExecuteTask has no shared map"},
        {std::make_shared<OptimizedRequestChunkWork>(transfer_, map),
         "OptimizedRequestChunkWork::ExecuteTask has no shared map"},
    };
    for (const auto& [work, message] : cases) {
        const WorkStatus status = work->ExecuteTask();
        EXPECT_EQ(status.result, WorkResult::FatalError) << message;
        EXPECT_EQ(downloadtest::ErrorOf(status), TransferError::Unknown) << message;
        EXPECT_EQ(Message(status), message);
    }
}

// Progress of a chunk: a mismatch takes back what was written; a match
// counts the chunk exactly once, however much was written for it.
TEST_F(WorkStepsTest, VerifySettlesOrResetsTheChunksProgress) {
    const std::string content(4096, 'v');
    downloadtest::WriteFile(root_ / "v.bin", content);
    auto fileData = std::make_shared<TransferSharedFileData>("v.bin", content.size());
    ASSERT_EQ(std::make_shared<OpenAndAllocateFileWork>(transfer_, fileData)->ExecuteTask().result,
              WorkResult::Success);
    auto& progress = *transfer_->progress_;
    auto wrong = std::make_shared<TransferSharedMapData>(fileData, 0, 4095, 0x1234, transfer_->progress_);
    ASSERT_EQ(std::make_shared<CreateChunkMapWork>(transfer_, wrong)->ExecuteTask().result, WorkResult::Success);
    wrong->AddWritten(content.data(), 3000);
    const WorkStatus mismatch = std::make_shared<VerifyChunkWork>(transfer_, wrong)->ExecuteTask();
    EXPECT_EQ(mismatch.result, WorkResult::Failure);
    EXPECT_EQ(progress.completed.load(), 0);
    EXPECT_EQ(wrong->fileProgressBytes.load(), 0u);
    EXPECT_EQ(wrong->GetWindow()->GetPosition(), 0u);
    const auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(mismatch.data);
    ASSERT_TRUE(checksum);
    EXPECT_EQ(checksum->ToString(), "error|6|0123456789abcdef0123456789abcdef|4096|0|1234|" +
                                        HexText(ChunkChecksum(content.data(), content.size())));

    const std::string written5000(5000, 'v');
    for (const std::uint64_t written : {0u, 1000u, 5000u}) {
        progress.completed = 0;
        progress.verified = 0;
        auto right = std::make_shared<TransferSharedMapData>(
            fileData, 0, 4095, ChunkChecksum(content.data(), content.size()), transfer_->progress_);
        ASSERT_EQ(std::make_shared<CreateChunkMapWork>(transfer_, right)->ExecuteTask().result, WorkResult::Success);
        right->AddWritten(written5000.data(), written);
        ASSERT_EQ(std::make_shared<VerifyChunkWork>(transfer_, right)->ExecuteTask().result, WorkResult::Success);
        EXPECT_EQ(progress.completed.load(), 4096) << written;
        EXPECT_EQ(progress.verified.load(), 4096u) << written;
        EXPECT_EQ(right->fileProgressBytes.load(), 4096u) << written;
    }
}

// A request's bytes are checked as they were written, in pieces and after a
// restart from the chunk's first byte: only what the last attempt wrote
// counts, and the file holds exactly those bytes.
TEST_F(WorkStepsTest, VerifyChecksTheBytesTheLastAttemptWrote) {
    downloadtest::WriteFile(root_ / "w.bin", std::string(4096, 'v'));
    auto fileData = std::make_shared<TransferSharedFileData>("w.bin", 4096);
    ASSERT_EQ(std::make_shared<OpenAndAllocateFileWork>(transfer_, fileData)->ExecuteTask().result,
              WorkResult::Success);
    const std::string good = std::string(1000, 'a') + std::string(3096, 'b');
    const std::string bad = std::string(4095, 'a') + "c";
    struct Case {
        const char* name;
        std::vector<std::string> attempts;  // each restarts at the first byte, written in two pieces
        bool matches;
    };
    const Case cases[] = {
        {"one attempt", {good}, true},
        {"a cut attempt, then a whole one", {good.substr(0, 2500), good}, true},
        {"a wrong last byte", {bad}, false},
        {"a whole wrong attempt, then a cut good one", {bad, good.substr(0, 4000)}, false},
    };
    for (const Case& c : cases) {
        auto map = std::make_shared<TransferSharedMapData>(fileData, 0, 4095, ChunkChecksum(good.data(), good.size()),
                                                           transfer_->progress_);
        ASSERT_EQ(std::make_shared<CreateChunkMapWork>(transfer_, map)->ExecuteTask().result, WorkResult::Success);
        TransferHttpWriter writer(map, map->GetWindow());
        for (const std::string& attempt : c.attempts) {
            map->ResetProgress(*map->GetWindow());
            const std::size_t half = attempt.size() / 2;
            ASSERT_EQ(writer.Write(attempt.data(), half).state, http::State::Succeeded) << c.name;
            ASSERT_EQ(writer.Write(attempt.data() + half, attempt.size() - half).state, http::State::Succeeded)
                << c.name;
        }
        const WorkStatus status = std::make_shared<VerifyChunkWork>(transfer_, map)->ExecuteTask();
        EXPECT_EQ(status.result, c.matches ? WorkResult::Success : WorkResult::Failure) << c.name;
        std::string onDisk;
        map->GetWindow()->Visit([&](const std::uint8_t* data, std::size_t size) {
            onDisk.append(reinterpret_cast<const char*>(data), size);
        });
        if (c.matches) {
            EXPECT_EQ(onDisk, good) << c.name;
        } else {
            const auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(status.data);
            ASSERT_TRUE(checksum) << c.name;
            EXPECT_EQ(checksum->actualChecksum, ChunkChecksum(onDisk.data(), onDisk.size())) << c.name;
        }
    }
}

// Bytes with the right CRC-32 but other content pass only where the chunk
// has no SHA-256; wherever the digests come from (taken as a request wrote,
// read back from the file, or known for a chunk still zero), a chunk that
// has one must match it.
TEST_F(WorkStepsTest, VerifyRequiresTheSha256WhereTheChunkHasOne) {
    std::string genuine(4096, '\0');
    for (std::size_t i = 0; i < genuine.size(); ++i)
        genuine[i] = static_cast<char>(i * 7 + 1);
    const std::string forged = testsupport::CrcForgedChunk(genuine);
    ASSERT_EQ(ChunkChecksum(forged.data(), forged.size()), ChunkChecksum(genuine.data(), genuine.size()));
    const std::string zeros(4096, '\0');
    const std::string zeroForged = testsupport::CrcForgedChunk(zeros);
    enum class Source { Written, OnDisk, Zero };
    struct Case {
        const char* name;
        Source source;
        const std::string* expected;  // the chunk the manifest describes
        const std::string* actual;    // the bytes there
        bool withSha256;
        bool matches;
    };
    const Case cases[] = {
        {"written genuine", Source::Written, &genuine, &genuine, true, true},
        {"written forged", Source::Written, &genuine, &forged, true, false},
        {"written forged, CRC only", Source::Written, &genuine, &forged, false, true},
        {"on disk genuine", Source::OnDisk, &genuine, &genuine, true, true},
        {"on disk forged", Source::OnDisk, &genuine, &forged, true, false},
        {"on disk forged, CRC only", Source::OnDisk, &genuine, &forged, false, true},
        {"zero chunk of zeros", Source::Zero, &zeros, &zeros, true, true},
        {"zero chunk where forged zeros were expected", Source::Zero, &zeroForged, &zeros, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(root_ / "s.bin");
        if (c.source == Source::OnDisk) downloadtest::WriteFile(root_ / "s.bin", *c.actual);
        auto fileData = std::make_shared<TransferSharedFileData>("s.bin", 4096);
        ASSERT_EQ(std::make_shared<OpenAndAllocateFileWork>(transfer_, fileData)->ExecuteTask().result,
                  WorkResult::Success);
        if (c.source == Source::Written) fileData->MarkChunkWritten(0);
        ASSERT_EQ(fileData->IsChunkZero(0), c.source == Source::Zero);
        std::optional<Sha256Digest> sha256;
        if (c.withSha256) sha256 = ChunkSha256Of(c.expected->data(), c.expected->size());
        auto map = std::make_shared<TransferSharedMapData>(
            fileData, 0, 4095, ChunkChecksum(c.expected->data(), c.expected->size()), transfer_->progress_, sha256);
        ASSERT_EQ(std::make_shared<CreateChunkMapWork>(transfer_, map)->ExecuteTask().result, WorkResult::Success);
        if (c.source == Source::Written) {
            TransferHttpWriter writer(map, map->GetWindow());
            map->ResetProgress(*map->GetWindow());
            ASSERT_EQ(writer.Write(c.actual->data(), 1000).state, http::State::Succeeded);
            ASSERT_EQ(writer.Write(c.actual->data() + 1000, 3096).state, http::State::Succeeded);
        }
        const WorkStatus status = std::make_shared<VerifyChunkWork>(transfer_, map)->ExecuteTask();
        ASSERT_EQ(status.result, c.matches ? WorkResult::Success : WorkResult::Failure);
        if (!c.matches) {
            const auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(status.data);
            ASSERT_TRUE(checksum);
            EXPECT_EQ(checksum->Explain(), "s.bin: chunk at bytes 0-4095 has SHA-256 " +
                                               Sha256Text(ChunkSha256Of(c.actual->data(), c.actual->size())) +
                                               ", expected " + Sha256Text(*sha256));
        }
        ASSERT_EQ(std::make_shared<ReleaseChunkMapWork>(transfer_, map)->ExecuteTask().result, WorkResult::Success);
    }
}

// Zeros are checked without reading: the checksum of zeros of each length
// is the real one, and a chunk a request has written is read again.
TEST_F(WorkStepsTest, ZeroChecksumIsTheChecksumOfZeros) {
    for (const std::size_t length : {1u, 4096u, 65536u, 65537u, 1048576u + 3u}) {
        const std::string zeros(length, '\0');
        EXPECT_EQ(ZeroChecksum(length), ChunkChecksum(zeros.data(), zeros.size())) << length;
        EXPECT_EQ(ZeroChecksum(length), ChunkChecksum(zeros.data(), zeros.size())) << length;
        EXPECT_EQ(ZeroSha256(length), ChunkSha256Of(zeros.data(), zeros.size())) << length;
        EXPECT_EQ(ZeroSha256(length), ChunkSha256Of(zeros.data(), zeros.size())) << length;
    }
    auto fileData = std::make_shared<TransferSharedFileData>("z.bin", 10);
    fileData->SetZeroFilled(true);
    EXPECT_TRUE(fileData->IsChunkZero(0));
    fileData->MarkChunkWritten(0);
    EXPECT_FALSE(fileData->IsChunkZero(0));
    EXPECT_TRUE(fileData->IsChunkZero(5));
    fileData->SetZeroFilled(false);
    EXPECT_FALSE(fileData->IsChunkZero(5));
}

// A volume whose bus is whatever the test says.
class FakeVolume : public file::Volume {
public:
    enum class Bus { Usb, Fixed, Unknown, Broken };
    explicit FakeVolume(Bus bus) : Volume("/"), bus_(bus) {}
    std::string GetFileSystemName() override { return "ext4"; }
    bool IsUsb() override {
        switch (bus_) {
            case Bus::Usb:
                return true;
            case Bus::Fixed:
                return false;
            case Bus::Unknown:
                throw file::InaccessibleException();
            case Bus::Broken:
                break;
        }
        throw file::UnknownException();
    }
    bool SupportsSparseFiles() override { return true; }

private:
    Bus bus_;
};

class FakeVolumes : public file::posix::FilesystemImpl {
public:
    std::shared_ptr<file::Volume> GetVolume(const std::string& path) override {
        if (path == "/missing") {
            throw file::NotFoundException();
        }
        return std::make_shared<FakeVolume>(bus);
    }
    FakeVolume::Bus bus = FakeVolume::Bus::Fixed;
};

TEST_F(WorkStepsTest, PreallocationIsDecidedByTheBus) {
    struct Case {
        const char* name;
        FakeVolume::Bus bus;
        const char* destPath;
        WorkResult result;
        bool preallocate;
        const char* message;
        std::optional<TransferError> error;
    };
    const Case cases[] = {
        {"usb", FakeVolume::Bus::Usb, "/x", WorkResult::Success, false, "", std::nullopt},
        {"fixed", FakeVolume::Bus::Fixed, "/x", WorkResult::Success, true, "", std::nullopt},
        {"unknown", FakeVolume::Bus::Unknown, "/x", WorkResult::Success, true, "Volume::IsUsb threw an exception",
         TransferError::None},
        {"broken", FakeVolume::Bus::Broken, "/x", WorkResult::FatalError, false, "", TransferError::FileWriteError},
        {"missing", FakeVolume::Bus::Fixed, "/missing", WorkResult::FatalError, false, "",
         TransferError::FileAccessError},
    };
    FakeVolumes volumes;
    transfer_->GetBehavior().filesystem = &volumes;
    for (const Case& c : cases) {
        volumes.bus = c.bus;
        transfer_->Params().destPath = c.destPath;
        transfer_->Params().preallocate = !c.preallocate;
        if (c.result != WorkResult::Success) {
            transfer_->Params().preallocate = c.preallocate;
        }
        const WorkStatus status = std::make_shared<CheckPreallocateWork>(transfer_)->ExecuteTask();
        EXPECT_EQ(status.result, c.result) << c.name;
        EXPECT_EQ(transfer_->GetParams().preallocate, c.preallocate) << c.name;
        EXPECT_EQ(Message(status), c.message) << c.name;
        EXPECT_EQ(downloadtest::ErrorOf(status), c.error) << c.name;
    }
}

TEST(WriteCacheWaitTest, ScalesWithTheChunksThatMayBeAhead) {
    struct Case {
        int threads;
        std::uint64_t lower, upper;
        int rate;
        std::uint32_t seconds;
    };
    const Case cases[] = {
        {6, 0, 1048575, 349525, 15},
        {1, 0, 1048575, 349525, 0},
        {2, 0, 349525, 349525, 1},
        {2, 0, 349526, 349525, 2},
        {3, 5, 5, 349525, 0},
        // No usable rate: the default's wait, never an endless one.
        {6, 0, 1048575, 0, 15},
        {6, 0, 1048575, -1, 15},
        {1000, 0, 0xFFFFFFFEu, 1, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CreateChunkMapWork::WriteCacheWait(c.threads, c.lower, c.upper, c.rate), c.seconds)
            << c.threads << " " << c.upper << " " << c.rate;
    }
}

TEST(RequestRetryLimitTest, EveryNodeCanBeTriedOnce) {
    EXPECT_EQ(OptimizedRequestChunkWork::RetryLimit(4, 3), 4u);
    EXPECT_EQ(OptimizedRequestChunkWork::RetryLimit(4, 8), 7u);
    EXPECT_EQ(OptimizedRequestChunkWork::RetryLimit(4, 0), 4u);
    EXPECT_EQ(OptimizedRequestChunkWork::RetryLimit(0, 1), 0u);
}

TEST(HttpTransferStatusDataTest, TextAndErrorFollowTheRequestState) {
    http::RequestStatus status;
    status.state = http::State::Timeout;
    status.errorMessage = "libcurl error 28 (HTTP 0)";
    EXPECT_EQ(HttpTransferStatusData("h", status).ToString(), "error|2|12|libcurl error 28 (HTTP 0)");
    status.proxyConfig = "manual";
    EXPECT_EQ(HttpTransferStatusData("h", status).ToString(), "error|proxy|2|12|libcurl error 28 (HTTP 0)");
    status.state = http::State::Succeeded;
    EXPECT_EQ(HttpTransferStatusData("h", status).ToString(), "");
    const std::pair<http::State, TransferError> table[] = {
        {http::State::Ready, TransferError::Unknown},
        {http::State::Running, TransferError::Unknown},
        {http::State::Succeeded, TransferError::None},
        {http::State::Aborted, TransferError::None},
        {http::State::InvalidRequest, TransferError::RequestFailed},
        {http::State::ResolveError, TransferError::NetworkError},
        {http::State::ConnectError, TransferError::NetworkError},
        {http::State::ClientError, TransferError::RequestRejected},
        {http::State::ServerError, TransferError::NetworkError},
        {http::State::TransmitError, TransferError::NetworkError},
        {http::State::WriteError, TransferError::FileWriteError},
        {http::State::RangeError, TransferError::RequestRejected},
        {http::State::Timeout, TransferError::NetworkError},
        {http::State::OutOfMemory, TransferError::OutOfMemory},
        {http::State::OtherError, TransferError::RequestFailed},
        {http::State::SecurityError, TransferError::NetworkError},
        {static_cast<http::State>(16), TransferError::Unknown},
    };
    for (const auto& [state, error] : table) {
        EXPECT_EQ(TransferErrorFromState(state), error) << state;
    }
    boost::property_tree::ptree tree;
    status.state = http::State::ClientError;
    status.responseCode = 404;
    HttpTransferStatusData("node", status).Describe(tree);
    EXPECT_EQ(tree.get<std::string>("httpResult"), "7");
    EXPECT_EQ(tree.get<std::string>("httpResponseCode"), "404");
    EXPECT_EQ(tree.get<std::string>("hostname"), "node");
    EXPECT_EQ(tree.begin()->first, "httpResult");
    EXPECT_EQ(tree.rbegin()->first, "errorDetails");
}

}  // namespace
}  // namespace vrexa
