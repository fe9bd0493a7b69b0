#include <unistd.h>

#include <gtest/gtest.h>

#include "file/tests/TestFolder.h"
#include "updater/posix/InstanceLock.h"

namespace vrexa::updater::posix {
namespace {

TEST(InstanceLock, OneHolderPerFolderUntilReleased) {
    file::testing::TestFolder folder;
    InstanceLock first, second, elsewhere;
    ASSERT_TRUE(first.Acquire(folder.Path()));
    EXPECT_FALSE(second.Acquire(folder.Path())) << "the folder is held";
    folder.Put("other/x");
    EXPECT_TRUE(elsewhere.Acquire(folder / "other"));
    first.Release();
    EXPECT_TRUE(second.Acquire(folder.Path()));
}

TEST(InstanceLock, RefusesAMissingFolderAndALinkedLockFile) {
    file::testing::TestFolder folder;
    InstanceLock lock;
    EXPECT_FALSE(lock.Acquire(folder / "missing"));
    const std::string target = folder.Put("target", "keep");
    ASSERT_EQ(::symlink(target.c_str(), (folder / InstanceLock::kFileName).c_str()), 0);
    EXPECT_FALSE(lock.Acquire(folder.Path()));
    EXPECT_EQ(file::testing::TestFolder::Content(target), "keep");
}

}  // namespace
}  // namespace vrexa::updater::posix
