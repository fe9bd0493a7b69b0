#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/SequentialWriteCache.h"
#include "file/SharedFile.h"
#include "file/posix/AtomicWrite.h"
#include "file/posix/FilesystemImpl.h"
#include "file/tests/Injection.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file {
namespace {

using testsupport::TestFolder;

constexpr std::uint64_t kWhole = UINT64_MAX;

// The descriptors this process holds. Reads the folder with the C library
// alone, so it allocates nothing through operator new.
int OpenDescriptors() {
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) {
        return -1;
    }
    int count = 0;
    while (::readdir(folder) != nullptr) {
        ++count;
    }
    ::closedir(folder);
    return count;
}

class InjectedFailureTest : public ::testing::Test {
protected:
    void TearDown() override {
        testing::fallocateInjection.Reset();
        testing::fsyncInjection.error = 0;
        testing::DisarmAllocationFailure();
    }

    posix::FilesystemImpl filesystem;
    TestFolder folder;
};

// Where the file system cannot reserve blocks the size alone is set, at once;
// the library's block-by-block emulation would write the whole file.
TEST_F(InjectedFailureTest, PreallocateReservesWithFallocateAndFallsBackToTheSizeWhereItIsMissing) {
    struct Case {
        const char* name;
        int error;      // what the first fallocate call reports; 0: none fails
        int calls;      // fallocate calls expected
        bool reserved;  // blocks reserved rather than a hole of the size
    };
    const std::vector<Case> cases = {
        {"supported", 0, 1, true},
        {"not supported by the file system", EOPNOTSUPP, 1, false},
        {"not supported by the kernel", ENOSYS, 1, false},
        {"interrupted once", EINTR, 2, true},
    };
    constexpr std::uint64_t kSize = 1u << 20;
    for (const Case& c : cases) {
        const std::string name = std::string("pre-") + std::to_string(&c - cases.data());
        const auto file = filesystem.OpenSharedFile(folder.Path(), name, OpenMode::CreateNew, true, 0, kWhole);
        file->Seek(10);
        testing::fallocateInjection.Reset();
        testing::fallocateInjection.error = c.error;
        testing::fallocateInjection.failures = c.error == 0 ? 0 : 1;
        EXPECT_TRUE(file->Preallocate(kSize)) << c.name;
        EXPECT_EQ(testing::fallocateInjection.calls.load(), c.calls) << c.name;
        EXPECT_EQ(file->GetSize(), kSize) << c.name;
        EXPECT_EQ(file->GetPosition(), 0u) << c.name;
        struct stat status {};
        ASSERT_EQ(::stat((folder / name).c_str(), &status), 0);
        const auto allocated = static_cast<std::uint64_t>(status.st_blocks) * 512;
        if (c.reserved) {
            EXPECT_GE(allocated, kSize) << c.name;
        } else {
            EXPECT_EQ(allocated, 0u) << c.name << ": nothing written, the file is a hole";
        }
    }
}

TEST_F(InjectedFailureTest, PreallocateOnAFullDiskFailsAndLeavesTheFileEmpty) {
    const auto file = filesystem.OpenSharedFile(folder.Path(), "full.bin", OpenMode::CreateNew, true, 0, kWhole);
    testing::fallocateInjection.error = ENOSPC;
    testing::fallocateInjection.failures = 1;
    EXPECT_THROW(file->Preallocate(1u << 20), InsufficientSpaceException);
    EXPECT_EQ(file->GetSize(), 0u);
}

// A file that could not be made durable never takes the old one's place: a
// crash right after would leave the name pointing at bytes not on the disk.
TEST_F(InjectedFailureTest, AnAtomicWriteThatCannotSyncKeepsTheOldFileAndLeavesNoTemporary) {
    const std::string path = folder.Put("state", "old");
    testing::fsyncInjection.error = EIO;
    EXPECT_EQ(posix::WriteFileAtomically(path, "new"), std::error_code(EIO, std::generic_category()));
    testing::fsyncInjection.error = 0;
    EXPECT_EQ(TestFolder::Content(path), "old");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"state"});
}

// Every allocation on the way from opening a descriptor to handing it to its
// owner fails once in turn; none may leave the descriptor open. (Opening an
// existing file: the folder creation of the other modes runs inside the
// path library's non-throwing calls, where a failed allocation terminates.)
TEST_F(InjectedFailureTest, NoDescriptorLeaksWhenAnAllocationFails) {
    folder.Put("existing.bin", std::string(8192, 'e'));
    struct Case {
        const char* name;
        std::function<std::shared_ptr<void>()> run;
    };
    const auto open = [this] {
        return filesystem.OpenSharedFile(folder.Path(), "existing.bin", OpenMode::OpenExisting, true, 0, kWhole);
    };
    const std::vector<Case> cases = {
        {"open", [&] { return std::shared_ptr<void>(open()); }},
        {"clone", [&] { return std::shared_ptr<void>(open()->Clone()); }},
        {"map", [&] { return std::shared_ptr<void>(open()->Map(0, 4095)); }},
        {"write cache", [&] { return std::shared_ptr<void>(open()->CreateWriteCache(8192, 9000, 0)); }},
    };
    for (const Case& c : cases) {
        bool failed = true;
        for (long n = 0; failed && n < 1000; ++n) {
            const int before = OpenDescriptors();
            testing::ArmAllocationFailure(n);
            try {
                c.run();
            } catch (const std::exception&) {
            }
            failed = testing::DisarmAllocationFailure();
            EXPECT_EQ(OpenDescriptors(), before) << c.name << ", allocation " << n << " failing";
        }
        EXPECT_FALSE(failed) << c.name << ": still failing after 1000 allocations";
    }
}

}  // namespace
}  // namespace vrexa::file
