// The service core with its real components (store, manager, log, pools) in
// a temporary folder, its workflows scripted by the tests.
#include "service/TransferServiceCore.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <optional>
#include <mutex>
#include <sstream>
#include <thread>

#include <boost/filesystem.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include "service/TransferMonitorCallback.h"
#include "service/TransferMonitorImpl.h"
#include "service/TransferOperations.h"
#include "service/tests/ServiceTestSupport.h"
#include "tests/support/Eventually.h"
#include "transfer/OsVersion.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"

namespace vrexa {
namespace {

using namespace vrexa::testing;
namespace fs = boost::filesystem;
using TS = TransferState;
using TE = TransferError;

class CoreTest : public ::testing::Test {
protected:
    CoreTest() {
        settings.transfersFolder = "Quenlar/Vrexa/transfers";
        settings.logsFolder = "Quenlar/Vrexa/logs";
        // Nothing listens there: the scripted workflows never fetch, and the
        // analytics posts of the events fail at once.
        settings.manifestHost = "127.0.0.1:1";
        settings.geolocationUrl = "http://127.0.0.1:1/geo-location";
        settings.transferAnalyticsUrl = "http://127.0.0.1:1";
        settings.eventsAnalyticsUrl = "http://127.0.0.1:1";
        settings.analyticsRetryLimit = 0;
        destination = temp.Path() + "/dest";
    }

    std::unique_ptr<TransferServiceCore> MakeCore() {
        auto transfers = std::make_unique<ScriptedWorkflowFactory>();
        auto verifications = std::make_unique<ScriptedWorkflowFactory>();
        transferWorkflows = transfers.get();
        verifyWorkflows = verifications.get();
        return std::make_unique<TransferServiceCore>(settings, std::move(transfers), std::move(verifications),
                                                     &filesystem);
    }

    // The work interface of the transfer whose workflow factory made the
    // last workflow.
    static std::shared_ptr<TransferWorkInterface> LastDoor(ScriptedWorkflowFactory* factory) {
        return factory->Last()->GetTransfer();
    }

    bool HasEntry(const std::string& id) const {
        return fs::exists(fs::path(temp.Path()) / settings.transfersFolder / (id + ".json"));
    }

    std::vector<std::string> LogFiles() const {
        std::vector<std::string> files;
        const fs::path folder = fs::path(temp.Path()) / settings.logsFolder;
        if (fs::exists(folder))
            for (const auto& entry : fs::directory_iterator(folder))
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }

    // Lines of the log files holding text (a line being written may be
    // cut short).
    std::size_t CountInLog(const std::string& text) const {
        std::size_t count = 0;
        for (const std::string& file : LogFiles()) {
            std::ifstream in(file);
            for (std::string line; std::getline(in, line);)
                count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }

    // Every log record, without the time prefix; only once every writer is done.
    std::vector<boost::property_tree::ptree> LogRecords() const {
        std::vector<boost::property_tree::ptree> records;
        for (const std::string& file : LogFiles()) {
            std::ifstream in(file);
            for (std::string line; std::getline(in, line);) {
                std::istringstream json(line.substr(line.find("] ") + 2));
                boost::property_tree::ptree record;
                boost::property_tree::read_json(json, record);
                records.push_back(record);
            }
        }
        return records;
    }

    TestFolder temp;
    TestFilesystem filesystem{temp.Path()};
    TransferSettings settings;
    ScriptedWorkflowFactory* transferWorkflows = nullptr;
    ScriptedWorkflowFactory* verifyWorkflows = nullptr;
    std::string destination;
    std::shared_ptr<PackageManifest> package = MakePackage("N7", "P1", "42", {{"run.exe", 100}});
};

TEST_F(CoreTest, TransfersReportToTheNullAnalyticsManagerWhenAnalyticsAreOff) {
    {
        auto core = MakeCore();
        EXPECT_NE(core->GetBehavior().eventManager, core->GetVerifyBehavior().eventManager);
    }
    settings.analyticsEnabled = false;
    auto core = MakeCore();
    ASSERT_NE(core->GetBehavior().eventManager, nullptr);
    EXPECT_EQ(core->GetBehavior().eventManager, core->GetVerifyBehavior().eventManager);
}

TEST_F(CoreTest, TheStartRecordIsWrittenOncePerServiceBeforeAnyTransferExists) {
    for (std::size_t service = 1; service <= 2; ++service) {
        auto core = MakeCore();
        // Written with no transfer made yet, as nothing but the core exists.
        testsupport::Eventually([&] { return CountInLog(R"("event":"ServiceInitialize")") >= service; });
        ASSERT_EQ(CountInLog(R"("event":"ServiceInitialize")"), service);
        core->Operations().Transfer("N7", "P1");
        core->Operations().Transfer("N7", "P1", "42");
    }
    // Both services are gone: every record is written.
    std::size_t starts = 0;
    std::size_t transferRecords = 0;
    for (const auto& record : LogRecords()) {
        const std::string event = record.get<std::string>("event", "");
        if (event == "ServiceInitialize") {
            ++starts;
            EXPECT_EQ(record.get<std::string>("vrexaVersion"), "1.3.4");
            EXPECT_EQ(record.get<std::string>("osVersion"), GetOsVersion());
            EXPECT_EQ(record.size(), 3u);
        } else if (record.get_child_optional("params.transferId")) {
            ++transferRecords;
        }
    }
    EXPECT_EQ(starts, 2u);
    // Each transfer raised at least its initialize and its cancel event.
    EXPECT_GE(transferRecords, 8u);
}

TEST_F(CoreTest, EveryCallCreatesAnotherInitializingTransferAndUnknownIdsAreAnsweredWithoutError) {
    auto core = MakeCore();
    TransferOperations& service = core->Operations();
    const TransferStatus first = service.Transfer("N7", "P1");
    const TransferStatus second = service.Transfer("N7", "P1");
    EXPECT_NE(first.transferId, second.transferId);
    for (const auto& status : {first, second}) {
        EXPECT_EQ(status.state, TS::Initializing);
        EXPECT_EQ(service.Update(status.transferId).state, TS::Initializing);
    }
    EXPECT_EQ(transferWorkflows->Count(), 2u);
    EXPECT_EQ(verifyWorkflows->Count(), 0u);

    // Neither a well-formed id nobody made nor a name that is no id at all
    // reaches a transfer or a file.
    for (const std::string id : {"0123456789abcdef0123456789abcdef", "../../etc/passwd", ""}) {
        for (const TransferStatus& status : {service.Start(id, destination), service.Start(id), service.Update(id),
                                             service.Pause(id), service.Resume(id), service.Retry(id),
                                             service.Suspend(id), service.Restore(id), service.Cancel(id, true)}) {
            EXPECT_EQ(status.transferId, id);
            EXPECT_EQ(status.partnerId, "?");
            EXPECT_EQ(status.state, TS::None);
            EXPECT_EQ(status.error, TE::None);
        }
        EXPECT_FALSE(service.CanTransferTo(id, destination));
    }
}

TEST_F(CoreTest, StartedTransfersOutliveTheServiceAndTheNextServiceFindsThemInTheStore) {
    std::string kept, unstarted, cancelled;
    {
        auto core = MakeCore();
        TransferOperations& service = core->Operations();
        kept = service.Transfer("N7", "P1").transferId;
        ReportInitialized(LastDoor(transferWorkflows), package);
        EXPECT_EQ(service.Start(kept, destination).state, TS::Transferring);
        unstarted = service.Transfer("N7", "P1").transferId;
        cancelled = service.Transfer("N7", "P1").transferId;
        ReportInitialized(LastDoor(transferWorkflows), package);
        service.Start(cancelled, destination + "-2");
        EXPECT_TRUE(HasEntry(cancelled));
        EXPECT_EQ(service.Cancel(cancelled, false).state, TS::Cancelled);
        EXPECT_FALSE(HasEntry(cancelled));
    }
    EXPECT_TRUE(HasEntry(kept));
    EXPECT_FALSE(HasEntry(unstarted));

    auto core = MakeCore();
    TransferOperations& service = core->Operations();
    const TransferStatus restored = service.Update(kept);
    EXPECT_EQ(restored.state, TS::Suspended);
    EXPECT_EQ(restored.versionId, "42");
    EXPECT_EQ(restored.destPath, destination);
    EXPECT_EQ(service.Update(unstarted).state, TS::None);
    EXPECT_EQ(service.Update(cancelled).state, TS::None);

    EXPECT_EQ(service.Restore(kept).state, TS::Initializing);
    ReportInitialized(LastDoor(transferWorkflows), package);
    EXPECT_EQ(service.Start(kept).state, TS::Transferring);
    ReportComplete(LastDoor(transferWorkflows), 100);
    EXPECT_EQ(service.Update(kept).state, TS::Complete);
}

// One writer per destination folder, from Start until the transfer ends or is
// suspended; however the folder is spelled.
TEST_F(CoreTest, ASecondTransferIntoAHeldDestinationFailsNamingTheHolder) {
    fs::create_directories(destination);
    fs::create_directory_symlink(destination, temp.Path() + "/alias");
    auto core = MakeCore();
    TransferOperations& service = core->Operations();
    auto initialized = [&] {
        const std::string id = service.Transfer("N7", "P1").transferId;
        ReportInitialized(LastDoor(transferWorkflows), package);
        return id;
    };
    const std::string holder = initialized();
    ASSERT_EQ(service.Start(holder, destination).state, TS::Transferring);

    for (const std::string& spelling : {destination, destination + "/sub/..", temp.Path() + "/alias"}) {
        const std::string second = initialized();
        const TransferStatus refused = service.Start(second, spelling);
        EXPECT_NE(refused.state, TS::Transferring) << spelling;
        EXPECT_TRUE(refused.IsFinal()) << spelling;
        EXPECT_EQ(refused.error, TE::FileAccessError) << spelling;
        EXPECT_NE(refused.message.find("in use by transfer " + holder), std::string::npos) << refused.message;
        // Never started, so never stored: nothing to resume by mistake.
        EXPECT_FALSE(HasEntry(second));
    }
    const std::string elsewhere = initialized();
    EXPECT_EQ(service.Start(elsewhere, destination + "-other").state, TS::Transferring);

    // Suspending lets go; the next one in takes the folder and holds it.
    EXPECT_EQ(service.Suspend(holder).state, TS::Suspended);
    const std::string next = initialized();
    EXPECT_EQ(service.Start(next, destination).state, TS::Transferring);
    auto nextDoor = LastDoor(transferWorkflows);
    EXPECT_EQ(service.Restore(holder).state, TS::Initializing);
    ReportInitialized(LastDoor(transferWorkflows), package);
    const TransferStatus resumed = service.Start(holder);
    EXPECT_EQ(resumed.error, TE::FileAccessError);
    EXPECT_NE(resumed.message.find("in use by transfer " + next), std::string::npos) << resumed.message;

    // Complete lets go as well.
    ReportComplete(nextDoor, 100);
    ASSERT_EQ(service.Update(next).state, TS::Complete);
    const std::string last = initialized();
    EXPECT_EQ(service.Start(last, destination).state, TS::Transferring);
}

TEST_F(CoreTest, AVerificationStartsItselfIntoItsDestinationAndIsNeverStored) {
    std::string id;
    {
        auto core = MakeCore();
        const fs::path relative = fs::relative(fs::path(destination), fs::current_path());
        const TransferStatus created = core->Verify("N7", "P1", "42", (relative / "sub" / "..").string());
        id = created.transferId;
        EXPECT_EQ(created.state, TS::Initializing);
        EXPECT_EQ(created.destPath, destination);
        EXPECT_EQ(verifyWorkflows->Count(), 1u);
        EXPECT_EQ(transferWorkflows->Count(), 0u);

        TransferOperations& service = core->Operations();
        ReportInitialized(LastDoor(verifyWorkflows), package);
        EXPECT_EQ(service.Update(id).state, TS::Transferring);
        EXPECT_EQ(verifyWorkflows->Last()->Calls(), (std::vector<std::string>{"Start", "Pause", "Resume"}));
        EXPECT_EQ(service.Pause(id).state, TS::Paused);
        EXPECT_EQ(service.Resume(id).state, TS::Transferring);
        EXPECT_FALSE(HasEntry(id));

        // Without a destination it waits for one, as any transfer does.
        const std::string waiting = core->Verify("N7", "P1", "42", "").transferId;
        ReportInitialized(LastDoor(verifyWorkflows), package);
        EXPECT_EQ(service.Update(waiting).state, TS::Initialized);
        EXPECT_EQ(service.Start(waiting, destination).state, TS::Transferring);

        ReportComplete(LastDoor(verifyWorkflows), 100);
        EXPECT_EQ(service.Update(waiting).state, TS::Complete);
    }
    EXPECT_FALSE(HasEntry(id));
    auto core = MakeCore();
    EXPECT_EQ(core->Operations().Update(id).state, TS::None);
}

// Waits for the monitor to report the end of one transfer.
class Follower : public TransferMonitorCallback {
public:
    void OnProgress(const TransferStatus&) override {}
    void OnInitialized(const TransferStatus&) override {}
    void OnError(const TransferStatus&) override {}
    void OnEnd(const TransferStatus& status) override {
        std::lock_guard<std::mutex> guard(mutex_);
        ended_ = status;
        changed_.notify_all();
    }
    std::optional<TransferStatus> WaitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [this] { return ended_.has_value(); });
        return ended_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<TransferStatus> ended_;
};

// The monitor polls, two client threads pause, resume and poll, and the
// "works" report, all at once; every transfer must still end Complete and the
// monitor see it end. Run under the thread sanitizer this also checks that
// they share nothing unguarded.
TEST_F(CoreTest, TransfersCompleteWhileClientsPauseResumeAndPollAndTheMonitorFollows) {
    auto core = MakeCore();
    TransferOperations& service = core->Operations();
    constexpr int kTransfers = 4;
    std::vector<std::string> ids;
    std::vector<std::shared_ptr<TransferWorkInterface>> doors;
    for (int i = 0; i < kTransfers; ++i) {
        ids.push_back(service.Transfer("N7", "P1").transferId);
        doors.push_back(LastDoor(transferWorkflows));
    }
    std::vector<Follower> followers(kTransfers);
    TransferMonitorImpl monitor(&service, std::chrono::milliseconds(1));
    for (int i = 0; i < kTransfers; ++i)
        monitor.AddCallback(ids[i], &followers[i]);
    monitor.Start();

    std::atomic<bool> stop{false};
    auto client = [&] {
        while (!stop.load()) {
            for (const std::string& id : ids) {
                service.Pause(id);
                service.Update(id);
                service.Resume(id);
            }
        }
    };
    std::thread first(client), second(client);
    for (int i = 0; i < kTransfers; ++i) {
        ReportInitialized(doors[i], package);
        // A pause between initialization and start would leave it paused:
        // start until it takes.
        testsupport::Eventually(
            [&] { return service.Start(ids[i], destination + "/" + std::to_string(i)).state != TS::Initialized; });
        monitor.AddCallback(ids[i], &followers[i]);
        for (int step = 0; step < 100; ++step)
            doors[i]->GetProgress()->AddDownloaded(1);
    }
    for (int i = 0; i < kTransfers; ++i) {
        auto progress = doors[i]->GetProgress();
        progress->AddCompleted(100);
        progress->AddVerified(100);
        doors[i]->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
    }
    stop = true;
    first.join();
    second.join();
    for (int i = 0; i < kTransfers; ++i) {
        EXPECT_EQ(service.Update(ids[i]).state, TS::Complete) << i;
        const std::optional<TransferStatus> ended = followers[i].WaitForEnd();
        ASSERT_TRUE(ended.has_value()) << i;
        EXPECT_EQ(ended->state, TS::Complete) << i;
        EXPECT_EQ(ended->downloadedBytes, 100u) << i;
    }
}

}  // namespace
}  // namespace vrexa
