#include "file/SequentialWriteCache.h"

#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/SharedFile.h"
#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file {
namespace {

namespace fs = boost::filesystem;
using testsupport::TestFolder;

// A value guarded by a mutex.
template <class T>
class Watched {
public:
    template <class F>
    void Update(F change) {
        std::lock_guard lock(mutex_);
        change(value_);
    }
    T Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

constexpr std::uint64_t kWhole = UINT64_MAX;
// Far longer than any test may take: a flush that returns did not run out
// of its limit.
constexpr std::uint32_t kLongWait = 3600;

class SequentialWriteCacheTest : public ::testing::Test {
protected:
    std::shared_ptr<SharedFile> Open(const std::string& content = "") {
        folder.Put("cached.bin", content);
        return filesystem.OpenSharedFile(folder.Path(), "cached.bin", OpenMode::OpenExisting, true, 0, kWhole);
    }
    std::string Content() { return TestFolder::Content(folder / "cached.bin"); }

    posix::FilesystemImpl filesystem;
    TestFolder folder;
};

TEST_F(SequentialWriteCacheTest, ConstructionChecksTheRangeAndTheMonitor) {
    const auto file = Open();
    try {
        SequentialWriteCache cache(file->Clone(), nullptr, nullptr, 0, 9, 0);
        ADD_FAILURE() << "accepted a null monitor";
    } catch (const std::invalid_argument& failure) {
        EXPECT_STREQ(failure.what(), "SequentialWriteCache constructor received null monitor");
    }
    EXPECT_THROW(file->CreateWriteCache(10, 9, 0), OutOfBoundsException);
    try {
        file->CreateWriteCache(1, 0x100000000, 0);
        ADD_FAILURE() << "accepted a range of more than 0xFFFFFFFF bytes";
    } catch (const std::bad_alloc& failure) {
        EXPECT_STREQ(failure.what(), "bad allocation");
    }
    const auto bounded = filesystem.OpenSharedFile(folder.Path(), "cached.bin", OpenMode::OpenExisting, false, 0, 99);
    EXPECT_THROW(bounded->CreateWriteCache(50, 100, 0), OutOfBoundsException);
}

TEST_F(SequentialWriteCacheTest, CacheBeyondTheEndOfTheFileWritesItsZerosToo) {
    const auto file = Open();
    const auto cache = file->CreateWriteCache(100, 199, 0);
    EXPECT_FALSE(cache->IsLoaded());
    EXPECT_EQ(cache->Write("0123456789", 10), 10u);
    EXPECT_TRUE(cache->IsLoaded());
    EXPECT_EQ(Content(), "") << "nothing reaches the file before the flush";
    cache->Flush();
    EXPECT_EQ(Content(), std::string(100, '\0') + "0123456789" + std::string(90, '\0'));
    EXPECT_EQ(file->GetSizeMonitor()->GetSize(), 200u);
}

TEST_F(SequentialWriteCacheTest, BytesAlreadyOnDiskSurviveAPartialRewrite) {
    const auto file = Open(std::string(150, 'A'));
    const auto cache = file->CreateWriteCache(100, 199, 0);
    cache->Seek(105);
    EXPECT_EQ(cache->Write("BBBBB", 5), 5u);
    EXPECT_EQ(cache->GetPosition(), 110u);
    cache->Flush();
    EXPECT_EQ(Content(), std::string(105, 'A') + "BBBBB" + std::string(40, 'A') + std::string(50, '\0'));
    // A second flush rewrites the whole range again.
    cache->Seek(199);
    cache->Write("Z", 1);
    cache->Flush();
    EXPECT_EQ(Content().back(), 'Z');
    EXPECT_EQ(Content().size(), 200u);
}

TEST_F(SequentialWriteCacheTest, EveryAccessorLoadsTheFileFirst) {
    const std::vector<std::pair<const char*, std::function<void(SequentialWriteCache&)>>> accessors = {
        {"Fetch", [](SequentialWriteCache& cache) { cache.Fetch(); }},
        {"Data", [](SequentialWriteCache& cache) { cache.Data(); }},
        {"Take", [](SequentialWriteCache& cache) { cache.Take(0); }},
        {"Write", [](SequentialWriteCache& cache) { cache.Write("", 0); }},
        {"Visit", [](SequentialWriteCache& cache) { cache.Visit([](const std::uint8_t*, std::size_t) {}); }},
    };
    for (const auto& [name, access] : accessors) {
        const auto file = Open("0123456789");
        const auto cache = file->CreateWriteCache(4, 13, 0);
        cache->Seek(6);
        access(*cache);
        EXPECT_TRUE(cache->IsLoaded()) << name;
        EXPECT_EQ(cache->GetPosition(), 6u) << name << ": loading keeps the position";
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(cache->Data()), 10),
                  std::string("456789") + std::string(4, '\0'))
            << name;
    }
}

TEST_F(SequentialWriteCacheTest, LoadingReadsRangesLongerThanOnePiece) {
    std::string content(20000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>('a' + i % 26);
    }
    const auto file = Open(content);
    const auto cache = file->CreateWriteCache(1000, 18999, 0);
    cache->Visit([&](const std::uint8_t* data, std::size_t size) {
        ASSERT_EQ(size, 18000u);
        EXPECT_EQ(std::memcmp(data, content.data() + 1000, size), 0);
    });
}

TEST_F(SequentialWriteCacheTest, TakeReadAndBoundsWorkOnTheBuffer) {
    const auto file = Open();
    const auto cache = file->CreateWriteCache(0, 9, 0);
    EXPECT_EQ(cache->Take(0), nullptr);
    std::uint8_t* at = cache->Take(4);
    std::memcpy(at, "take", 4);
    EXPECT_EQ(cache->GetPosition(), 4u);
    EXPECT_THROW(cache->Write("1234567", 7), OutOfBoundsException);
    EXPECT_EQ(cache->GetPosition(), 4u);
    EXPECT_THROW(cache->Seek(10), OutOfBoundsException);
    cache->Seek(0);
    char buffer[16] = {};
    EXPECT_EQ(cache->Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "take");
    EXPECT_THROW(cache->Read(buffer, 16), OutOfBoundsException);
}

TEST_F(SequentialWriteCacheTest, FlushWaitsForTheFileToReachItsLowerBoundAndGoesOnWhenAnotherCacheGetsThere) {
    const auto file = Open();
    const auto first = file->CreateWriteCache(0, 99, kLongWait);
    const auto second = file->CreateWriteCache(100, 199, kLongWait);
    second->Write("second", 6);
    first->Write("first", 5);

    auto waiting = std::async(std::launch::async, [&] { second->Flush(); });
    // Until the first range is written the second has nowhere to go.
    EXPECT_NE(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::ready);
    EXPECT_EQ(Content(), "");

    first->Flush();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the waiting flush must proceed as soon as the file reaches its lower bound";
    waiting.get();
    const std::string content = Content();
    ASSERT_EQ(content.size(), 200u);
    EXPECT_EQ(content.substr(0, 5), "first");
    EXPECT_EQ(content.substr(100, 6), "second");
}

TEST_F(SequentialWriteCacheTest, FlushGoesAheadWhenTheWaitLimitRunsOut) {
    const auto file = Open();
    const auto stranded = file->CreateWriteCache(100, 199, 1);
    stranded->Write("late", 4);
    stranded->Flush();  // nobody writes bytes 0 to 99: it waits its second, then writes
    EXPECT_EQ(Content(), std::string(100, '\0') + "late" + std::string(96, '\0'));
}

TEST_F(SequentialWriteCacheTest, FileAlreadyLongEnoughNeedsNoWait) {
    const auto file = Open(std::string(100, 'x'));
    // The monitor learns the size when the cache is made; no other cache
    // will ever extend it, yet the flush proceeds at once.
    const auto cache = file->CreateWriteCache(100, 109, kLongWait);
    cache->Write("0123456789", 10);
    auto flush = std::async(std::launch::async, [&] { cache->Flush(); });
    ASSERT_EQ(flush.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    flush.get();
    EXPECT_EQ(Content(), std::string(100, 'x') + "0123456789");
}

// A cache's own file that notes, at each write, where the write starts and how
// long the file is at that moment.
struct SeenWrite {
    std::uint64_t at;
    std::uint64_t fileSize;
};

class WatchedFile : public SharedFile {
public:
    WatchedFile(std::shared_ptr<SharedFile> inner, Watched<std::vector<SeenWrite>>& writes)
        : SharedFile(inner->GetOperationContext(), inner->GetSizeMonitor(), inner->GetLower(), inner->GetUpper()),
          inner_(std::move(inner)),
          writes_(writes) {}

    std::size_t Write(const void* buffer, std::size_t size) override {
        const SeenWrite write{inner_->GetPosition(), inner_->GetSize()};
        writes_.Update([&](std::vector<SeenWrite>& all) { all.push_back(write); });
        return inner_->Write(buffer, size);
    }
    std::uint64_t GetPosition() override { return inner_->GetPosition(); }
    void Seek(std::uint64_t position) override { inner_->Seek(position); }
    std::size_t Read(void* buffer, std::size_t size) override { return inner_->Read(buffer, size); }
    std::uint64_t GetSize() override { return inner_->GetSize(); }
    bool Preallocate(std::uint64_t size) override { return inner_->Preallocate(size); }
    bool AllowExecute() override { return inner_->AllowExecute(); }
    bool DenyExecute() override { return inner_->DenyExecute(); }
    using SharedFile::Map;
    std::shared_ptr<MemoryMappedData> Map(std::uint64_t lower, std::uint64_t upper) override {
        return inner_->Map(lower, upper);
    }
    using SharedFile::Clone;
    std::shared_ptr<SharedFile> Clone(std::uint64_t lower, std::uint64_t upper) override {
        return inner_->Clone(lower, upper);
    }
    void Flush() override { inner_->Flush(); }

private:
    const std::shared_ptr<SharedFile> inner_;
    Watched<std::vector<SeenWrite>>& writes_;
};

// Not only the final content: every write must start where the file ends or
// before, so that the file never has a hole to be filled later.
TEST_F(SequentialWriteCacheTest, CachesOfAFileFlushedInAnyOrderGrowItFrontToBack) {
    constexpr int kCaches = 6;
    constexpr std::uint64_t kSize = 10000;
    const auto file = Open();
    Watched<std::vector<SeenWrite>> writes;
    std::vector<std::shared_ptr<SequentialWriteCache>> caches;
    for (std::uint64_t i = 0; i < kCaches; ++i) {
        const std::uint64_t lower = i * kSize;
        const std::uint64_t upper = lower + kSize - 1;
        caches.push_back(std::make_shared<SequentialWriteCache>(
            std::make_shared<WatchedFile>(file->Clone(lower, upper), writes), file->GetOperationContext(),
            file->GetSizeMonitor(), lower, upper, kLongWait));
        const std::vector<char> bytes(kSize, static_cast<char>('a' + i));
        caches.back()->Write(bytes.data(), bytes.size());
    }
    // Last first: the later caches must wait for the earlier ones.
    std::vector<std::future<void>> flushes;
    for (int i = kCaches - 1; i >= 0; --i) {
        flushes.push_back(std::async(std::launch::async, [&, i] { caches[i]->Flush(); }));
    }
    for (auto& flush : flushes) {
        ASSERT_EQ(flush.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        flush.get();
    }
    const std::vector<SeenWrite> seen = writes.Get();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kCaches));
    for (const SeenWrite& write : seen) {
        EXPECT_LE(write.at, write.fileSize) << "a write at " << write.at << " left a hole";
    }
    const std::string content = Content();
    ASSERT_EQ(content.size(), kCaches * kSize);
    for (int i = 0; i < kCaches; ++i) {
        EXPECT_EQ(content.find_first_not_of(static_cast<char>('a' + i), i * kSize),
                  i + 1 == kCaches ? std::string::npos : (i + 1) * kSize);
    }
}

// Pausing, cancelling or shutting down reaches a waiting Flush through
// Cancel: it must not wait out its limit. The bytes are written, as when the
// limit runs out.
TEST_F(SequentialWriteCacheTest, CancelEndsTheWaitOfFlushAndOnlyForItsOwnCache) {
    // Longer than the test waits for a flush, short enough that a flush which
    // ignores Cancel ends the failed test soon after.
    constexpr std::uint32_t kLimit = 90;
    for (const bool cancelFirst : {true, false}) {
        const auto file = Open();
        const auto cancelled = file->CreateWriteCache(100, 199, kLimit);
        const auto other = file->CreateWriteCache(300, 399, kLimit);
        cancelled->Write("kept", 4);
        if (cancelFirst) {
            cancelled->Cancel();
        }
        auto flush = std::async(std::launch::async, [&] { cancelled->Flush(); });
        auto otherFlush = std::async(std::launch::async, [&] { other->Flush(); });
        if (!cancelFirst) {
            cancelled->Cancel();
        }
        ASSERT_EQ(flush.wait_for(std::chrono::seconds(30)), std::future_status::ready) << cancelFirst;
        flush.get();
        EXPECT_EQ(Content(), std::string(100, '\0') + "kept" + std::string(96, '\0')) << cancelFirst;
        // The file is still short of the other cache's range: it waits on.
        EXPECT_NE(otherFlush.wait_for(std::chrono::milliseconds(50)), std::future_status::ready) << cancelFirst;
        other->Cancel();
        ASSERT_EQ(otherFlush.wait_for(std::chrono::seconds(30)), std::future_status::ready) << cancelFirst;
        otherFlush.get();
    }
}

TEST_F(SequentialWriteCacheTest, CancellingAViewChangesNothing) {
    const auto file = Open("0123456789");
    const auto view = file->Map(0, 9);
    view->Cancel();
    EXPECT_EQ(view->Write("ab", 2), 2u);
    view->Flush();
    EXPECT_EQ(Content(), "ab23456789");
}

TEST(FileSizeMonitor, ExtendNeverLowersTheKnownSize) {
    FileSizeMonitor monitor;
    EXPECT_EQ(monitor.GetSize(), 0u);
    monitor.Extend(100);
    monitor.Extend(50);
    EXPECT_EQ(monitor.GetSize(), 100u);
    monitor.Extend(101);
    EXPECT_EQ(monitor.GetSize(), 101u);
}

}  // namespace
}  // namespace vrexa::file
