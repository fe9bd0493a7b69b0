#include "file/posix/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/TestFolder.h"

namespace vrexa::file::posix {
namespace {

using ::testing::HasSubstr;
using vrexa::testsupport::TestFolder;

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

TEST(PrivateFolderTest, EveryFolderOnTheWayIsCreatedForTheOwnerAlone) {
    TestFolder folder;
    const std::string base = folder / "cache";
    EXPECT_EQ(EnsurePrivateFolder(base, "Maker/Product/transfers"), base + "/Maker/Product/transfers");
    for (const char* made : {"Maker", "Maker/Product", "Maker/Product/transfers"})
        EXPECT_EQ(ModeOf(base + "/" + made), 0700u) << made;
    // A second call finds what the first made.
    EXPECT_EQ(EnsurePrivateFolder(base, "Maker/Product"), base + "/Maker/Product");
}

TEST(PrivateFolderTest, AFolderOthersCouldReadIsTightened) {
    TestFolder folder;
    boost::filesystem::create_directories(folder / "Maker/Product");
    ASSERT_EQ(::chmod((folder / "Maker/Product").c_str(), 0755), 0);
    EnsurePrivateFolder(folder.Path(), "Maker/Product");
    EXPECT_EQ(ModeOf(folder / "Maker/Product"), 0700u);
}

// What stands where the data folder belongs, and the sentence that refuses it.
struct RefusedCase {
    std::string name;
    std::function<void(const TestFolder&)> prepare;
    std::string relative;
    std::string sentence;
};

class PrivateFolderRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(PrivateFolderRefusalTest, IsRefusedAndNothingBeyondItIsTouched) {
    TestFolder folder;
    boost::filesystem::create_directories(folder / "elsewhere");
    ASSERT_EQ(::chmod((folder / "elsewhere").c_str(), 0755), 0);
    GetParam().prepare(folder);
    try {
        EnsurePrivateFolder(folder / "cache", GetParam().relative);
        FAIL() << "accepted";
    } catch (const PrivateFolderError& error) {
        EXPECT_THAT(error.what(), HasSubstr(GetParam().sentence));
    }
    // Nothing was made through the link, and its target kept its mode.
    EXPECT_TRUE(boost::filesystem::is_empty(folder / "elsewhere"));
    EXPECT_EQ(ModeOf(folder / "elsewhere"), 0755u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrivateFolderRefusalTest,
    ::testing::Values(RefusedCase{"DataFolderIsALink",
                                  [](const TestFolder& folder) {
                                      boost::filesystem::create_directories(folder / "cache/Maker");
                                      boost::filesystem::create_directory_symlink(folder / "elsewhere",
                                                                                  folder / "cache/Maker/Product");
                                  },
                                  "Maker/Product", "cache/Maker/Product is a symbolic link"},
                      RefusedCase{"AFolderOnTheWayIsALink",
                                  [](const TestFolder& folder) {
                                      boost::filesystem::create_directories(folder / "cache");
                                      boost::filesystem::create_directory_symlink(folder / "elsewhere",
                                                                                  folder / "cache/Maker");
                                  },
                                  "Maker/Product", "cache/Maker is a symbolic link"},
                      RefusedCase{"AFileStandsThere",
                                  [](const TestFolder& folder) { folder.Put("cache/Maker/Product"); }, "Maker/Product",
                                  "cache/Maker/Product is not a folder"},
                      RefusedCase{"LeavesTheBase", [](const TestFolder&) {}, "../elsewhere", "leaves"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST(PrivateFolderTest, AFolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    TestFolder folder;
    boost::filesystem::create_directories(folder / "cache/Maker/Product");
    ASSERT_EQ(::chown((folder / "cache/Maker/Product").c_str(), 65534, 65534), 0);
    try {
        EnsurePrivateFolder(folder / "cache", "Maker/Product/transfers");
        FAIL() << "accepted";
    } catch (const PrivateFolderError& error) {
        EXPECT_THAT(error.what(), HasSubstr("cache/Maker/Product belongs to another user"));
    }
    EXPECT_FALSE(boost::filesystem::exists(folder / "cache/Maker/Product/transfers"));
}

TEST(PrivateFolderTest, WithoutAHomeThereIsNoFolderAndTheSentenceSaysWhy) {
    try {
        EnsurePrivateFolder("", "Maker/Product");
        FAIL() << "accepted";
    } catch (const PrivateFolderError& error) {
        EXPECT_THAT(error.what(), HasSubstr("$HOME is not set and the user has no home in the password database"));
    }
}

TEST(PrivateFolderTest, AFileIsMadePrivateButALinkIsNotFollowed) {
    TestFolder folder;
    const std::string file = folder.Put("entry.json");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    EXPECT_TRUE(MakeFilePrivate(file));
    EXPECT_EQ(ModeOf(file), 0600u);

    const std::string victim = folder.Put("victim.txt");
    ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    boost::filesystem::create_symlink(victim, folder / "link.json");
    EXPECT_FALSE(MakeFilePrivate(folder / "link.json"));
    EXPECT_EQ(ModeOf(victim), 0644u);
}

}  // namespace
}  // namespace vrexa::file::posix
