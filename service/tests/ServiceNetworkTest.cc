// The whole engine through its service: a package published with the
// publisher and served by the local download network, followed by the monitor
// as the updater follows it.
#include "service/TransferService.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "service/TransferMonitorCallback.h"
#include "service/TransferMonitorImpl.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestFolder.h"
#include "tests/support/network/LocalNetwork.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using TS = TransferState;
using TE = TransferError;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One published package on one running network for the whole suite.
class ServiceNetworkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new testsupport::TestFolder();
        root_ = new fs::path(folder_->Path());
        files_ = new std::map<std::string, std::string>();
        std::mt19937 random(7);
        const std::map<std::string, std::size_t> sizes = {
            {"setup", 70000}, {"data/a b.bin", 1500001}, {"data/\xC3\xA5.txt", 9000}, {"empty", 0}};
        for (const auto& [path, size] : sizes) {
            std::string data(size, '\0');
            for (char& c : data)
                c = static_cast<char>(random());
            fs::create_directories((*root_ / "source" / path).parent_path());
            std::ofstream(*root_ / "source" / path, std::ios::binary) << data;
            (*files_)[path] = data;
        }
        const auto published = testsupport::RunPublisher({"--partner", "p1", "--package", "k1", "--version", "v1",
                                                          "--name", "Sample", "--run", "setup", "--chunk-size", "65536",
                                                          (*root_ / "source").string(), (*root_ / "tree").string()});
        ASSERT_EQ(published.exitCode, 0) << published.err;
        testsupport::LocalNetworkOptions options;
        options.tree = *root_ / "tree";
        options.nodes = 2;
        options.partners = {"p1"};
        network_ = new testsupport::LocalNetwork(options);
        // The service keeps its transfers and logs under the user's cache
        // folder: this suite's own. Set before any service thread runs.
        // The folder itself exists, as a user's cache folder does.
        fs::create_directories(*root_ / "cache");
        ::setenv("XDG_CACHE_HOME", (*root_ / "cache").c_str(), 1);
    }

    static void TearDownTestSuite() {
        delete network_;
        network_ = nullptr;
        delete root_;
        root_ = nullptr;
        delete folder_;
        folder_ = nullptr;
        delete files_;
        files_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(network_, nullptr);
        settings_.manifestHost = network_->ManifestHost();
        settings_.geolocationUrl = network_->GeolocationUrl();
        settings_.transferAnalyticsUrl = network_->TransferAnalyticsUrl();
        settings_.eventsAnalyticsUrl = network_->EventsAnalyticsUrl();
        settings_.transfersFolder = "vrexa-test/transfers";
        settings_.logsFolder = "vrexa-test/logs";
        dest_ = *root_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    // The same package served slowly (every chunk request waits a tenth of a
    // second on its node), for the tests that must act on a download while it
    // runs: the suite's nodes deliver the package in a few milliseconds, less
    // than a busy machine may take between two steps of a test.
    std::unique_ptr<testsupport::LocalNetwork> UseSlowNetwork() {
        testsupport::LocalNetworkOptions options;
        options.tree = *root_ / "tree";
        options.nodes = 0;
        options.faulty = 1;
        options.faults = {R"({"delay": 0.1})"};
        options.partners = {"p1"};
        auto slow = std::make_unique<testsupport::LocalNetwork>(options);
        settings_.manifestHost = slow->ManifestHost();
        settings_.geolocationUrl = slow->GeolocationUrl();
        settings_.transferAnalyticsUrl = slow->TransferAnalyticsUrl();
        settings_.eventsAnalyticsUrl = slow->EventsAnalyticsUrl();
        return slow;
    }

    bool HasEntry(const std::string& id) const {
        return fs::exists(*root_ / "cache" / settings_.transfersFolder / (id + ".json"));
    }

    void ExpectPackageIn(const fs::path& folder) const {
        for (const auto& [path, data] : *files_) {
            ASSERT_TRUE(fs::exists(folder / path)) << path;
            EXPECT_TRUE(ReadFile(folder / path) == data) << path << " differs";
        }
    }

    static testsupport::TestFolder* folder_;
    static fs::path* root_;
    static std::map<std::string, std::string>* files_;
    static testsupport::LocalNetwork* network_;
    TransferSettings settings_;
    fs::path dest_;
};

testsupport::TestFolder* ServiceNetworkTest::folder_ = nullptr;
fs::path* ServiceNetworkTest::root_ = nullptr;
std::map<std::string, std::string>* ServiceNetworkTest::files_ = nullptr;
testsupport::LocalNetwork* ServiceNetworkTest::network_ = nullptr;

// Follows one transfer through the monitor as the updater does: starts it
// into its destination once initialized (registering again), and reports its
// end.
class Follower : public TransferMonitorCallback {
public:
    Follower(TransferService& service, std::string id, std::string dest)
        : service_(service), id_(std::move(id)), dest_(std::move(dest)) {}

    // Set before following: the download is paused as soon as it starts.
    bool pauseAfterStart = false;

    void Follow(TransferMonitorImpl& monitor) {
        monitor_ = &monitor;
        monitor.AddCallback(id_, this);
    }

    void OnProgress(const TransferStatus&) override {}
    void OnInitialized(const TransferStatus&) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++initialized_;
        }
        if (!dest_.empty() && dest_ != "?") fs::create_directories(dest_);
        service_.Start(id_, dest_);
        if (pauseAfterStart) service_.Pause(id_);
        monitor_->AddCallback(id_, this);
        std::lock_guard<std::mutex> guard(mutex_);
        started_ = true;
        changed_.notify_all();
    }
    void OnError(const TransferStatus& status) override { End(status); }
    void OnEnd(const TransferStatus& status) override { End(status); }

    std::optional<TransferStatus> WaitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(120), [this] { return end_.has_value(); });
        return end_;
    }
    bool WaitForStart() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return started_; });
    }
    int Initialized() {
        std::lock_guard<std::mutex> guard(mutex_);
        return initialized_;
    }

private:
    void End(const TransferStatus& status) {
        std::lock_guard<std::mutex> guard(mutex_);
        end_ = status;
        changed_.notify_all();
    }

    TransferService& service_;
    TransferMonitorImpl* monitor_ = nullptr;
    const std::string id_;
    const std::string dest_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<TransferStatus> end_;
    int initialized_ = 0;
    bool started_ = false;
};

// One transfer followed by a monitor of its own, which ends before the
// follower goes.
struct Followed {
    Followed(TransferService& service, const std::string& id, const std::string& dest, bool pauseAfterStart = false)
        : follower(service, id, dest), monitor(&service) {
        follower.pauseAfterStart = pauseAfterStart;
        follower.Follow(monitor);
        monitor.Start();
    }

    Follower follower;
    TransferMonitorImpl monitor;
};

TEST_F(ServiceNetworkTest, APackageArrivesBitIdenticalAndStaysStoredOnceComplete) {
    TransferService service(settings_);
    const TransferStatus created = service.Transfer("p1", "k1");
    ASSERT_EQ(created.state, TS::Initializing);
    Followed followed(service, created.transferId, dest_.string());
    const std::optional<TransferStatus> end = followed.follower.WaitForEnd();
    ASSERT_TRUE(end.has_value());
    ASSERT_EQ(end->state, TS::Complete) << end->message;
    EXPECT_EQ(end->error, TE::None);
    EXPECT_EQ(end->versionId, "v1");
    EXPECT_EQ(end->run, "setup");
    EXPECT_EQ(end->totalBytes, 1579001u);
    EXPECT_EQ(end->verifiedBytes, end->totalBytes);
    EXPECT_EQ(followed.follower.Initialized(), 1);
    ExpectPackageIn(dest_);
    EXPECT_TRUE(HasEntry(created.transferId));

    // Cancelling with removal takes the files and the entry.
    EXPECT_EQ(service.Cancel(created.transferId, true).state, TS::Complete);
    testsupport::Eventually([&] { return !fs::exists(dest_ / "setup") && !fs::exists(dest_ / "data"); });
    EXPECT_FALSE(fs::exists(dest_ / "setup"));
    EXPECT_FALSE(fs::exists(dest_ / "data"));
    EXPECT_FALSE(HasEntry(created.transferId));
}

TEST_F(ServiceNetworkTest, ASuspendedTransferIsFoundByTheNextServiceAndFinishedThere) {
    const auto slow = UseSlowNetwork();
    std::string id;
    {
        TransferService service(settings_);
        id = service.Transfer("p1", "k1", "v1").transferId;
        Followed followed(service, id, dest_.string());
        // Suspended as soon as it has begun downloading.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (service.Update(id).state != TS::Transferring && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_EQ(service.Suspend(id).state, TS::Suspended);
        // Written by whichever thread released the transfer's lock after the
        // start (here the monitor's), perhaps only just now.
        while (!HasEntry(id) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_TRUE(HasEntry(id));
    }
    TransferService service(settings_);
    const TransferStatus found = service.Update(id);
    EXPECT_EQ(found.state, TS::Suspended);
    EXPECT_EQ(found.destPath, dest_.string());
    EXPECT_EQ(service.Restore(id).state, TS::Initializing);
    Followed followed(service, id, "?");
    const std::optional<TransferStatus> end = followed.follower.WaitForEnd();
    ASSERT_TRUE(end.has_value());
    ASSERT_EQ(end->state, TS::Complete) << end->message;
    ExpectPackageIn(dest_);
}

TEST_F(ServiceNetworkTest, AVerificationChecksThePackageOnDiskWithoutWritingAndIsFollowedLikeAnyTransfer) {
    {
        TransferService service(settings_);
        Followed followed(service, service.Transfer("p1", "k1").transferId, dest_.string());
        const std::optional<TransferStatus> end = followed.follower.WaitForEnd();
        ASSERT_TRUE(end.has_value());
        ASSERT_EQ(end->state, TS::Complete);
    }
    const auto verify = [&](const std::string& dest) {
        TransferService service(settings_);
        const TransferStatus created = service.Verify("p1", "k1", "v1", dest);
        EXPECT_EQ(created.state, TS::Initializing);
        Followed followed(service, created.transferId, "");
        std::optional<TransferStatus> end = followed.follower.WaitForEnd();
        EXPECT_EQ(followed.follower.Initialized(), 0) << "a verification starts itself";
        EXPECT_FALSE(HasEntry(created.transferId));
        return end.value_or(TransferStatus());
    };
    const fs::file_time_type written = fs::last_write_time(dest_ / "data/a b.bin");

    const TransferStatus intact = verify(dest_.string());
    EXPECT_EQ(intact.state, TS::Complete) << intact.message;
    EXPECT_EQ(intact.verifiedBytes, 1579001u);
    EXPECT_EQ(intact.downloadedBytes, 0u);
    EXPECT_EQ(fs::last_write_time(dest_ / "data/a b.bin"), written);

    // One byte changed in the last chunk of the large file.
    {
        std::fstream file(dest_ / "data/a b.bin", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(1500000);
        file.put(static_cast<char>((*files_)["data/a b.bin"][1500000] ^ 1));
    }
    const TransferStatus changed = verify(dest_.string());
    EXPECT_EQ(changed.error, TE::ChecksumMismatch) << changed.message;
    EXPECT_EQ(ReadFile(dest_ / "data/a b.bin").size(), 1500001u);

    fs::remove(dest_ / "setup");
    const TransferStatus missing = verify(dest_.string());
    EXPECT_EQ(missing.error, TE::ChecksumMismatch) << missing.message;
    EXPECT_FALSE(fs::exists(dest_ / "setup"));
}

// Two clients pause, resume and poll the download many times while the
// monitor follows it. It must still arrive whole; under the thread
// sanitizer this also checks the service, transfers and works share nothing
// unguarded.
TEST_F(ServiceNetworkTest, ADownloadArrivesWholeWhileClientsPauseResumeAndPollIt) {
    const auto slow = UseSlowNetwork();
    TransferService service(settings_);
    const std::string id = service.Transfer("p1", "k1").transferId;
    // Held from the start, so the clients surely meet a running download.
    Followed followed(service, id, dest_.string(), true);
    ASSERT_TRUE(followed.follower.WaitForStart());
    std::atomic<int> pausedDownloads{0};
    auto client = [&] {
        for (int round = 0; round < 2000; ++round) {
            const bool resumed = service.Resume(id).state == TS::Transferring;
            service.Update(id);
            std::this_thread::yield();
            if (resumed && service.Pause(id).state == TS::Paused) ++pausedDownloads;
            service.Update(id);
        }
    };
    std::thread first(client), second(client);
    first.join();
    second.join();
    // A client's pause may be the last word: resume once they are done.
    service.Resume(id);
    const std::optional<TransferStatus> end = followed.follower.WaitForEnd();
    ASSERT_TRUE(end.has_value());
    ASSERT_EQ(end->state, TS::Complete) << end->message;
    ExpectPackageIn(dest_);
    // The clients did pause it while it was downloading.
    EXPECT_GT(pausedDownloads.load(), 0);
}

TEST_F(ServiceNetworkTest, TheServiceBuiltFromSettingsAnswersForIdsItDoesNotHold) {
    TransferService service(settings_);
    EXPECT_EQ(service.GetBehavior().manifestHost, settings_.manifestHost);
    const std::string id = "0123456789abcdef0123456789abcdef";
    const TransferStatus status = service.Pause(id);
    EXPECT_EQ(status.transferId, id);
    EXPECT_EQ(status.state, TS::None);
    EXPECT_EQ(status.error, TE::None);
    EXPECT_FALSE(service.CanTransferTo(id, dest_.string()));
}

}  // namespace
}  // namespace vrexa
