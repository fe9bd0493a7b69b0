#include "file/Filesystem.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file {
namespace {

namespace fs = boost::filesystem;
using testsupport::TestFolder;

class FilesystemTest : public ::testing::Test {
protected:
    posix::FilesystemImpl filesystem;
    TestFolder folder;
};

struct ResolveCase {
    std::string base;
    std::string relative;
    std::string expected;
};

TEST(FilesystemResolvePath, JoinsRelativePathsUnderTheBaseEvenWithLeadingSlashes) {
    const std::vector<ResolveCase> cases = {
        {"/base", "data/file.bin", "/base/data/file.bin"},
        {"/base", "/data/file.bin", "/base/data/file.bin"},
        {"/base", "///data/file.bin", "/base/data/file.bin"},
        {"/base", "", "/base"},
        {"/base", "/", "/base"},
        {"/base/", "x", "/base/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Filesystem::ResolvePath(c.base, c.relative).string(), c.expected) << c.base << " + " << c.relative;
    }
}

TEST(FilesystemResolvePath, MakesARelativeBaseAbsoluteAgainstTheCurrentFolder) {
    EXPECT_EQ(Filesystem::ResolvePath("here", "x.bin"), fs::current_path() / "here" / "x.bin");
}

TEST(FilesystemEscapesBase, TellsPathsThatClimbOutOfTheBase) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"a/b/c.bin", false}, {"a/../b.bin", false}, {"./a", false},      {"/a/b", false},
        {"../a", true},       {"a/../../b", true},   {"/../etc/x", true}, {"a/./../..", true},
    };
    for (const auto& [relative, escapes] : cases) {
        EXPECT_EQ(Filesystem::EscapesBase(relative), escapes) << relative;
    }
}

TEST_F(FilesystemTest, ExistsCanonicalAndSamePathFollowLinks) {
    const std::string file = folder.Put("a/file.bin");
    filesystem.CreateSymlink(file, folder / "link");
    EXPECT_TRUE(filesystem.Exists(file));
    EXPECT_FALSE(filesystem.Exists(folder / "missing"));
    EXPECT_FALSE(filesystem.SafeExists(folder / "missing"));
    EXPECT_EQ(filesystem.Canonical(folder / "a/../link"), filesystem.Canonical(file));
    EXPECT_TRUE(filesystem.IsSamePath(folder / "link", folder / "a/./file.bin"));
    EXPECT_FALSE(filesystem.IsSamePath(folder / "missing", folder / "missing"));
    EXPECT_THROW(filesystem.Canonical(folder / "missing"), NotFoundException);
}

TEST_F(FilesystemTest, FileSizeOfAMissingFileIsZeroWhenSafeAndNotFoundOtherwise) {
    const std::string file = folder.Put("five", "12345");
    EXPECT_EQ(filesystem.GetFileSize(file), 5u);
    EXPECT_EQ(filesystem.SafeGetFileSize(file), 5u);
    EXPECT_EQ(filesystem.SafeGetFileSize(folder / "missing"), 0u);
    EXPECT_THROW(filesystem.GetFileSize(folder / "missing"), NotFoundException);
    // A folder has no file size: an error for the wrapped form, 0 for the safe one.
    EXPECT_THROW(filesystem.GetFileSize(folder.Path()), Exception);
    EXPECT_EQ(filesystem.SafeGetFileSize(folder.Path()), 0u);
}

TEST_F(FilesystemTest, AvailableSpaceIsReportedForExistingPathsOnly) {
    EXPECT_GT(filesystem.GetAvailableSpace(folder.Path()), 0u);
    EXPECT_THROW(filesystem.GetAvailableSpace(folder / "missing"), NotFoundException);
}

TEST_F(FilesystemTest, CreateDirectoryMakesOneLevelAndTellsWhetherItDid) {
    EXPECT_TRUE(filesystem.CreateDirectory(folder / "one"));
    EXPECT_FALSE(filesystem.CreateDirectory(folder / "one"));
    EXPECT_TRUE(filesystem.CreateDirectory(folder.Path(), "/one/two"));
    EXPECT_TRUE(fs::is_directory(folder / "one/two"));
    EXPECT_THROW(filesystem.CreateDirectory(folder / "missing/three"), NotFoundException);
}

TEST_F(FilesystemTest, CreateAndEnsureDirectoriesMakeEveryMissingParent) {
    EXPECT_TRUE(filesystem.CreateDirectories(folder / "a/b/c"));
    EXPECT_FALSE(filesystem.CreateDirectories(folder / "a/b/c"));
    EXPECT_TRUE(filesystem.EnsureDirectories(folder / "a/b/c"));
    EXPECT_TRUE(filesystem.EnsureDirectories(folder / "x/y"));
    EXPECT_TRUE(fs::is_directory(folder / "x/y"));

    const std::string file = folder.Put("plain");
    EXPECT_THROW(filesystem.CreateDirectories(file + "/below"), Exception);
    EXPECT_THROW(filesystem.EnsureDirectories(file + "/below"), Exception);
    EXPECT_FALSE(filesystem.SafeEnsureDirectories(file + "/below"));
}

TEST_F(FilesystemTest, RemoveTakesOneObjectOrAWholeTree) {
    folder.Put("tree/a/b.bin");
    folder.Put("tree/c.bin");
    EXPECT_THROW(filesystem.Remove(folder / "tree", false, false), InUseException);
    EXPECT_TRUE(filesystem.Remove(folder.Path(), "tree/c.bin", false, false));
    EXPECT_FALSE(filesystem.Remove(folder / "tree/c.bin", false, false));
    EXPECT_TRUE(filesystem.Remove(folder / "tree", true, true));
    EXPECT_FALSE(fs::exists(folder / "tree"));
    EXPECT_FALSE(filesystem.Remove(folder / "tree", true, false));
}

TEST_F(FilesystemTest, CopyCopiesFilesAndFoldersButNeverOverwrites) {
    folder.Put("from/inner/a.bin", "abc");
    folder.Put("single.bin", "xyz");
    filesystem.Copy(folder / "single.bin", folder / "copy.bin", true);
    EXPECT_EQ(TestFolder::Content(folder / "copy.bin"), "xyz");
    filesystem.Copy(folder / "from", folder / "to", false);
    EXPECT_EQ(TestFolder::Content(folder / "to/inner/a.bin"), "abc");
    EXPECT_THROW(filesystem.Copy(folder / "single.bin", folder / "copy.bin", false), InUseException);
    EXPECT_THROW(filesystem.Copy(folder / "missing", folder / "other", false), NotFoundException);
}

struct PruneCase {
    const char* name;
    std::vector<std::string> files;
    std::string removed;
    std::vector<std::string> gone;
    std::vector<std::string> kept;
};

TEST_F(FilesystemTest, RemoveAndPrunePrunesExactlyTheEmptiedFoldersAndNeverTheBase) {
    const std::vector<PruneCase> cases = {
        {"whole chain", {"a/b/c.bin"}, "a/b/c.bin", {"a/b/c.bin", "a/b", "a"}, {""}},
        {"sibling file stops it", {"a/b/c.bin", "a/d.bin"}, "a/b/c.bin", {"a/b/c.bin", "a/b"}, {"a", "a/d.bin"}},
        {"leading slash", {"a/b/c.bin"}, "/a/b/c.bin", {"a/b/c.bin", "a/b", "a"}, {""}},
        {"file at the top", {"c.bin"}, "c.bin", {"c.bin"}, {""}},
        {"dot dot inside", {"a/b/c.bin", "a/e/f.bin"}, "a/e/../b/c.bin", {"a/b/c.bin", "a/b"}, {"a", "a/e/f.bin"}},
    };
    for (const auto& c : cases) {
        TestFolder base;
        for (const auto& file : c.files) {
            base.Put(file);
        }
        EXPECT_TRUE(filesystem.RemoveAndPrune(base.Path(), c.removed, true)) << c.name;
        for (const auto& path : c.gone) {
            EXPECT_FALSE(fs::exists(base / path)) << c.name << ": " << path;
        }
        for (const auto& path : c.kept) {
            EXPECT_TRUE(fs::exists(base / path)) << c.name << ": " << path;
        }
    }
}

TEST_F(FilesystemTest, RemoveAndPruneReportsTheRemovalButNotThePruning) {
    folder.Put("a/b/other.bin");
    // Nothing to remove: false, and the folders that still hold files stay.
    EXPECT_FALSE(filesystem.RemoveAndPrune(folder.Path(), "a/b/c.bin", false));
    EXPECT_TRUE(fs::exists(folder / "a/b/other.bin"));
    folder.Put("busy/d/e.bin");
    EXPECT_THROW(filesystem.RemoveAndPrune(folder.Path(), "busy/d", false), InUseException);
}

TEST_F(FilesystemTest, RemoveAndPruneRefusesPathsOutsideTheBase) {
    TestFolder outside;
    outside.Put("victim.bin");
    const std::string relative = "../" + fs::path(outside.Path()).filename().string() + "/victim.bin";
    EXPECT_THROW(filesystem.RemoveAndPrune(folder.Path(), relative, false), BadPathException);
    EXPECT_TRUE(fs::exists(outside / "victim.bin"));
}

struct EmptyCase {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::string> folders;
    bool emptyIgnoringHidden;
    bool emptyCountingHidden;
};

TEST_F(FilesystemTest, IsDirectoryEmptyCountsHiddenEntriesOnlyWhenAsked) {
    const std::vector<EmptyCase> cases = {
        {"nothing", {}, {}, true, true},
        {"hidden file", {".hidden"}, {}, true, false},
        {"hidden folder with files", {".cache/a.bin", ".cache/sub/b.bin"}, {}, true, false},
        {"empty hidden folder", {}, {".git"}, true, false},
        {"visible file", {"a.bin"}, {}, false, false},
        {"visible empty folder", {}, {"sub"}, false, false},
        {"visible beside hidden", {".hidden", "a.bin"}, {}, false, false},
        {"hidden file in a visible folder", {"sub/.hidden"}, {}, false, false},
    };
    for (const auto& c : cases) {
        TestFolder tree;
        for (const auto& file : c.files) {
            tree.Put(file);
        }
        for (const auto& sub : c.folders) {
            fs::create_directories(tree / sub);
        }
        EXPECT_EQ(filesystem.IsDirectoryEmpty(tree.Path(), true), c.emptyIgnoringHidden) << c.name;
        EXPECT_EQ(filesystem.IsDirectoryEmpty(tree.Path(), false), c.emptyCountingHidden) << c.name;
    }
    EXPECT_THROW(filesystem.IsDirectoryEmpty(folder / "missing", false), NotFoundException);
}

TEST_F(FilesystemTest, IterateRecursiveWalksEveryEntryAndCanSkipAFolder) {
    folder.Put("a/b/c.bin");
    folder.Put("d.bin");
    folder.Put("skip/e.bin");
    std::vector<std::string> seen;
    for (auto entry = filesystem.IterateRecursive(folder.Path()); !entry.AtEnd(); ++entry) {
        const std::string relative = fs::path(entry.Path()).lexically_relative(folder.Path()).string();
        seen.push_back(relative);
        if (relative == "skip") {
            entry.DisableRecursionPending();
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "a/b", "a/b/c.bin", "d.bin", "skip"}));
    EXPECT_THROW(filesystem.IterateRecursive(folder / "missing"), NotFoundException);
}

TEST_F(FilesystemTest, AdvancingIntoAnUnreadableFolderIsInaccessible) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    folder.Put("locked/a.bin");
    fs::permissions(folder / "locked", fs::perms::no_perms);
    auto entry = filesystem.IterateRecursive(folder.Path());
    EXPECT_THROW(++entry, InaccessibleException);
    fs::permissions(folder / "locked", fs::perms::owner_all);
}

TEST_F(FilesystemTest, IsExecutableComparesTheExtensionCaseSensitively) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"setup.exe", true},     {"run.vbs", true},      {"a.bat", true},           {"a.com", true},
        {"a.cmd", true},         {"a.msi", true},        {"install.sh", true},      {"pkg.run", true},
        {"app.AppImage", true},  {"setup.EXE", false},   {"setup.exe.part", false}, {"setup", false},
        {"app.appimage", false}, {"archive.zip", false},
    };
    for (const auto& [name, executable] : cases) {
        folder.Put("bin/" + name);
        EXPECT_EQ(filesystem.IsExecutable(folder.Path(), "bin/" + name), executable) << name;
    }
    // The package's own name decides, never what a link at that name points
    // to, nor whether the file is there yet.
    filesystem.CreateSymlink(folder / "bin/archive.zip", folder / "bin/fake.exe");
    filesystem.CreateSymlink(folder / "bin/setup.exe", folder / "bin/notes.txt");
    EXPECT_TRUE(filesystem.IsExecutable(folder.Path(), "/bin/fake.exe"));
    EXPECT_FALSE(filesystem.IsExecutable(folder.Path(), "bin/notes.txt"));
    EXPECT_TRUE(filesystem.IsExecutable(folder.Path(), "bin/missing.exe"));
    EXPECT_TRUE(filesystem.IsExecutable(folder.Path(), "bin/./tools/../run.sh"));
    EXPECT_THROW(filesystem.IsExecutable(folder.Path(), "../run.sh"), BadPathException);
}

TEST_F(FilesystemTest, IsHiddenLooksAtTheCanonicalName) {
    folder.Put(".hidden");
    folder.Put("visible");
    folder.Put(".dir/sub/inner");
    EXPECT_TRUE(filesystem.IsHidden(folder / ".hidden"));
    EXPECT_FALSE(filesystem.IsHidden(folder / "visible"));
    EXPECT_FALSE(filesystem.IsHidden(folder / ".dir/sub"));
    EXPECT_TRUE(filesystem.IsHidden(folder / ".dir/sub/.."));
    EXPECT_THROW(filesystem.IsHidden(folder / "missing"), NotFoundException);
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::string(old) : std::string(), old != nullptr});
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->wasSet) {
                setenv(it->name.c_str(), it->value.c_str(), 1);
            } else {
                unsetenv(it->name.c_str());
            }
        }
    }

private:
    struct Saved {
        std::string name;
        std::string value;
        bool wasSet;
    };
    std::vector<Saved> saved_;
};

TEST_F(FilesystemTest, TempFolderIsPerUserAndNeverTheSharedTempFolder) {
    ScopedEnvironment environment;
    environment.Set("XDG_CACHE_HOME", "/somewhere/cache");
    environment.Set("HOME", "/home/someone");
    EXPECT_EQ(filesystem.GetTempFolder(), "/somewhere/cache");
    environment.Set("XDG_CACHE_HOME", "relative/is/ignored");
    EXPECT_EQ(filesystem.GetTempFolder(), "/home/someone/.cache");
    environment.Set("XDG_CACHE_HOME", nullptr);
    environment.Set("HOME", nullptr);
    environment.Set("TMPDIR", folder.Path().c_str());
    // Without $HOME the home comes from the password database, never the
    // shared temp folder another user could prepare.
    const passwd* entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr) << "this user has no password database entry";
    EXPECT_EQ(filesystem.GetTempFolder(), std::string(entry->pw_dir) + "/.cache");
}

TEST_F(FilesystemTest, DesktopFolderComesFromTheUserDirectoriesFile) {
    ScopedEnvironment environment;
    environment.Set("HOME", "/home/someone");
    environment.Set("XDG_CONFIG_HOME", folder.Path().c_str());
    EXPECT_EQ(filesystem.GetDesktopFolder(), "/home/someone/Desktop");
    folder.Put("user-dirs.dirs",
               "# written by the desktop\n"
               "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(filesystem.GetDesktopFolder(), "/home/someone/Schreibtisch");
    folder.Put("user-dirs.dirs", "XDG_DESKTOP_DIR=\"/data/desk top\"\n");
    EXPECT_EQ(filesystem.GetDesktopFolder(), "/data/desk top");
    environment.Set("HOME", nullptr);
    environment.Set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(filesystem.GetDesktopFolder(), "");
}

TEST_F(FilesystemTest, OperationContextIsOneRecursiveLockSharedByItsHolders) {
    const auto context = filesystem.GetOperationContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context, filesystem.GetOperationContext());
    folder.Put("a.bin");
    folder.Put("b.bin");

    std::unique_lock<std::recursive_mutex> held(context->mutex);
    // The holder may run synchronized operations itself...
    EXPECT_TRUE(filesystem.Remove(folder / "a.bin", false, true));
    // ...while another thread's synchronized removal waits for it.
    auto other = std::async(std::launch::async, [&] { return filesystem.Remove(folder / "b.bin", false, true); });
    EXPECT_NE(other.wait_for(std::chrono::milliseconds(50)), std::future_status::ready);
    EXPECT_TRUE(fs::exists(folder / "b.bin"));
    held.unlock();
    ASSERT_EQ(other.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(other.get());
}

}  // namespace
}  // namespace vrexa::file
