#include "file/posix/FaultGuard.h"

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file::posix {
namespace {

using testsupport::TestFolder;

// What happens between the reads of a slot's start and end; run once.
std::function<void(int)> midRead;

void RunMidReadOnce(int slot) {
    if (midRead) {
        const auto once = std::move(midRead);
        midRead = nullptr;
        once(slot);
    }
}

// Ranges inside this block are registered and looked up, never touched.
alignas(4096) char arena[4 * 4096];

std::uintptr_t At(std::size_t offset) { return reinterpret_cast<std::uintptr_t>(arena + offset); }

TEST(FaultGuardTest, FindBlamesTheSlotWhoseRangeHoldsTheAddress) {
    const int first = FaultGuard::Register(arena, 4096);
    const int second = FaultGuard::Register(arena + 2 * 4096, 4096);
    EXPECT_EQ(FaultGuard::Find(At(0)), first);
    EXPECT_EQ(FaultGuard::Find(At(4095)), first);
    EXPECT_EQ(FaultGuard::Find(At(4096)), -1);
    EXPECT_EQ(FaultGuard::Find(At(2 * 4096 + 10)), second);
    FaultGuard::Unregister(second);
    EXPECT_EQ(FaultGuard::Find(At(2 * 4096 + 10)), -1);
    FaultGuard::Unregister(first);
    EXPECT_EQ(FaultGuard::Find(At(0)), -1);
}

// A slot re-registered between the reads of its start and end must not be
// read as the old start with the new end: that range would hold addresses
// of neither view, and the fault would mark a view that did not fault.
TEST(FaultGuardTest, SlotReusedWhileItIsReadIsNeverBlamedForAMixedRange) {
    struct Case {
        const char* name;
        std::size_t newOffset;  // where the slot's new range starts
        std::size_t probe;      // the address looked up
        bool blamed;            // whether the new range holds it
    };
    const std::vector<Case> cases = {
        {"address between the old and the new range", 2 * 4096, 4096 + 8, false},
        {"address inside the new range", 2 * 4096, 2 * 4096 + 8, true},
    };
    for (const Case& c : cases) {
        const int slot = FaultGuard::Register(arena, 4096);
        int reused = -1;
        midRead = [&](int read) {
            if (read == slot) {
                FaultGuard::Unregister(slot);
                reused = FaultGuard::Register(arena + c.newOffset, 4096);
            }
        };
        const int found = FaultGuard::Find(At(c.probe), RunMidReadOnce);
        midRead = nullptr;
        ASSERT_EQ(reused, slot) << c.name << ": the slot was not reused";
        EXPECT_EQ(found, c.blamed ? slot : -1) << c.name;
        FaultGuard::Unregister(reused);
    }
}

// gcc names its sanitizers with macros; clang only answers __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define UNDER_CLANG_SANITIZER 1
#endif
#endif
#ifndef UNDER_CLANG_SANITIZER
#define UNDER_CLANG_SANITIZER 0
#endif

// A SIGBUS sent with kill or raise carries no faulting address. It must not
// disarm the guard: a real fault afterwards is still caught. Run in a child
// process, since an unguarded fault ends the process.
TEST(FaultGuardTest, SentSigbusLeavesTheGuardArmed) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__) || UNDER_CLANG_SANITIZER
    // The sanitizers report a sent SIGBUS as a crash of their own before the
    // program's handler can decide.
    GTEST_SKIP() << "SIGBUS belongs to the sanitizer in this build";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* name;
        std::function<void()> send;
    };
    const std::vector<Case> cases = {
        {"raise", [] { ::raise(SIGBUS); }},
        {"kill", [] { ::kill(::getpid(), SIGBUS); }},
        {"sigqueue", [] { ::sigqueue(::getpid(), SIGBUS, sigval{}); }},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                // In a function of its own so that the folder is removed
                // before the child ends.
                const auto caught = [&] {
                    TestFolder folder;
                    folder.Put("mapped.bin", std::string(2 * 4096, 'm'));
                    FilesystemImpl filesystem;
                    const auto file = filesystem.OpenSharedFile(folder.Path(), "mapped.bin", OpenMode::OpenExisting,
                                                                true, 0, UINT64_MAX);
                    const auto view = file->Map(0, 2 * 4096 - 1);
                    view->Data();  // maps the view, which arms the guard
                    c.send();
                    if (::truncate((folder / "mapped.bin").c_str(), 0) != 0) {
                        return 2;
                    }
                    try {
                        view->Fetch();
                    } catch (const InvalidMapException&) {
                        return 0;
                    }
                    return 1;
                };
                ::_exit(caught());
            },
            ::testing::ExitedWithCode(0), "")
            << c.name;
    }
}

}  // namespace
}  // namespace vrexa::file::posix
