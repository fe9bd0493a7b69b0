#include "file/SharedFile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file {
namespace {

namespace fs = boost::filesystem;
using testsupport::TestFolder;

constexpr std::uint64_t kWhole = UINT64_MAX;

class SharedFileTest : public ::testing::Test {
protected:
    std::shared_ptr<SharedFile> Open(const std::string& relative, OpenMode mode = OpenMode::OpenOrCreate,
                                     std::uint64_t lower = 0, std::uint64_t upper = kWhole, bool synchronized = true) {
        return filesystem.OpenSharedFile(folder.Path(), relative, mode, synchronized, lower, upper);
    }

    posix::FilesystemImpl filesystem;
    TestFolder folder;
};

TEST_F(SharedFileTest, OpenModesCreateOrRequireTheFile) {
    struct Case {
        const char* name;
        OpenMode mode;
        bool present;
        bool opens;  // otherwise the failure below
        bool notFound;
    };
    const std::vector<Case> cases = {
        {"open or create, missing", OpenMode::OpenOrCreate, false, true, false},
        {"open or create, present", OpenMode::OpenOrCreate, true, true, false},
        {"create new, missing", OpenMode::CreateNew, false, true, false},
        {"create new, present", OpenMode::CreateNew, true, false, false},
        {"open existing, present", OpenMode::OpenExisting, true, true, false},
        {"open existing, missing", OpenMode::OpenExisting, false, false, true},
    };
    for (const auto& c : cases) {
        TestFolder base;
        if (c.present) {
            base.Put("deep/er/file.bin", "kept");
        }
        auto open = [&] {
            return filesystem.OpenSharedFile(base.Path(), "deep/er/file.bin", c.mode, false, 0, kWhole);
        };
        if (c.opens) {
            const auto file = open();
            EXPECT_EQ(file->GetSize(), c.present ? 4u : 0u) << c.name;
            EXPECT_EQ(TestFolder::Content(base / "deep/er/file.bin"), c.present ? "kept" : "") << c.name;
        } else if (c.notFound) {
            EXPECT_THROW(open(), NotFoundException) << c.name;
        } else {
            EXPECT_THROW(open(), InUseException) << c.name;
            EXPECT_EQ(TestFolder::Content(base / "deep/er/file.bin"), "kept") << c.name;
        }
    }
}

TEST_F(SharedFileTest, OpeningChecksBoundsBaseAndPath) {
    EXPECT_THROW(Open("a.bin", OpenMode::OpenOrCreate, 10, 9), OutOfBoundsException);
    EXPECT_THROW(filesystem.OpenSharedFile(folder / "missing", "a.bin", OpenMode::OpenOrCreate, false, 0, 9),
                 NotFoundException);
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_THROW(Open("../escape.bin"), BadPathException);
    EXPECT_THROW(Open("a/../../escape.bin"), BadPathException);
    EXPECT_FALSE(fs::exists(fs::path(folder.Path()).parent_path() / "escape.bin"));
    // A leading "/" stays under the base.
    Open("/data/file.bin");
    EXPECT_TRUE(fs::exists(folder / "data/file.bin"));
    folder.Put("plain");
    EXPECT_THROW(Open("plain/below.bin"), Exception);
}

TEST_F(SharedFileTest, NewFilesAreNotExecutableAndPositionedAtTheLowerBound) {
    const auto file = Open("new.bin", OpenMode::CreateNew, 100, 199);
    EXPECT_EQ(file->GetPosition(), 100u);
    struct stat status {};
    ASSERT_EQ(::stat((folder / "new.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0111, 0u);
    EXPECT_EQ(status.st_mode & 0600, 0600u);
}

TEST_F(SharedFileTest, SynchronizedFilesShareTheFilesystemsOperationContext) {
    EXPECT_EQ(Open("a.bin", OpenMode::OpenOrCreate, 0, kWhole, true)->GetOperationContext(),
              filesystem.GetOperationContext());
    EXPECT_EQ(Open("b.bin", OpenMode::OpenOrCreate, 0, kWhole, false)->GetOperationContext(), nullptr);
}

TEST_F(SharedFileTest, WritesAndReadsAtTheCurrentPositionWithinBounds) {
    const auto file = Open("rw.bin", OpenMode::OpenOrCreate, 10, 19);
    EXPECT_EQ(file->Write("0123456789", 10), 10u);
    EXPECT_EQ(file->GetPosition(), 20u);
    EXPECT_EQ(TestFolder::Content(folder / "rw.bin"), std::string(10, '\0') + "0123456789");

    file->Seek(13);
    char read[8] = {};
    EXPECT_EQ(file->Read(read, 4), 4u);
    EXPECT_EQ(std::string(read, 4), "3456");
    EXPECT_EQ(file->GetPosition(), 17u);
    EXPECT_EQ(file->Write("", 0), 0u);
    EXPECT_EQ(file->Read(read, 0), 0u);
    EXPECT_EQ(file->GetPosition(), 17u);
}

TEST_F(SharedFileTest, AccessOutsideTheBoundsFailsAndLeavesThePosition) {
    const auto file = Open("bounds.bin", OpenMode::OpenOrCreate, 10, 19);
    EXPECT_THROW(file->Seek(9), OutOfBoundsException);
    EXPECT_THROW(file->Seek(20), OutOfBoundsException);
    file->Seek(15);
    EXPECT_THROW(file->Write("123456", 6), OutOfBoundsException);  // one byte past the upper bound
    EXPECT_EQ(file->GetPosition(), 15u);
    EXPECT_EQ(file->GetSize(), 0u);
    char buffer[8];
    EXPECT_THROW(file->Read(buffer, 6), OutOfBoundsException);
    EXPECT_EQ(file->GetPosition(), 15u);
}

TEST_F(SharedFileTest, OversizeAccessIsABadAllocationNotABoundsError) {
    const auto file = Open("huge.bin");
    const std::vector<char> buffer(1);
    try {
        // The size alone is refused before anything is touched.
        file->Write(buffer.data(), std::size_t{0x100000000});
        ADD_FAILURE() << "no failure";
    } catch (const std::bad_alloc& failure) {
        EXPECT_STREQ(failure.what(), "bad allocation");
    }
    EXPECT_EQ(file->GetSize(), 0u);
}

TEST_F(SharedFileTest, ReadsComeInPiecesOfAtMost4096Bytes) {
    const std::string content(10000, 'r');
    folder.Put("big.bin", content);
    const auto file = Open("big.bin", OpenMode::OpenExisting);
    std::vector<char> buffer(10000);
    EXPECT_EQ(file->Read(buffer.data(), buffer.size()), 4096u);
    EXPECT_EQ(file->Read(buffer.data(), buffer.size()), 4096u);
    EXPECT_EQ(file->Read(buffer.data(), buffer.size()), 10000u - 8192u);
    EXPECT_EQ(file->Read(buffer.data(), buffer.size()), 0u);
}

TEST_F(SharedFileTest, PreallocateReservesAnEmptyFileOnly) {
    const auto file = Open("pre.bin", OpenMode::OpenOrCreate, 0, (1u << 20) - 1);
    file->Seek(100);
    EXPECT_TRUE(file->Preallocate(1u << 20));
    EXPECT_EQ(file->GetSize(), 1u << 20);
    EXPECT_EQ(file->GetPosition(), 0u);
    struct stat status {};
    ASSERT_EQ(::stat((folder / "pre.bin").c_str(), &status), 0);
    EXPECT_GE(static_cast<std::uint64_t>(status.st_blocks) * 512, 1u << 20) << "blocks are reserved, not a hole";

    // Not empty any more: nothing changes.
    file->Seek(7);
    EXPECT_FALSE(file->Preallocate(1u << 19));
    EXPECT_EQ(file->GetSize(), 1u << 20);
    EXPECT_EQ(file->GetPosition(), 7u);

    folder.Put("full.bin", "abc");
    const auto written = Open("full.bin");
    EXPECT_FALSE(written->Preallocate(100));
    EXPECT_EQ(TestFolder::Content(folder / "full.bin"), "abc");

    EXPECT_TRUE(Open("zero.bin")->Preallocate(0));
    EXPECT_THROW(Open("small.bin", OpenMode::OpenOrCreate, 0, 99)->Preallocate(101), OutOfBoundsException);
    EXPECT_EQ(fs::file_size(folder / "small.bin"), 0u);
}

// Lowers the file-size limit of this process for one test; writes beyond it
// fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    sighandler_t previous_;
};

TEST_F(SharedFileTest, FullDiskSurfacesAsInsufficientSpace) {
    const auto device = filesystem.OpenSharedFile("/dev", "full", OpenMode::OpenExisting, false, 0, kWhole);
    EXPECT_THROW(device->Write("data", 4), InsufficientSpaceException);

    const auto file = Open("limited.bin");
    {
        FileSizeLimit limit(64 * 1024);
        EXPECT_THROW(file->Preallocate(1u << 20), InsufficientSpaceException);
        // The failed reservation leaves the file as empty as it was.
        EXPECT_EQ(file->GetSize(), 0u);
        file->Seek(60 * 1024);
        const std::vector<char> data(8 * 1024, 'd');
        EXPECT_THROW(file->Write(data.data(), data.size()), InsufficientSpaceException);
    }
}

TEST_F(SharedFileTest, DenyExecuteThenAllowExecuteOnARealProgram) {
    const std::string path = folder.Put("run.sh", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    const auto file = Open("run.sh", OpenMode::OpenExisting);

    EXPECT_TRUE(file->DenyExecute());
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_NE(::access(path.c_str(), X_OK), 0) << "nobody may execute it, not even the superuser";

    EXPECT_TRUE(file->AllowExecute());
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);
    EXPECT_EQ(::access(path.c_str(), X_OK), 0);
    EXPECT_TRUE(file->AllowExecute()) << "nothing left to undo";
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);
}

TEST_F(SharedFileTest, AllowExecuteGivesExecuteOnlyToThoseWhoMayRead) {
    const std::vector<std::pair<mode_t, mode_t>> cases = {
        {0600, 0700}, {0640, 0750}, {0644, 0755}, {0604, 0705}, {0200, 0200}, {0751, 0751},
    };
    for (const auto& [before, after] : cases) {
        const std::string path = folder.Put("mode.bin");
        ASSERT_EQ(::chmod(path.c_str(), before), 0);
        EXPECT_TRUE(Open("mode.bin", OpenMode::OpenExisting)->AllowExecute()) << std::oct << before;
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, after) << std::oct << before;
    }
}

TEST_F(SharedFileTest, CloneHasItsOwnDescriptorPositionAndBounds) {
    folder.Put("clone.bin", "abcdefghij");
    const auto file = Open("clone.bin", OpenMode::OpenExisting, 0, 9);
    file->Seek(8);
    const auto clone = file->Clone(2, 5);
    EXPECT_EQ(clone->GetPosition(), 2u);
    EXPECT_EQ(file->GetPosition(), 8u);
    EXPECT_EQ(clone->GetOperationContext(), file->GetOperationContext());
    EXPECT_EQ(clone->GetSizeMonitor(), file->GetSizeMonitor());
    char buffer[4];
    EXPECT_EQ(clone->Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_THROW(clone->Seek(6), OutOfBoundsException);
    EXPECT_EQ(file->Clone()->GetUpper(), 9u);

    EXPECT_THROW(file->Clone(5, 4), OutOfBoundsException);
    fs::remove(folder / "clone.bin");
    EXPECT_THROW(file->Clone(0, 9), NotFoundException);
    file->Flush();
}

}  // namespace
}  // namespace vrexa::file
