#include "file/posix/AtomicWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/posix/UniqueDescriptor.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file::posix {
namespace {

using testsupport::TestFolder;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t Mode(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// Each access gives its own mode whatever the umask would have made of it.
TEST(AtomicWriteTest, WritesTheContentWithTheAccessAskedForAndNothingElse) {
    struct Case {
        FileAccess access;
        mode_t mode;
    };
    TestFolder folder;
    const mode_t saved = ::umask(0077);
    for (const Case& c : {Case{FileAccess::Shared, 0644}, Case{FileAccess::Private, 0600}}) {
        const std::string path = folder / "file";
        ASSERT_FALSE(WriteFileAtomically(path, std::string("line\n\0binary", 12), c.access));
        EXPECT_EQ(TestFolder::Content(path), std::string("line\n\0binary", 12));
        EXPECT_EQ(Mode(path), c.mode);
        EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{"file"}) << "no temporary file is left";
    }
    ::umask(saved);
}

// The old file is replaced, never written in place: whoever still has it
// open (a reader, a second link) keeps the old bytes whole.
TEST(AtomicWriteTest, ReplacesTheOldFileInsteadOfWritingIntoIt) {
    TestFolder folder;
    const std::string path = folder.Put("entry", "the old content, longer than the new");
    ASSERT_EQ(::link(path.c_str(), (folder / "second-link").c_str()), 0);
    const UniqueDescriptor reader(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(reader);

    ASSERT_FALSE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(TestFolder::Content(path), "new");
    EXPECT_EQ(TestFolder::Content(folder / "second-link"), "the old content, longer than the new");
    char buffer[64] = {};
    EXPECT_EQ(::read(reader.Get(), buffer, sizeof buffer), 36);
}

// A link at the path is the entry replaced; what it points to is not
// touched, so a planted link cannot redirect the write.
TEST(AtomicWriteTest, ReplacesALinkAtThePathWithoutFollowingIt) {
    TestFolder folder;
    const std::string elsewhere = folder.Put("elsewhere", "keep");
    ASSERT_EQ(::symlink(elsewhere.c_str(), (folder / "entry").c_str()), 0);
    ASSERT_FALSE(WriteFileAtomically(folder / "entry", "new"));
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "entry"));
    EXPECT_EQ(TestFolder::Content(folder / "entry"), "new");
    EXPECT_EQ(TestFolder::Content(elsewhere), "keep");
}

TEST(AtomicWriteTest, AFailureReportsItsErrorAndLeavesTheFolderAsItWas) {
    struct Case {
        const char* name;
        std::string path;
        int error;
    };
    TestFolder folder;
    std::filesystem::create_directory(folder / "a-folder");
    folder.Put("a-folder/inside", "kept");
    folder.Put("a-file", "kept");
    const std::vector<Case> cases = {
        {"the folder is missing", folder / "missing/file", ENOENT},
        {"a folder is at the path", folder / "a-folder", EISDIR},
        {"a file stands where the folder should be", folder / "a-file/file", ENOTDIR},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WriteFileAtomically(c.path, "new"), std::error_code(c.error, std::generic_category())) << c.name;
        EXPECT_EQ(Names(folder.Path()), (std::vector<std::string>{"a-file", "a-folder"})) << c.name;
        EXPECT_EQ(Names(folder / "a-folder"), std::vector<std::string>{"inside"}) << c.name;
        EXPECT_EQ(TestFolder::Content(folder / "a-file"), "kept") << c.name;
    }
}

}  // namespace
}  // namespace vrexa::file::posix
