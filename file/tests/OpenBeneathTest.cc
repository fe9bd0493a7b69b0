// Names from a manifest, opened below a folder, facing links that lead out of
// it: through the kernel's own beneath-resolution and through the walk one
// component at a time that stands in where the kernel lacks it.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/SharedFile.h"
#include "file/posix/FilesystemImpl.h"
#include "file/posix/OpenBeneath.h"
#include "file/tests/Injection.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file {
namespace {

namespace bfs = boost::filesystem;
using testsupport::TestFolder;

constexpr std::uint64_t kWhole = UINT64_MAX;

// Every entry below root with its kind, mode and content (links by target),
// to show that nothing there changed.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (bfs::recursive_directory_iterator it(root), end; it != end; ++it) {
        const std::string path = it->path().string();
        struct stat status {};
        ::lstat(path.c_str(), &status);
        std::string description = std::to_string(status.st_mode) + ":";
        if (S_ISLNK(status.st_mode)) {
            description += bfs::read_symlink(it->path()).string();
        } else if (S_ISREG(status.st_mode)) {
            description += TestFolder::Content(path);
        }
        entries[path.substr(root.size())] = description;
    }
    return entries;
}

enum class Resolution { Kernel, Walk };

class OpenBeneathTest : public ::testing::TestWithParam<Resolution> {
protected:
    void SetUp() override {
        testing::openat2Injection.Reset();
        if (GetParam() == Resolution::Kernel && !posix::KernelResolvesBeneath()) {
            GTEST_SKIP() << "this kernel cannot resolve a path beneath a folder in one call";
        }
        testing::openat2Injection.missing = GetParam() == Resolution::Walk;
        outside.Put("victim.txt", "the user's own file");
        ::chmod((outside / "victim.txt").c_str(), 0644);
        outside.Put("big.bin", "kept");
        before = Snapshot(outside.Path());
    }
    void TearDown() override { testing::openat2Injection.Reset(); }

    void Link(const std::string& target, const std::string& name) {
        bfs::create_directories(bfs::path(dest / name).parent_path());
        bfs::create_symlink(target, dest / name);
    }

    posix::FilesystemImpl filesystem;
    TestFolder dest;
    TestFolder outside;
    std::map<std::string, std::string> before;
};

TEST_P(OpenBeneathTest, MeasuresWhetherTheKernelResolvesBeneathAFolder) {
    // What this machine offers, in the test report.
    testing::openat2Injection.missing = false;
    const bool kernel = posix::KernelResolvesBeneath();
    RecordProperty("kernel_resolves_beneath", kernel ? "yes" : "no");
    std::cout << "openat2 beneath a folder, without links: " << (kernel ? "available" : "missing") << "\n";
    if (kernel) {
        // What the kernel path relies on: a link on the way is refused, and so
        // is a climb out of the folder.
        Link(outside.Path(), "out");
        const int folder = ::open(dest.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        open_how how{};
        how.flags = O_RDONLY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
        errno = 0;
        EXPECT_EQ(::syscall(SYS_openat2, folder, "out/victim.txt", &how, sizeof how), -1);
        EXPECT_EQ(errno, ELOOP);
        const std::string climb = "../" + bfs::path(outside.Path()).filename().string() + "/victim.txt";
        errno = 0;
        EXPECT_EQ(::syscall(SYS_openat2, folder, climb.c_str(), &how, sizeof how), -1);
        EXPECT_EQ(errno, EXDEV);
        ::close(folder);
    }
    // A kernel without the call is recognised as such.
    testing::openat2Injection.missing = true;
    EXPECT_FALSE(posix::KernelResolvesBeneath());
}

// Every way a link at a package path could lead a write, a read or a change
// of permissions outside the folder: refused as a bad path, outside unchanged.
TEST_P(OpenBeneathTest, LinksBelowTheFolderAreRefusedAndNothingOutsideChanges) {
    struct Case {
        const char* name;
        std::function<void()> plant;
        const char* relative;
        OpenMode mode;
        bool exists = false;  // refused as a name already taken (creating anew)
    };
    const std::vector<Case> cases = {
        {"folder link, new file", [&] { Link(outside.Path(), "data"); }, "data/big.bin", OpenMode::OpenOrCreate},
        {"folder link, existing file", [&] { Link(outside.Path(), "data"); }, "data/big.bin", OpenMode::OpenExisting},
        {"folder link deeper down", [&] { Link(outside.Path(), "a/b"); }, "a/b/c/d.bin", OpenMode::OpenOrCreate},
        {"file link, overwritten", [&] { Link(outside / "victim.txt", "readme.txt"); }, "readme.txt",
         OpenMode::OpenOrCreate},
        {"file link, created new", [&] { Link(outside / "victim.txt", "readme.txt"); }, "readme.txt",
         OpenMode::CreateNew, true},
        {"file link, read in place", [&] { Link(outside / "victim.txt", "readme.txt"); }, "readme.txt",
         OpenMode::OpenExistingReadOnly},
        {"dangling link", [&] { Link(outside / "absent.bin", "new.bin"); }, "new.bin", OpenMode::OpenOrCreate},
        {"link inside the folder", [&] { Link(dest / "real", "alias"); }, "alias/f.bin", OpenMode::OpenOrCreate},
        {"relative link inside the folder", [&] { Link("real", "alias"); }, "alias/f.bin", OpenMode::OpenOrCreate},
        {"relative file link inside the folder", [&] { Link("real/f.bin", "f.bin"); }, "f.bin", OpenMode::OpenOrCreate},
        {"climbing out", [] {}, "a/../../x.bin", OpenMode::OpenOrCreate},
    };
    for (const Case& c : cases) {
        bfs::remove_all(dest.Path());
        bfs::create_directories(dest / "real");
        c.plant();
        const auto open = [&] { filesystem.OpenSharedFile(dest.Path(), c.relative, c.mode, true, 0, kWhole); };
        if (c.exists) {
            EXPECT_THROW(open(), InUseException) << c.name;
        } else {
            EXPECT_THROW(open(), BadPathException) << c.name;
        }
        EXPECT_EQ(Snapshot(outside.Path()), before) << c.name;
        EXPECT_FALSE(bfs::exists(outside / "c")) << c.name;
    }
    EXPECT_GT(testing::openat2Injection.calls.load(), 0);
}

TEST_P(OpenBeneathTest, PlainPathsOpenAndMakeTheirFolders) {
    const auto made = filesystem.OpenSharedFile(dest.Path(), "/a/./b//c.bin", OpenMode::OpenOrCreate, true, 0, kWhole);
    EXPECT_EQ(made->Write("new", 3), 3u);
    EXPECT_EQ(TestFolder::Content(dest / "a/b/c.bin"), "new");
    EXPECT_THROW(filesystem.OpenSharedFile(dest.Path(), "a/b/c.bin", OpenMode::CreateNew, true, 0, kWhole),
                 InUseException);
    EXPECT_THROW(filesystem.OpenSharedFile(dest.Path(), "a/x/c.bin", OpenMode::OpenExisting, true, 0, kWhole),
                 NotFoundException);
    // The folder itself may be reached through a link: that one is the user's.
    bfs::create_symlink(dest.Path(), outside / "dest-link");
    const auto through =
        filesystem.OpenSharedFile(outside / "dest-link", "a/b/c.bin", OpenMode::OpenExistingReadOnly, true, 0, kWhole);
    EXPECT_EQ(through->GetSize(), 3u);
}

// A name replaced by a link after the file was opened: a clone (made for a
// write cache) opens the name again, and must not follow it either.
TEST_P(OpenBeneathTest, CloneDoesNotFollowALinkThatTookTheName) {
    dest.Put("bin/run.sh", "old");
    const auto file = filesystem.OpenSharedFile(dest.Path(), "bin/run.sh", OpenMode::OpenExisting, true, 0, kWhole);
    bfs::remove(dest / "bin/run.sh");
    Link(outside / "victim.txt", "bin/run.sh");
    EXPECT_THROW(file->Clone(0, 2), BadPathException);
    EXPECT_EQ(Snapshot(outside.Path()), before);
}

// The folder itself replaced by a link after the file was opened: clones
// still open the file in the folder it was opened in.
TEST_P(OpenBeneathTest, CloneStaysInTheFolderTheFileWasOpenedIn) {
    dest.Put("bin/run.sh", "old");
    outside.Put("bin/run.sh", "victim");
    before = Snapshot(outside.Path());
    const auto file = filesystem.OpenSharedFile(dest.Path(), "bin/run.sh", OpenMode::OpenExisting, true, 0, kWhole);
    const std::string moved = dest.Path() + "-moved";
    bfs::rename(dest.Path(), moved);
    bfs::create_symlink(outside.Path(), dest.Path());
    const auto clone = file->Clone(0, 2);
    EXPECT_EQ(clone->Write("new", 3), 3u);
    EXPECT_EQ(TestFolder::Content(moved + "/bin/run.sh"), "new");
    EXPECT_EQ(Snapshot(outside.Path()), before);
    bfs::remove(dest.Path());
    bfs::rename(moved, dest.Path());
}

// Removing a package's file (a cancelled transfer, a re-created file) never
// passes a link, and leaves a link at the name itself where it is.
TEST_P(OpenBeneathTest, RemoveAndPruneNeitherPassesNorRemovesLinks) {
    struct Case {
        const char* name;
        std::function<void()> plant;
        const char* relative;
        const char* stays;  // below dest
    };
    const std::vector<Case> cases = {
        {"folder link", [&] { Link(outside.Path(), "data"); }, "data/big.bin", "data"},
        {"file link", [&] { Link(outside / "victim.txt", "docs/readme.txt"); }, "docs/readme.txt", "docs/readme.txt"},
    };
    for (const Case& c : cases) {
        bfs::remove_all(dest.Path());
        bfs::create_directories(dest.Path());
        c.plant();
        EXPECT_THROW(filesystem.RemoveAndPrune(dest.Path(), c.relative, true), BadPathException) << c.name;
        EXPECT_TRUE(bfs::is_symlink(dest / c.stays)) << c.name;
        EXPECT_EQ(Snapshot(outside.Path()), before) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Resolutions, OpenBeneathTest, ::testing::Values(Resolution::Kernel, Resolution::Walk),
                         [](const ::testing::TestParamInfo<Resolution>& info) {
                             return info.param == Resolution::Kernel ? "Kernel" : "ComponentWalk";
                         });

}  // namespace
}  // namespace vrexa::file
