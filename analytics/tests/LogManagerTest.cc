#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "analytics/JsonWorkLogManager.h"
#include "analytics/TransferEvent.h"
#include "analytics/tests/AnalyticsTestSupport.h"
#include "file/Exception.h"
#include "file/SharedFile.h"
#include "tests/support/FinishesWithin.h"
#include "work/SimpleWork.h"
#include "work/WorkStatus.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;
using testing::FileNames;
using testing::Lines;
using testing::Records;
using testing::TempFolderFilesystem;
using testing::TestFolder;

// 2024-03-05 07:08:09 UTC.
constexpr std::time_t kMoment = 1709622489;

// A work whose outcomes are reported to the log; it describes itself by name
// and a counter that shows when the description was taken.
class ProbeWork : public SimpleWork {
public:
    void Describe(ptree& tree) const override {
        if (throwOnDescribe) throw std::runtime_error("cannot describe");
        tree.put("name", "ProbeWork");
        tree.put("step", std::to_string(step));
    }
    WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success, nullptr); }
    void OnCancel() override {}

    int step = 1;
    bool throwOnDescribe = false;
};

class LogManagerTest : public ::testing::Test {
protected:
    LogManagerTest() : filesystem_(temp_.Path()) {}

    std::unique_ptr<JsonWorkLogManager> Manager(std::uint32_t mask, std::string folder = "logs") {
        return std::make_unique<JsonWorkLogManager>(mask, std::move(folder), &filesystem_, [] { return kMoment; });
    }

    // The records of the one log file, without time stamps.
    std::vector<std::string> LogRecords(const std::string& folder = "logs") {
        const auto names = FileNames(temp_ / folder);
        if (names.size() != 1) {
            ADD_FAILURE() << names.size() << " log files";
            return {};
        }
        return Records(Lines(temp_ / (folder + "/" + names[0])));
    }

    static void TrackRecord(LogManager& manager, int kind, const std::string& event) {
        auto work = manager.CreateEventWork(kind);
        work->GetTree().put("event", event);
        manager.TrackEvent(work);
    }

    TestFolder temp_;
    TempFolderFilesystem filesystem_;
};

// Which outcome reaches the file under which mask.
enum class Route { Complete, Retry };

struct MaskCase {
    const char* name;
    std::uint32_t mask;
    Route route;
    bool milestone;
    WorkResult result;
    bool written;
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const MaskCase& c, std::ostream* os) { *os << c.name; }

class LogMaskTest : public LogManagerTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(LogMaskTest, WritesOutcomeOnlyWhenItsKindPassesTheMask) {
    const MaskCase& c = GetParam();
    auto work = std::make_shared<ProbeWork>();
    const WorkStatus status(c.result, nullptr);
    {
        auto manager = Manager(c.mask);
        if (c.route == Route::Complete) {
            manager->GetCompleteCallback(c.milestone).OnWorkComplete(work, status);
        } else {
            manager->GetRetryCallback(c.milestone).OnSimpleWorkRetry(work, status);
        }
    }
    if (!c.written) {
        EXPECT_TRUE(FileNames(temp_.Path()).empty()) << "a record was written or a folder made";
        return;
    }
    const std::string event = c.route == Route::Complete ? "OnWorkComplete" : "OnSimpleWorkRetry";
    EXPECT_EQ(LogRecords(),
              std::vector<std::string>{R"({"event":")" + event + R"(","params":{"name":"ProbeWork","step":"1",)" +
                                       R"("workStatus":{"result":")" + std::to_string(static_cast<int>(c.result)) +
                                       R"(","retry":"false"}}})"});
}

constexpr std::uint32_t kDefault = kDefaultLogMask;

INSTANTIATE_TEST_SUITE_P(
    Masks, LogMaskTest,
    ::testing::Values(MaskCase{"DefaultMilestoneSuccess", kDefault, Route::Complete, true, WorkResult::Success, true},
                      MaskCase{"DefaultSuccess", kDefault, Route::Complete, false, WorkResult::Success, false},
                      MaskCase{"DefaultFatal", kDefault, Route::Complete, false, WorkResult::FatalError, true},
                      MaskCase{"DefaultRetryable", kDefault, Route::Complete, false, WorkResult::RetryableError, true},
                      MaskCase{"DefaultFailure", kDefault, Route::Complete, false, WorkResult::Failure, false},
                      MaskCase{"DefaultCancelled", kDefault, Route::Complete, false, WorkResult::Cancelled, false},
                      MaskCase{"DefaultMilestoneCancelled", kDefault, Route::Complete, true, WorkResult::Cancelled,
                               true},
                      MaskCase{"DefaultRetry", kDefault, Route::Retry, false, WorkResult::RetryableError, true},
                      MaskCase{"DefaultMilestoneRetry", kDefault, Route::Retry, true, WorkResult::RetryableError, true},
                      MaskCase{"Mask8Success", 8, Route::Complete, false, WorkResult::Success, true},
                      MaskCase{"Mask8MilestoneFailure", 8, Route::Complete, true, WorkResult::Failure, true},
                      MaskCase{"Mask8Cancelled", 8, Route::Complete, false, WorkResult::Cancelled, true},
                      MaskCase{"Mask8Fatal", 8, Route::Complete, false, WorkResult::FatalError, false},
                      MaskCase{"Mask8MilestoneFatal", 8, Route::Complete, true, WorkResult::FatalError, false},
                      MaskCase{"Mask8MilestoneRetryable", 8, Route::Complete, true, WorkResult::RetryableError, false},
                      MaskCase{"Mask8MilestoneRetry", 8, Route::Retry, true, WorkResult::RetryableError, false},
                      MaskCase{"Mask1MilestoneSuccess", 1, Route::Complete, true, WorkResult::Success, false},
                      MaskCase{"Mask1Fatal", 1, Route::Complete, false, WorkResult::FatalError, false},
                      MaskCase{"Mask1Retry", 1, Route::Retry, false, WorkResult::RetryableError, false},
                      MaskCase{"Mask16OnlyMilestones", 16, Route::Complete, true, WorkResult::Success, true},
                      MaskCase{"Mask16NotOrdinary", 16, Route::Complete, false, WorkResult::FatalError, false},
                      MaskCase{"Mask0", 0, Route::Complete, true, WorkResult::FatalError, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct EventMaskCase {
    std::uint32_t mask;
    bool written;
};

class LogEventMaskTest : public LogManagerTest, public ::testing::WithParamInterface<EventMaskCase> {};

TEST_P(LogEventMaskTest, TransferEventRecordFollowsBitOne) {
    {
        auto manager = Manager(GetParam().mask);
        TransferBehavior behavior;
        behavior.logManager = manager.get();
        TransferParams params;
        TransferPauseEvent(params, behavior, TransferEventCapture()).Raise();
    }
    if (GetParam().written) {
        EXPECT_EQ(LogRecords(), std::vector<std::string>{R"({"event":"Pause","params":{"transferId":"?",)"
                                                         R"("partnerId":"?","packageId":"?","versionId":"?",)"
                                                         R"("destPath":"?"}})"});
    } else {
        EXPECT_TRUE(FileNames(temp_.Path()).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, LogEventMaskTest,
                         ::testing::Values(EventMaskCase{kDefault, true}, EventMaskCase{1, true},
                                           EventMaskCase{8, false}, EventMaskCase{0, false}));

TEST_F(LogManagerTest, MaskZeroCreatesNoFileOrFolder) {
    {
        auto manager = Manager(0, "deep/logs");
        auto work = std::make_shared<ProbeWork>();
        for (bool milestone : {false, true}) {
            manager->GetCompleteCallback(milestone).OnWorkComplete(work, WorkStatus(WorkResult::FatalError, nullptr));
            manager->GetCompleteCallback(milestone).OnWorkComplete(work, WorkStatus(WorkResult::Success, nullptr));
            manager->GetRetryCallback(milestone).OnSimpleWorkRetry(work,
                                                                   WorkStatus(WorkResult::RetryableError, nullptr));
        }
        for (int kind : {1, 2, 4, 8, 16, 31})
            TrackRecord(*manager, kind, "x");
        manager->WriteLine(0xFFFFFFFF, "direct\n");
    }
    EXPECT_TRUE(FileNames(temp_.Path()).empty());
}

TEST_F(LogManagerTest, LinesBeginWithUtcTimeStampWhateverTheLocalZone) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    setenv("TZ", "XYZ-2", 1);  // two hours east of UTC
    tzset();
    {
        auto manager = Manager(kDefault);
        TrackRecord(*manager, 1, "first");
        TrackRecord(*manager, 1, "second");
    }
    if (previous)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    EXPECT_EQ(FileNames(temp_ / "logs"), std::vector<std::string>{"Log.2024.03.05.07.08.09.txt"});
    // The log names nodes and destinations: its owner's alone.
    struct stat status {};
    ASSERT_EQ(::stat((temp_ / "logs/Log.2024.03.05.07.08.09.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    const std::string content = TestFolder::Content(temp_ / "logs/Log.2024.03.05.07.08.09.txt");
    // Two jobs per record on two threads: the lines may come in either order.
    const std::string a = "[2024-03-05 07:08:09] {\"event\":\"first\"}\n";
    const std::string b = "[2024-03-05 07:08:09] {\"event\":\"second\"}\n";
    EXPECT_TRUE(content == a + b || content == b + a) << content;
}

TEST_F(LogManagerTest, NameTakenInTheSameSecondGetsCounterAfterExtension) {
    for (int run = 0; run < 3; ++run) {
        auto manager = Manager(kDefault);
        TrackRecord(*manager, 1, "run" + std::to_string(run));
    }
    EXPECT_EQ(FileNames(temp_ / "logs"),
              (std::vector<std::string>{"Log.2024.03.05.07.08.09.txt", "Log.2024.03.05.07.08.09.txt.1",
                                        "Log.2024.03.05.07.08.09.txt.2"}));
    EXPECT_EQ(Records(Lines(temp_ / "logs/Log.2024.03.05.07.08.09.txt.2")),
              std::vector<std::string>{"{\"event\":\"run2\"}"});
}

TEST_F(LogManagerTest, OneFileForTheManagersWholeLife) {
    std::time_t now = kMoment;
    {
        JsonWorkLogManager manager(kDefault, "logs", &filesystem_, [&now] { return now; });
        manager.WriteLine(1, "a\n");
        now += 3600;  // a later record still goes to the first file, stamped anew
        manager.WriteLine(1, "b\n");
    }
    EXPECT_EQ(FileNames(temp_ / "logs"), std::vector<std::string>{"Log.2024.03.05.07.08.09.txt"});
    EXPECT_EQ(Lines(temp_ / "logs/Log.2024.03.05.07.08.09.txt"),
              (std::vector<std::string>{"[2024-03-05 07:08:09] a", "[2024-03-05 08:08:09] b"}));
}

TEST_F(LogManagerTest, MissingLogFoldersAreCreatedWithTheFirstLine) {
    {
        auto manager = Manager(kDefault, "Quenlar/Vrexa/logs");
        EXPECT_FALSE(boost::filesystem::exists(temp_ / "Quenlar"));
        TrackRecord(*manager, 1, "x");
    }
    EXPECT_EQ(LogRecords("Quenlar/Vrexa/logs"), std::vector<std::string>{"{\"event\":\"x\"}"});
}

TEST_F(LogManagerTest, UnopenableFileLosesTheRecordAndTheNextOneTriesAgain) {
    TestFolder other;
    const std::string missing = other / "not-yet";
    TempFolderFilesystem filesystem(missing);
    JsonWorkLogManager manager(kDefault, "logs", &filesystem, [] { return kMoment; });
    EXPECT_THROW(manager.WriteLine(1, "lost\n"), file::NotFoundException);
    boost::filesystem::create_directories(missing);
    manager.WriteLine(1, "kept\n");
    EXPECT_EQ(Lines(missing + "/logs/Log.2024.03.05.07.08.09.txt"),
              std::vector<std::string>{"[2024-03-05 07:08:09] kept"});
}

struct BlockedFolderCase {
    const char* name;
    std::function<void(const std::string& logs)> block;
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const BlockedFolderCase& c, std::ostream* os) { *os << c.name; }

class LogBlockedFolderTest : public LogManagerTest, public ::testing::WithParamInterface<BlockedFolderCase> {};

TEST_P(LogBlockedFolderTest, RecordIsLostWithoutAHangAndTheManagerStillEnds) {
    GetParam().block(temp_ / "logs");
    testsupport::FinishesWithin(std::chrono::seconds(20), [this] {
        auto manager = Manager(kDefault);
        EXPECT_THROW(manager->WriteLine(1, "direct\n"), file::Exception);
        // Through the pool: both log threads meet the folder, and the
        // manager's destruction waits for them.
        for (int i = 0; i < 4; ++i)
            TrackRecord(*manager, 1, "queued");
    });
    EXPECT_TRUE(FileNames(temp_.Path()) == std::vector<std::string>{"logs"});
}

INSTANTIATE_TEST_SUITE_P(
    Folders, LogBlockedFolderTest,
    ::testing::Values(BlockedFolderCase{"RegularFile", [](const std::string& logs) { std::ofstream(logs) << "x"; }},
                      BlockedFolderCase{
                          "DanglingLink",
                          [](const std::string& logs) { boost::filesystem::create_symlink(logs + "-gone", logs); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogManagerTest, WhenEveryNameTriedIsTakenTheRecordIsLost) {
    boost::filesystem::create_directories(temp_ / "logs");
    for (unsigned n = 0; n < LogManager::kOpenAttempts; ++n) {
        const std::string suffix = n == 0 ? "" : "." + std::to_string(n);
        boost::filesystem::create_directory(temp_ / ("logs/Log.2024.03.05.07.08.09.txt" + suffix));
    }
    auto manager = Manager(kDefault);
    EXPECT_THROW(manager->WriteLine(1, "lost\n"), file::InUseException);
    EXPECT_EQ(FileNames(temp_ / "logs").size(), LogManager::kOpenAttempts);
}

// The real file, except that the disk holds only `room` more bytes: a write
// that does not fit puts what fits and throws, its position unchanged, as a
// full disk does.
class FullDiskFile : public file::SharedFile {
public:
    FullDiskFile(std::shared_ptr<file::SharedFile> file, std::shared_ptr<std::size_t> room)
        : SharedFile(nullptr, nullptr, file->GetLower(), file->GetUpper()),
          file_(std::move(file)),
          room_(std::move(room)) {}

    std::size_t Write(const void* buffer, std::size_t size) override {
        if (size <= *room_) {
            *room_ -= size;
            return file_->Write(buffer, size);
        }
        const std::uint64_t position = file_->GetPosition();
        file_->Write(buffer, *room_);
        file_->Seek(position);
        *room_ = 0;
        throw file::InsufficientSpaceException();
    }
    std::uint64_t GetPosition() override { return file_->GetPosition(); }
    void Seek(std::uint64_t position) override { file_->Seek(position); }
    std::size_t Read(void* buffer, std::size_t size) override { return file_->Read(buffer, size); }
    std::uint64_t GetSize() override { return file_->GetSize(); }
    bool Preallocate(std::uint64_t size) override { return file_->Preallocate(size); }
    bool AllowExecute() override { return file_->AllowExecute(); }
    bool DenyExecute() override { return file_->DenyExecute(); }
    std::shared_ptr<file::MemoryMappedData> Map(std::uint64_t lower, std::uint64_t upper) override {
        return file_->Map(lower, upper);
    }
    std::shared_ptr<file::SharedFile> Clone(std::uint64_t lower, std::uint64_t upper) override {
        return file_->Clone(lower, upper);
    }
    void Flush() override { file_->Flush(); }

private:
    std::shared_ptr<file::SharedFile> file_;
    std::shared_ptr<std::size_t> room_;
};

class FullDiskFilesystem : public TempFolderFilesystem {
public:
    using TempFolderFilesystem::TempFolderFilesystem;
    std::shared_ptr<file::SharedFile> OpenSharedFile(const std::string& base, const std::string& relative,
                                                     file::OpenMode mode, bool synchronized, std::uint64_t lower,
                                                     std::uint64_t upper) override {
        return std::make_shared<FullDiskFile>(
            TempFolderFilesystem::OpenSharedFile(base, relative, mode, synchronized, lower, upper), room);
    }

    std::shared_ptr<std::size_t> room = std::make_shared<std::size_t>(0);
};

TEST_F(LogManagerTest, LineAfterACutOneFollowsTheCutText) {
    FullDiskFilesystem filesystem(temp_.Path());
    const std::string prefix = "[2024-03-05 07:08:09] ";
    struct Case {
        const char* name;
        std::size_t room;  // bytes left on the disk for the second line
        std::string cut;   // what of it reaches the file
    } const cases[] = {
        {"cut inside the text", prefix.size() + 3, prefix + "sec"},
        {"cut inside the time stamp", 5, prefix.substr(0, 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boost::filesystem::remove_all(temp_ / "logs");
        JsonWorkLogManager manager(kDefault, "logs", &filesystem, [] { return kMoment; });
        *filesystem.room = 1000;
        manager.WriteLine(1, "first\n");
        *filesystem.room = c.room;
        manager.WriteLine(1, "second line\n");
        *filesystem.room = 1000;  // space freed again
        manager.WriteLine(1, "third\n");
        EXPECT_EQ(TestFolder::Content(temp_ / "logs/Log.2024.03.05.07.08.09.txt"),
                  prefix + "first\n" + c.cut + prefix + "third\n");
    }
}

TEST_F(LogManagerTest, StatusDataIsDescribedInsideWorkStatus) {
    auto work = std::make_shared<ProbeWork>();
    {
        auto manager = Manager(kDefault);
        WorkStatus status(WorkResult::FatalError, std::make_shared<WorkErrorData>("it broke"));
        status.retry = true;
        manager->GetCompleteCallback(false).OnWorkComplete(work, status);
    }
    EXPECT_EQ(LogRecords(), std::vector<std::string>{
                                R"({"event":"OnWorkComplete","params":{"name":"ProbeWork","step":"1",)"
                                R"("workStatus":{"result":"4","retry":"true","data":{"errorMessage":"it broke"}}}})"});
}

TEST_F(LogManagerTest, WorkThatCannotDescribeItselfLosesOnlyItsRecord) {
    auto broken = std::make_shared<ProbeWork>();
    broken->throwOnDescribe = true;
    auto fine = std::make_shared<ProbeWork>();
    {
        auto manager = Manager(kDefault);
        manager->GetCompleteCallback(true).OnWorkComplete(broken, WorkStatus(WorkResult::Success, nullptr));
        manager->GetCompleteCallback(true).OnWorkComplete(fine, WorkStatus(WorkResult::Success, nullptr));
    }
    const auto records = LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"name\":\"ProbeWork\""), std::string::npos);
}

TEST_F(LogManagerTest, DestinationWithSlashAndNonAsciiIsEscapedBytewise) {
    {
        auto manager = Manager(kDefault);
        TransferBehavior behavior;
        behavior.logManager = manager.get();
        TransferParams params;
        params.destPath = "C:\\Users/J\xC3\xBCrgen/\xE2\x82\xAC";
        TransferResumeEvent(params, behavior, TransferEventCapture()).Raise();
    }
    const auto records = LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find(R"("destPath":"C:\\Users\/J\u00C3\u00BCrgen\/\u00E2\u0082\u00AC")"), std::string::npos)
        << records[0];
}

TEST_F(LogManagerTest, EveryQueuedRecordIsWrittenBeforeTheManagerIsGone) {
    constexpr int kRecords = 50;
    auto work = std::make_shared<ProbeWork>();
    {
        auto manager = Manager(kDefault);
        for (int i = 0; i < kRecords / 2; ++i)
            TrackRecord(*manager, 1, std::to_string(i));
        // These pass through two jobs each: set-up, then the write it posts.
        for (int i = kRecords / 2; i < kRecords; ++i) {
            manager->GetCompleteCallback(false).OnWorkComplete(work, WorkStatus(WorkResult::FatalError, nullptr));
        }
    }
    EXPECT_EQ(LogRecords().size(), static_cast<std::size_t>(kRecords));
}

// A work whose description waits until the test lets it go: it holds a log
// thread, so records queue up behind it.
class HeldWork : public SimpleWork {
public:
    void Describe(ptree& tree) const override {
        std::unique_lock lock(mutex_);
        ++describing_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
        tree.put("name", "HeldWork");
    }
    WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success, nullptr); }
    void OnCancel() override {}

    bool WaitDescribing(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return describing_ >= count; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable int describing_ = 0;
    bool released_ = false;
};

// Queued records hold the finished works they describe: the queue is bounded,
// and a reporter that finds it full waits for a place, yet never longer than
// the bound's wait, so a log pool that is stuck cannot hang the transfer.
TEST_F(LogManagerTest, TheBacklogOfRecordsIsBoundedWithoutHangingAReporter) {
    auto held = std::make_shared<HeldWork>();
    auto probe = std::make_shared<ProbeWork>();
    const WorkStatus done(WorkResult::Success, nullptr);
    {
        auto manager = std::make_unique<JsonWorkLogManager>(
            kDefault | kLogCompleteKind, "logs", &filesystem_, [] { return kMoment; }, 3);
        // Both log threads are held, each by one record; one more waits.
        for (int i = 0; i < 3; ++i)
            manager->GetCompleteCallback(false).OnWorkComplete(held, done);
        ASSERT_TRUE(held->WaitDescribing(2));
        EXPECT_EQ(manager->GetBacklog(), 3u);

        // Full: this reporter waits for a place and, none coming, posts anyway.
        const auto before = std::chrono::steady_clock::now();
        testsupport::FinishesWithin(std::chrono::seconds(10),
                                    [&] { manager->GetCompleteCallback(false).OnWorkComplete(probe, done); });
        EXPECT_GE(std::chrono::steady_clock::now() - before, WorkLogManager::kBacklogWait);
        EXPECT_EQ(manager->GetBacklog(), 4u);

        held->Release();
        // Places come back as records are built, and then reporters wait no more.
        for (int i = 0; i < 20; ++i)
            manager->GetCompleteCallback(false).OnWorkComplete(probe, done);
    }
    EXPECT_EQ(LogRecords().size(), 24u);
}

TEST_F(LogManagerTest, LinesOfConcurrentRecordsNeverInterleave) {
    constexpr int kRecords = 200;
    const std::string filler(300, 'x');
    {
        auto manager = Manager(kDefault);
        for (int i = 0; i < kRecords; ++i)
            TrackRecord(*manager, 1, filler + std::to_string(i));
    }
    const auto records = LogRecords();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kRecords));
    std::vector<bool> seen(kRecords, false);
    for (const auto& record : records) {
        ptree tree = testing::ParseJson(record);
        const std::string event = tree.get<std::string>("event");
        ASSERT_EQ(event.substr(0, filler.size()), filler);
        seen.at(std::stoi(event.substr(filler.size()))) = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kRecords);
}

}  // namespace
}  // namespace vrexa
