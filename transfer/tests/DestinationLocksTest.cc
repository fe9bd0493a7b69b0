#include "transfer/posix/FileDestinationLocks.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "tests/support/TestFolder.h"
#include "tests/support/transfer/TempFolderFilesystem.h"

namespace vrexa::posix {
namespace {

using testsupport::TempFolderFilesystem;
using testsupport::TestFolder;

constexpr char kFirst[] = "0123456789abcdef0123456789abcdef";
constexpr char kSecond[] = "fedcba9876543210fedcba9876543210";

class DestinationLocksTest : public ::testing::Test {
protected:
    DestinationLocksTest() { boost::filesystem::create_directories(dest_); }

    std::string LockFolder() const { return temp_ / "Maker/Product/locks"; }

    TestFolder temp_;
    TempFolderFilesystem filesystem_{temp_.Path()};
    FileDestinationLocks locks_{filesystem_, "Maker/Product/locks"};
    std::string dest_ = temp_ / "dest";
};

TEST_F(DestinationLocksTest, OneHolderAtATimeNamedToTheOthersAndListed) {
    auto held = locks_.Acquire(dest_, kFirst);
    try {
        locks_.Acquire(dest_, kSecond);
        FAIL() << "taken twice";
    } catch (const DestinationInUse& busy) {
        EXPECT_EQ(busy.HolderId(), kFirst);
        EXPECT_EQ(busy.DestPath(), dest_);
        EXPECT_EQ(std::string(busy.what()), "the destination " + dest_ + " is in use by transfer " + kFirst);
    }
    const auto holders = locks_.Holders();
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].transferId, kFirst);
    EXPECT_EQ(holders[0].destPath, dest_);
    // Another folder is another lock.
    boost::filesystem::create_directories(dest_ + "-2");
    EXPECT_NE(locks_.Acquire(dest_ + "-2", kSecond), nullptr);

    struct stat status {};
    ASSERT_EQ(::stat(LockFolder().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat((LockFolder() + "/" + FileDestinationLocks::LockName(dest_)).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    // Released: gone from the folder and free for the next.
    held.reset();
    EXPECT_FALSE(boost::filesystem::exists(LockFolder() + "/" + FileDestinationLocks::LockName(dest_)));
    EXPECT_NE(locks_.Acquire(dest_, kSecond), nullptr);
}

TEST_F(DestinationLocksTest, EverySpellingOfAFolderIsOneDestination) {
    boost::filesystem::create_directory_symlink(dest_, temp_ / "alias");
    const std::string name = FileDestinationLocks::LockName(dest_);
    for (const std::string& spelling : {dest_ + "/", dest_ + "/sub/..", temp_ / "alias", temp_ / "./dest"})
        EXPECT_EQ(FileDestinationLocks::LockName(spelling), name) << spelling;
    EXPECT_NE(FileDestinationLocks::LockName(dest_ + "-2"), name);
}

TEST_F(DestinationLocksTest, AHolderThatDiedBlocksNobodyAndItsFileCanBeCleared) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Ends without releasing: only the system drops the lock.
        auto held = locks_.Acquire(dest_, kFirst);
        ::_exit(held ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(boost::filesystem::exists(LockFolder() + "/" + FileDestinationLocks::LockName(dest_)));

    EXPECT_TRUE(locks_.Holders().empty());
    auto other = locks_.Acquire(dest_ + "/.", kSecond);
    EXPECT_EQ(locks_.RemoveStale(), 0u) << "a held lock stays";
    other.reset();

    // Left behind once more, then cleared.
    const pid_t again = ::fork();
    ASSERT_GE(again, 0);
    if (again == 0) {
        auto held = locks_.Acquire(dest_, kFirst);
        ::_exit(held ? 0 : 1);
    }
    ASSERT_EQ(::waitpid(again, &status, 0), again);
    EXPECT_EQ(locks_.RemoveStale(), 1u);
    EXPECT_TRUE(boost::filesystem::is_empty(LockFolder()));
}

TEST_F(DestinationLocksTest, ALinkAtTheLockFilesPlaceIsNeitherFollowedNorTakenForAHolder) {
    boost::filesystem::create_directories(LockFolder());
    const std::string victim = temp_.Put("victim.txt", "keep");
    boost::filesystem::create_symlink(victim, LockFolder() + "/" + FileDestinationLocks::LockName(dest_));
    try {
        locks_.Acquire(dest_, kFirst);
        FAIL() << "locked through a link";
    } catch (const DestinationInUse&) {
        FAIL() << "a link is not a holder";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot be locked"), std::string::npos) << error.what();
    }
    EXPECT_EQ(TestFolder::Content(victim), "keep");
}

TEST_F(DestinationLocksTest, WithoutAPrivateFolderNothingIsLocked) {
    TempFolderFilesystem nowhere("");
    FileDestinationLocks homeless(nowhere, "Maker/Product/locks");
    EXPECT_THROW(homeless.Acquire(dest_, kFirst), std::runtime_error);
    boost::filesystem::create_directories(temp_ / "elsewhere");
    boost::filesystem::create_directories(temp_ / "Maker");
    boost::filesystem::create_directory_symlink(temp_ / "elsewhere", temp_ / "Maker/Product");
    EXPECT_THROW(locks_.Acquire(dest_, kFirst), std::runtime_error);
    EXPECT_TRUE(boost::filesystem::is_empty(temp_ / "elsewhere"));
}

}  // namespace
}  // namespace vrexa::posix
