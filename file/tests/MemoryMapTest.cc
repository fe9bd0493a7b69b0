#include "file/MemoryMappedData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file {
namespace {

using testsupport::TestFolder;

constexpr std::uint64_t kWhole = UINT64_MAX;

class MemoryMapTest : public ::testing::Test {
protected:
    // A file of size bytes, each byte its offset modulo 251.
    std::shared_ptr<SharedFile> Pattern(std::size_t size, const std::string& name = "mapped.bin") {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>(i % 251);
        }
        folder.Put(name, content);
        return filesystem.OpenSharedFile(folder.Path(), name, OpenMode::OpenExisting, true, 0, kWhole);
    }

    static char PatternAt(std::uint64_t offset) { return static_cast<char>(offset % 251); }

    posix::FilesystemImpl filesystem;
    TestFolder folder;
};

TEST_F(MemoryMapTest, MapRequiresTheRangeInsideTheFileAndItsBounds) {
    const auto file = Pattern(10000);
    EXPECT_NO_THROW(file->Map(0, 9999));
    EXPECT_THROW(file->Map(0, 10000), InvalidMapException);  // upper equal to the size
    EXPECT_THROW(file->Map(5, 4), OutOfBoundsException);
    const auto bounded =
        filesystem.OpenSharedFile(folder.Path(), "mapped.bin", OpenMode::OpenExisting, false, 100, 199);
    EXPECT_THROW(bounded->Map(99, 150), OutOfBoundsException);
    EXPECT_THROW(bounded->Map(150, 200), OutOfBoundsException);
    EXPECT_EQ(bounded->Map()->GetLength(), 100u);
}

TEST_F(MemoryMapTest, ViewOfExactlyTheLargestSpanIsAcceptedAndOneByteMoreIsABadAllocation) {
    // A sparse file larger than 4 GiB: mapping reserves addresses, not memory.
    const auto file = filesystem.OpenSharedFile(folder.Path(), "sparse.bin", OpenMode::OpenOrCreate, false, 0, kWhole);
    ASSERT_EQ(::truncate((folder / "sparse.bin").c_str(), 0x100000010), 0);
    const auto view = file->Map(0, 0xFFFFFFFE);
    EXPECT_EQ(view->GetLength(), 0xFFFFFFFFu);
    view->Seek(0xFFFFFFFE);
    EXPECT_EQ(view->Write("z", 1), 1u);
    EXPECT_EQ(view->GetPosition(), 0xFFFFFFFFu);
    try {
        file->Map(0, 0xFFFFFFFF);
        ADD_FAILURE() << "accepted 4 GiB";
    } catch (const std::bad_alloc& failure) {
        EXPECT_STREQ(failure.what(), "bad allocation");
    }
    EXPECT_THROW(file->CreateWriteCache(0, 0xFFFFFFFF, 0), std::bad_alloc);
}

TEST_F(MemoryMapTest, ViewAtAnUnalignedOffsetSeesAndChangesTheFile) {
    const auto file = Pattern(3 * 4096 + 100);
    const std::uint64_t lower = 4096 + 123;
    const std::uint64_t upper = 3 * 4096 + 50;
    const auto view = file->Map(lower, upper);
    EXPECT_EQ(view->GetPosition(), lower);
    EXPECT_EQ(view->Data()[0], static_cast<std::uint8_t>(PatternAt(lower)));

    view->Visit([&](const std::uint8_t* data, std::size_t size) {
        ASSERT_EQ(size, upper - lower + 1);
        for (std::size_t i = 0; i < size; ++i) {
            ASSERT_EQ(data[i], static_cast<std::uint8_t>(PatternAt(lower + i))) << i;
        }
    });

    view->Seek(lower + 10);
    EXPECT_EQ(view->Write("MAPPED", 6), 6u);
    EXPECT_EQ(view->GetPosition(), lower + 16);
    view->Flush();
    const std::string content = TestFolder::Content(folder / "mapped.bin");
    EXPECT_EQ(content.substr(lower + 10, 6), "MAPPED");
    EXPECT_EQ(content[lower + 9], PatternAt(lower + 9));
    EXPECT_EQ(content[lower + 16], PatternAt(lower + 16));
}

// Visit may hand out a long range in pieces: together they are the range,
// in order, whatever its length and alignment.
TEST_F(MemoryMapTest, VisitHandsOutTheWholeRangeInOrder) {
    const std::uint64_t size = 3 * 256 * 1024 + 4096;
    const auto file = Pattern(size);
    for (const std::uint64_t length : {std::uint64_t{1}, std::uint64_t{256 * 1024}, std::uint64_t{256 * 1024 + 1},
                                       std::uint64_t{3 * 256 * 1024 + 3}}) {
        const std::uint64_t lower = 5;
        const auto view = file->Map(lower, lower + length - 1);
        std::string seen;
        view->Visit([&](const std::uint8_t* data, std::size_t piece) {
            seen.append(reinterpret_cast<const char*>(data), piece);
        });
        ASSERT_EQ(seen.size(), length);
        for (std::uint64_t i = 0; i < length; ++i) {
            ASSERT_EQ(seen[i], PatternAt(lower + i)) << length << " at " << i;
        }
    }
}

TEST_F(MemoryMapTest, TakeHandsOutTheCurrentPositionAndAdvances) {
    const auto file = Pattern(100);
    const auto view = file->Map(10, 59);
    EXPECT_EQ(view->Take(0), nullptr);
    EXPECT_EQ(view->GetPosition(), 10u);
    std::uint8_t* first = view->Take(20);
    EXPECT_EQ(first, view->Data());
    std::uint8_t* second = view->Take(30);
    EXPECT_EQ(second, view->Data() + 20);
    EXPECT_EQ(view->GetPosition(), 60u);
    EXPECT_THROW(view->Take(1), OutOfBoundsException);
    std::memcpy(first, "taken", 5);
    EXPECT_EQ(TestFolder::Content(folder / "mapped.bin").substr(10, 5), "taken");
}

TEST_F(MemoryMapTest, AccessPastTheUpperBoundFailsAndLeavesTheOffset) {
    const auto file = Pattern(10000);
    const auto view = file->Map(100, 8191);
    view->Seek(8190);
    EXPECT_THROW(view->Write("abc", 3), OutOfBoundsException);
    EXPECT_EQ(view->GetPosition(), 8190u);
    EXPECT_EQ(view->Write("", 0), 0u);
    EXPECT_THROW(view->Seek(8192), OutOfBoundsException);
    EXPECT_THROW(view->Seek(99), OutOfBoundsException);

    view->Seek(100);
    std::vector<char> buffer(8192);
    EXPECT_EQ(view->Read(buffer.data(), buffer.size()), 4096u);
    EXPECT_EQ(buffer[0], PatternAt(100));
    EXPECT_EQ(buffer[4095], PatternAt(4195));
    EXPECT_EQ(view->GetPosition(), 4196u);
    view->Seek(8000);
    EXPECT_THROW(view->Read(buffer.data(), 4096), OutOfBoundsException);
    EXPECT_EQ(view->GetPosition(), 8000u);
}

TEST_F(MemoryMapTest, FetchTouchesTheWholeRangeWithoutChangingIt) {
    const auto file = Pattern(5 * 4096 + 7);
    const auto view = file->Map(1, 5 * 4096 + 6);
    view->Seek(50);
    view->Fetch();
    EXPECT_EQ(view->GetPosition(), 50u);
    EXPECT_EQ(view->Data()[5 * 4096], static_cast<std::uint8_t>(PatternAt(5 * 4096 + 1)));
}

TEST_F(MemoryMapTest, ViewsHeldOnASynchronizedFileRunUnderTheHeldLock) {
    const auto file = Pattern(8192);
    const auto view = file->Map(0, 8191);
    // The lock is recursive: a caller holding it may fetch and flush.
    std::lock_guard<std::recursive_mutex> held(file->GetOperationContext()->mutex);
    view->Fetch();
    view->Write("x", 1);
    view->Flush();
    EXPECT_EQ(TestFolder::Content(folder / "mapped.bin")[0], 'x');
}

// Bringing pages in is no file operation: the chunks of every file fetch
// at once while another thread holds the file operation lock.
TEST_F(MemoryMapTest, FetchDoesNotWaitForTheFileOperationLock) {
    const auto file = Pattern(16 * 4096);
    const auto view = file->Map(0, 16 * 4096 - 1);
    std::unique_lock<std::recursive_mutex> held(file->GetOperationContext()->mutex);
    auto fetched = std::async(std::launch::async, [&] { view->Fetch(); });
    EXPECT_EQ(fetched.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    held.unlock();
    fetched.get();
}

// Writes go to the file at their offset while reads see the mapping: both
// must show the same bytes whichever comes first.
TEST_F(MemoryMapTest, WrittenBytesAreSeenThroughTheViewAndInTheFile) {
    const auto file = Pattern(3 * 4096);
    const auto mappedFirst = file->Map(10, 3 * 4096 - 1);
    EXPECT_EQ(mappedFirst->Data()[4096], static_cast<std::uint8_t>(PatternAt(4096 + 10)));
    mappedFirst->Seek(4096 + 10);
    EXPECT_EQ(mappedFirst->Write("xy", 2), 2u);
    EXPECT_EQ(std::memcmp(mappedFirst->Data() + 4096, "xy", 2), 0);

    const auto writtenFirst = file->Map(2 * 4096 + 1, 3 * 4096 - 1);
    EXPECT_EQ(writtenFirst->Write("zw", 2), 2u);
    EXPECT_EQ(std::memcmp(writtenFirst->Data(), "zw", 2), 0);
    writtenFirst->Flush();

    const std::string content = TestFolder::Content(folder / "mapped.bin");
    EXPECT_EQ(content.size(), 3u * 4096);
    EXPECT_EQ(content.substr(4096 + 10, 2), "xy");
    EXPECT_EQ(content.substr(2 * 4096 + 1, 2), "zw");
    EXPECT_EQ(content[4096 + 12], static_cast<char>(PatternAt(4096 + 12)));
    EXPECT_EQ(content[2 * 4096], static_cast<char>(PatternAt(2 * 4096)));
}

// A file checked in place is opened for reading only: it may belong to
// another user or be marked read-only, and nothing may write through it.
TEST_F(MemoryMapTest, ReadOnlyFilesGiveReadOnlyViews) {
    Pattern(2 * 4096, "readonly.bin");
    const auto path = folder / "readonly.bin";
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const auto file =
        filesystem.OpenSharedFile(folder.Path(), "readonly.bin", OpenMode::OpenExistingReadOnly, true, 0, kWhole);
    const auto view = file->Map(5, 2 * 4096 - 1);
    view->Fetch();
    std::uint8_t first = 0;
    view->Visit([&](const std::uint8_t* data, std::size_t) { first = data[0]; });
    EXPECT_EQ(first, static_cast<std::uint8_t>(PatternAt(5)));
    EXPECT_THROW(view->Write("x", 1), InaccessibleException);
    EXPECT_THROW(view->Take(1), InaccessibleException);
    EXPECT_NO_THROW(view->Flush());
    EXPECT_ANY_THROW(file->Write("x", 1));
    const auto clone = file->Clone(0, 4095);
    EXPECT_THROW(clone->Map(0, 4095)->Write("x", 1), InaccessibleException);
    EXPECT_EQ(TestFolder::Content(path)[5], PatternAt(5));
    EXPECT_THROW(
        filesystem.OpenSharedFile(folder.Path(), "missing/none.bin", OpenMode::OpenExistingReadOnly, true, 0, kWhole),
        NotFoundException);
    EXPECT_FALSE(boost::filesystem::exists(folder / "missing"));
}

TEST_F(MemoryMapTest, ManyThreadsWriteTheirOwnViewsOfOneFile) {
    constexpr std::uint64_t kChunk = 64 * 1024 + 13;  // not page aligned on purpose
    constexpr int kChunks = 16;
    const auto file =
        filesystem.OpenSharedFile(folder.Path(), "parallel.bin", OpenMode::OpenOrCreate, true, 0, kChunk * kChunks - 1);
    ASSERT_TRUE(file->Preallocate(kChunk * kChunks));
    std::vector<std::thread> threads;
    for (int chunk = 0; chunk < kChunks; ++chunk) {
        threads.emplace_back([&, chunk] {
            const auto view = file->Map(chunk * kChunk, (chunk + 1) * kChunk - 1);
            view->Fetch();
            const std::vector<char> bytes(kChunk, static_cast<char>('A' + chunk));
            std::size_t written = 0;
            while (written < bytes.size()) {
                written += view->Write(bytes.data() + written, std::min<std::size_t>(5000, bytes.size() - written));
            }
            view->Flush();
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string content = TestFolder::Content(folder / "parallel.bin");
    ASSERT_EQ(content.size(), kChunk * kChunks);
    for (int chunk = 0; chunk < kChunks; ++chunk) {
        const auto end = chunk + 1 == kChunks ? std::string::npos : (chunk + 1) * kChunk;
        EXPECT_EQ(content.find_first_not_of(static_cast<char>('A' + chunk), chunk * kChunk), end) << chunk;
    }
}

// Truncating a mapped file from another descriptor makes its pages vanish;
// touching them must surface as InvalidMapException, never end the process.
TEST_F(MemoryMapTest, TouchingPagesOfATruncatedFileRaisesInvalidMap) {
    struct Case {
        const char* name;
        std::uint64_t at;  // where the view is positioned first
        std::function<void(MemoryMappedData&)> touch;
    };
    const std::vector<Case> cases = {
        {"read", 3 * 4096,
         [](MemoryMappedData& view) {
             char buffer[16];
             view.Read(buffer, sizeof buffer);
         }},
        {"write", 3 * 4096, [](MemoryMappedData& view) { view.Write("lost", 4); }},
        {"fetch", 0, [](MemoryMappedData& view) { view.Fetch(); }},
        {"visit", 0,
         [](MemoryMappedData& view) {
             view.Visit([](const std::uint8_t* data, std::size_t size) {
                 volatile unsigned sum = 0;
                 for (std::size_t i = 0; i < size; ++i) {
                     sum = sum + data[i];
                 }
             });
         }},
    };
    for (const auto& c : cases) {
        const auto file = Pattern(4 * 4096, std::string("truncated-") + c.name);
        const auto view = file->Map(100, 4 * 4096 - 1);
        ASSERT_EQ(::truncate((folder / (std::string("truncated-") + c.name)).c_str(), 0), 0);
        view->Seek(view->GetLower() + c.at);
        const std::uint64_t position = view->GetPosition();
        EXPECT_THROW(c.touch(*view), InvalidMapException) << c.name;
        // The view stays broken: nothing more goes through it, and a flush
        // does not pretend the bytes reached the file.
        EXPECT_THROW(view->Flush(), InvalidMapException) << c.name;
        EXPECT_THROW(view->Take(1), InvalidMapException) << c.name;
        EXPECT_THROW(view->Write("x", 1), InvalidMapException) << c.name;
        EXPECT_EQ(view->GetPosition(), position) << c.name;
    }
}

TEST_F(MemoryMapTest, FaultThroughATakenPointerIsReportedByTheNextOperation) {
    const auto file = Pattern(2 * 4096);
    const auto view = file->Map(0, 2 * 4096 - 1);
    std::uint8_t* bytes = view->Take(2 * 4096);
    ASSERT_EQ(::truncate((folder / "mapped.bin").c_str(), 0), 0);
    bytes[4096] = 1;  // the copy a writer makes straight into the view
    EXPECT_THROW(view->Fetch(), InvalidMapException);
    EXPECT_THROW(view->Flush(), InvalidMapException);
}

TEST_F(MemoryMapTest, OtherViewsOfTheFileKeepWorkingAfterOneBreaks) {
    const auto file = Pattern(4 * 4096);
    const auto broken = file->Map(2 * 4096, 4 * 4096 - 1);
    const auto intact = file->Map(0, 4095);
    ASSERT_EQ(::truncate((folder / "mapped.bin").c_str(), 4096), 0);
    EXPECT_THROW(broken->Fetch(), InvalidMapException);
    EXPECT_NO_THROW(intact->Fetch());
    EXPECT_EQ(intact->Write("ok", 2), 2u);
    EXPECT_NO_THROW(intact->Flush());
    EXPECT_EQ(TestFolder::Content(folder / "mapped.bin").substr(0, 2), "ok");
}

}  // namespace
}  // namespace vrexa::file
