#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "tests/support/TestFolder.h"
#include "tests/support/transfer/TempFolderFilesystem.h"
#include "transfer/ManifestStore.h"
#include "transfer/TransferManifest.h"
#include "transfer/tests/SampleParams.h"

namespace vrexa {
namespace {

using testsupport::TempFolderFilesystem;
using testsupport::TestFolder;

constexpr char kFolder[] = "Quenlar/Vrexa/transfers";
constexpr char kId[] = "0123456789abcdef0123456789abcdef";

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

class ManifestStoreTest : public ::testing::Test {
protected:
    std::string StoredPath(const std::string& id = kId) const {
        return temp_ / (std::string(kFolder) + "/" + id + ".json");
    }

    bool WriteParams(const TransferParams& params, const std::string& id = kId) {
        TransferManifest manifest(params);
        return store_.Write(id, manifest);
    }

    TestFolder temp_;
    TempFolderFilesystem filesystem_{temp_.Path()};
    JsonTempFileManifestStore<TransferManifest> store_{kFolder, filesystem_};
};

// The file is read by later versions and by other tools, so its bytes are
// fixed: one compact line, "\/" for slashes, U+0080..U+00FF as they are,
// controls and everything above U+00FF as \u escapes, surrogate pairs above
// U+FFFF.
TEST_F(ManifestStoreTest, StoredFileIsOneCompactLineEscapedByCodePoint) {
    TransferParams params = testing::SampleParams();
    params.partnerId = "tab\there";
    params.packageId = "q\"b\\";
    params.destPath = "/data/caf\xC3\xA9/\xCE\xA9/\xF0\x9F\x98\x80";  // é, Ω, 😀
    params.preallocate = false;
    ASSERT_TRUE(WriteParams(params));

    EXPECT_EQ(TestFolder::Content(StoredPath()),
              "{\"transferId\":\"0123456789abcdef0123456789abcdef\",\"partnerId\":\"tab\\u0009here\","
              "\"packageId\":\"q\\\"b\\\\\",\"versionId\":\"42\","
              "\"destPath\":\"\\/data\\/caf\xC3\xA9\\/\\u03A9\\/\\uD83D\\uDE00\"}\n");

    TransferManifest read;
    ASSERT_TRUE(store_.Read(kId, read));
    EXPECT_EQ(read.GetParams().partnerId, params.partnerId);
    EXPECT_EQ(read.GetParams().packageId, params.packageId);
    EXPECT_EQ(read.GetParams().destPath, params.destPath);
    // Only the five identifiers are stored; the rest starts from its defaults.
    EXPECT_TRUE(read.GetParams().preallocate);
    EXPECT_FALSE(read.GetParams().restored);
}

// An entry names a destination and its package: for its owner's eyes only.
TEST_F(ManifestStoreTest, StoredFileIsTheOwnersAlone) {
    ASSERT_TRUE(WriteParams(testing::SampleParams()));
    struct stat status {};
    ASSERT_EQ(::stat(StoredPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST_F(ManifestStoreTest, TextThatIsNotUtf8IsNotStored) {
    for (const char* path : {"/data/\xE9t\xE9", "/data/\xC0\xAF", "/data/\xED\xA0\x80", "/data/\xF0\x9F"}) {
        TransferParams params = testing::SampleParams();
        params.destPath = path;
        EXPECT_FALSE(WriteParams(params)) << path;
        EXPECT_FALSE(boost::filesystem::exists(StoredPath()));
    }
}

TEST_F(ManifestStoreTest, ReadAcceptsOnlyRecordsWithAllFiveStringMembers) {
    const std::string five =
        R"("transferId":"0123456789abcdef0123456789abcdef","partnerId":"N7","packageId":"P1","versionId":"42")";
    const struct {
        std::string content;
        bool read;
        const char* destPath;
    } cases[] = {
        {"{" + five + R"(,"destPath":"\/d\u00e9st"})" + "\n", true, "/d\xC3\xA9st"},
        {"{" + five + R"(,"destPath":"x","extra":{"a":"b"}})", true, "x"},
        {" {\n" + five + R"(, "destPath" : "\ud83d\ude00" } )", true, "\xF0\x9F\x98\x80"},
        {"{" + five + "}", false, ""},
        {"{" + five + R"(,"destPath":{"nested":"x"}})", false, ""},
        {"{" + five + R"(,"destPath":"x")", false, ""},
        {"", false, ""},
        {"[]", false, ""},
        {"{" + five + R"(,"destPath":")" + std::string(70000, 'x') + "\"}", false, ""},
        {std::string(100, '[') + std::string(100, ']'), false, ""},
    };
    for (const auto& c : cases) {
        temp_.Put(std::string(kFolder) + "/" + kId + ".json", c.content);
        TransferManifest manifest;
        EXPECT_EQ(store_.Read(kId, manifest), c.read) << c.content.substr(0, 120);
        if (c.read) {
            EXPECT_EQ(manifest.GetParams().destPath, c.destPath);
            EXPECT_EQ(manifest.GetParams().transferId, kId);
        }
    }
    boost::filesystem::remove(StoredPath());
    TransferManifest missing;
    EXPECT_FALSE(store_.Read(kId, missing));
}

TEST_F(ManifestStoreTest, FirstWriteOfAnIdWinsAndLeavesNoTemporaryFiles) {
    TransferParams first = testing::SampleParams();
    TransferParams second = first;
    second.destPath = "/elsewhere";
    EXPECT_TRUE(WriteParams(first));
    EXPECT_FALSE(WriteParams(second));

    TransferManifest read;
    ASSERT_TRUE(store_.Read(kId, read));
    EXPECT_EQ(read.GetParams().destPath, "/data/demo");
    EXPECT_EQ(Entries(temp_ / kFolder), std::vector<std::string>{std::string(kId) + ".json"});
}

TEST_F(ManifestStoreTest, ConcurrentWritersOfOneIdStoreExactlyOneWholeRecord) {
    std::atomic<int> stored{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 8; ++i) {
        writers.emplace_back([&, i] {
            TransferParams params = testing::SampleParams();
            params.destPath = "/writer/" + std::to_string(i);
            if (WriteParams(params)) ++stored;
        });
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(stored, 1);
    TransferManifest read;
    ASSERT_TRUE(store_.Read(kId, read));
    EXPECT_EQ(read.GetParams().destPath.rfind("/writer/", 0), 0u);
    EXPECT_EQ(Entries(temp_ / kFolder).size(), 1u);
}

// Takes writes until the budget is used up, as a full disk would.
class FailingFile : public file::SharedFile {
public:
    FailingFile(std::shared_ptr<file::SharedFile> file, std::size_t budget)
        : SharedFile(nullptr, nullptr, file->GetLower(), file->GetUpper()), file_(std::move(file)), budget_(budget) {}

    std::uint64_t GetPosition() override { return file_->GetPosition(); }
    void Seek(std::uint64_t position) override { file_->Seek(position); }
    std::size_t Read(void* buffer, std::size_t size) override { return file_->Read(buffer, size); }
    std::size_t Write(const void* buffer, std::size_t size) override {
        if (budget_ == 0) throw file::InsufficientSpaceException();
        const std::size_t now = file_->Write(buffer, std::min(size, budget_));
        budget_ -= now;
        return now;
    }
    std::uint64_t GetSize() override { return file_->GetSize(); }
    bool Preallocate(std::uint64_t size) override { return file_->Preallocate(size); }
    bool AllowExecute() override { return file_->AllowExecute(); }
    bool DenyExecute() override { return file_->DenyExecute(); }
    std::shared_ptr<file::MemoryMappedData> Map(std::uint64_t lower, std::uint64_t upper) override {
        return file_->Map(lower, upper);
    }
    std::shared_ptr<file::SharedFile> Clone(std::uint64_t lower, std::uint64_t upper) override {
        return file_->Clone(lower, upper);
    }
    void Flush() override { file_->Flush(); }

private:
    std::shared_ptr<file::SharedFile> file_;
    std::size_t budget_;
};

class FullDiskFilesystem : public TempFolderFilesystem {
public:
    using TempFolderFilesystem::TempFolderFilesystem;
    std::shared_ptr<file::SharedFile> OpenSharedFile(const std::string& base, const std::string& relative,
                                                     file::OpenMode mode, bool synchronized, std::uint64_t lower,
                                                     std::uint64_t upper) override {
        auto opened = TempFolderFilesystem::OpenSharedFile(base, relative, mode, synchronized, lower, upper);
        return std::make_shared<FailingFile>(opened, 40);
    }
};

// A write cut off half-way must leave nothing behind: a truncated record could
// be neither restored nor written again.
TEST_F(ManifestStoreTest, WriteCutOffHalfWayLeavesNoRecordAndALaterWriteSucceeds) {
    FullDiskFilesystem full(temp_.Path());
    JsonTempFileManifestStore<TransferManifest> fullStore(kFolder, full);
    TransferManifest manifest(testing::SampleParams());
    EXPECT_FALSE(fullStore.Write(kId, manifest));
    EXPECT_FALSE(boost::filesystem::exists(StoredPath()));
    EXPECT_TRUE(Entries(temp_ / kFolder).empty());

    EXPECT_TRUE(WriteParams(testing::SampleParams()));
    TransferManifest read;
    EXPECT_TRUE(store_.Read(kId, read));
}

TEST_F(ManifestStoreTest, OnlyTransferIdsAreReadWrittenOrRemoved) {
    // A record stored under a name no id may take.
    temp_.Put(std::string(kFolder) + "/ABCDEF0123456789ABCDEF0123456789.json", "{}");
    for (const std::string id : {"", "ABCDEF0123456789ABCDEF0123456789", "0123456789abcdef0123456789abcde",
                                 "0123456789abcdef0123456789abcdef0", "0123456789abcdef0123456789abcdeg",
                                 "../../../0123456789abcdef01234567", "0123456789abcdef/123456789abcdef"}) {
        TransferManifest manifest(testing::SampleParams());
        EXPECT_FALSE(store_.Write(id, manifest)) << id;
        EXPECT_FALSE(store_.Read(id, manifest)) << id;
        EXPECT_FALSE(store_.Remove(id)) << id;
    }
    EXPECT_EQ(Entries(temp_ / kFolder), std::vector<std::string>{"ABCDEF0123456789ABCDEF0123456789.json"});
    EXPECT_EQ(Entries(temp_.Path()), std::vector<std::string>{"Quenlar"});
}

TEST_F(ManifestStoreTest, RemoveTakesTheRecordAndTheFoldersLeftEmpty) {
    const std::string other = "fedcba9876543210fedcba9876543210";
    ASSERT_TRUE(WriteParams(testing::SampleParams()));
    ASSERT_TRUE(WriteParams(testing::SampleParams(), other));

    EXPECT_TRUE(store_.Remove(kId));
    EXPECT_FALSE(store_.Remove(kId));
    EXPECT_EQ(Entries(temp_ / kFolder), std::vector<std::string>{other + ".json"});

    EXPECT_TRUE(store_.Remove(other));
    EXPECT_TRUE(Entries(temp_.Path()).empty());
    EXPECT_TRUE(boost::filesystem::is_directory(temp_.Path()));
}

// Without a temporary-files folder every path would be relative to the
// working directory: the store refuses instead.
TEST_F(ManifestStoreTest, WithoutATemporaryFolderNothingIsStoredAnywhere) {
    ASSERT_TRUE(WriteParams(testing::SampleParams()));
    const std::string record = TestFolder::Content(StoredPath());
    TestFolder working;
    const auto previous = boost::filesystem::current_path();
    boost::filesystem::current_path(working.Path());
    TempFolderFilesystem none("");
    JsonTempFileManifestStore<TransferManifest> store(kFolder, none);

    TransferManifest manifest(testing::SampleParams());
    const bool wrote = store.Write(kId, manifest);
    const auto createdByWrite = Entries(working.Path());
    // A record where a working-directory path would find it.
    working.Put(std::string(kFolder) + "/" + kId + ".json", record);
    TransferManifest read;
    const bool found = store.Read(kId, read);
    const bool removed = store.Remove(kId);
    boost::filesystem::current_path(previous);

    EXPECT_FALSE(wrote);
    EXPECT_TRUE(createdByWrite.empty());
    EXPECT_FALSE(found);
    EXPECT_FALSE(removed);
    EXPECT_TRUE(boost::filesystem::exists(working / (std::string(kFolder) + "/" + kId + ".json")));
}

}  // namespace
}  // namespace vrexa
