#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TestFolder.h"
#include "updater/posix/InstanceLock.h"

namespace vrexa::updater::posix {
namespace {

using Result = InstanceLock::Result;

TEST(InstanceLock, OneHolderPerFolderUntilReleased) {
    testsupport::TestFolder folder;
    InstanceLock first, second, elsewhere;
    ASSERT_EQ(first.Acquire(folder.Path()), Result::Acquired);
    EXPECT_EQ(second.Acquire(folder.Path()), Result::HeldElsewhere) << "the folder is held";
    folder.Put("other/x");
    EXPECT_EQ(elsewhere.Acquire(folder / "other"), Result::Acquired);
    first.Release();
    EXPECT_EQ(second.Acquire(folder.Path()), Result::Acquired);
    struct stat status {};
    ASSERT_EQ(::stat((folder / InstanceLock::kFileName).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u) << "the lock file is the owner's alone";
}

// Only a lock another process holds means another updater; anything else in
// the way is a storage problem, and nothing it points at is touched.
TEST(InstanceLock, WhatStandsInTheWayIsAStorageProblemNotAnotherUpdater) {
    testsupport::TestFolder folder;
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(folder / "missing"), Result::Unavailable);
    const std::string target = folder.Put("target", "keep");
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    ASSERT_EQ(::symlink(target.c_str(), (folder / InstanceLock::kFileName).c_str()), 0);
    EXPECT_EQ(lock.Acquire(folder.Path()), Result::Unavailable);
    EXPECT_EQ(testsupport::TestFolder::Content(target), "keep");
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);

    folder.Put(std::string("dir/") + InstanceLock::kFileName + "/inside");
    EXPECT_EQ(lock.Acquire(folder / "dir"), Result::Unavailable);
}

}  // namespace
}  // namespace vrexa::updater::posix
