#include <ostream>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "analytics/JsonWorkLogManager.h"
#include "analytics/TransferEvent.h"
#include "analytics/tests/AnalyticsTestSupport.h"
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
