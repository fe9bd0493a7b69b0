// Stored transfers and the manager that finds them again, on the real store
// in a temporary folder.
#include "service/StoredTransfer.h"

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "service/StoredTransferFactory.h"
#include "service/TempFileTransferManager.h"
#include "service/tests/ServiceTestSupport.h"
#include "transfer/ManifestStore.h"
#include "transfer/TransferManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "work/AsioWorkManager.h"

namespace vrexa {
namespace {

using namespace vrexa::testing;
namespace fs = boost::filesystem;
using TS = TransferState;

const char* const kTransfers = "Quenlar/Vrexa/transfers";

// The stored file's text for params, as the store must write it (slashes
// escaped, one line).
std::string StoredText(const std::string& id, const std::string& versionId, const std::string& destPath) {
    std::string escaped;
    for (char c : destPath)
        escaped += c == '/' ? std::string("\\/") : std::string(1, c);
    return R"({"transferId":")" + id + R"(","partnerId":"N7","packageId":"P1","versionId":")" + versionId +
           R"(","destPath":")" + escaped + "\"}\n";
}

class StoredTransferTest : public ::testing::Test {
protected:
    StoredTransferTest() {
        behavior.filesystem = &filesystem;
        behavior.logManager = &log;
        behavior.auxiliaryWorkManager = &auxiliary;
        behavior.transferFactory = &factory;
        params.partnerId = "N7";
        params.packageId = "P1";
        destination = temp.Path() + "/dest";
    }

    std::shared_ptr<Transfer> Create() { return manager.Create(params, behavior); }
    // A new transfer, started into destination.
    std::shared_ptr<Transfer> Started() {
        auto transfer = Create();
        transfer->Initialize();
        ReportInitialized(transfer->GetWorkInterface(), package);
        EXPECT_EQ(transfer->Start(destination).state, TS::Transferring);
        return transfer;
    }
    static std::string Id(const std::shared_ptr<Transfer>& transfer) {
        return transfer->GetWorkInterface()->GetParams().transferId;
    }
    fs::path EntryPath(const std::string& id) const { return fs::path(temp.Path()) / kTransfers / (id + ".json"); }
    bool HasEntry(const std::string& id) const { return fs::exists(EntryPath(id)); }
    std::string Entry(const std::string& id) const {
        std::ifstream in(EntryPath(id).string(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void WriteEntry(const std::string& name, const std::string& text) const {
        fs::create_directories(fs::path(temp.Path()) / kTransfers);
        std::ofstream(EntryPath(name).string(), std::ios::binary) << text;
    }

    TestFolder temp;
    TestFilesystem filesystem{temp.Path()};
    RecordingLogManager log{&filesystem};
    AsioWorkManager auxiliary{1, true};
    ScriptedWorkflowFactory workflows;
    JsonTempFileManifestStore<TransferManifest> store{kTransfers, filesystem};
    StoredTransferFactory factory{&store, &workflows};
    TransferBehavior behavior;
    TransferParams params;
    TempFileTransferManager manager{&store};
    std::string destination;
    std::shared_ptr<PackageManifest> package = MakePackage("N7", "P1", "42", {{"run.exe", 100}});
};

TEST_F(StoredTransferTest, TheFirstStartStoresIdsAndTheAbsoluteNormalDestinationOnce) {
    auto transfer = Create();
    transfer->Initialize();
    ReportInitialized(transfer->GetWorkInterface(), package);
    const std::string id = Id(transfer);
    EXPECT_FALSE(HasEntry(id)) << "stored before it started";

    // A relative destination would mean another folder to a later process.
    const fs::path relative = fs::relative(fs::path(destination), fs::current_path());
    ASSERT_TRUE(relative.is_relative());
    const TransferStatus started = transfer->Start(relative.string() + "/./");
    EXPECT_EQ(started.state, TS::Transferring);
    EXPECT_EQ(started.destPath, destination);
    EXPECT_EQ(Entry(id), StoredText(id, "42", destination));

    // Neither a repeated start nor the end of the download touches the entry.
    EXPECT_EQ(transfer->Start(destination).state, TS::Transferring);
    ReportComplete(transfer->GetWorkInterface(), 100);
    EXPECT_EQ(transfer->Update().state, TS::Complete);
    EXPECT_EQ(Entry(id), StoredText(id, "42", destination));
}

// What happens to the entry of a started transfer, by what the client does.
struct EntryCase {
    const char* name;
    std::function<void(Transfer&, const std::shared_ptr<TransferWorkInterface>&)> act;
    TS state;
    bool kept;
};

void PrintTo(const EntryCase& entryCase, std::ostream* out) { *out << entryCase.name; }

class StoredEntryTest : public StoredTransferTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(StoredEntryTest, IsKeptBySuspendingAndCompletingAndRemovedByCancelling) {
    auto transfer = Started();
    const std::string id = Id(transfer);
    ASSERT_TRUE(HasEntry(id));
    GetParam().act(*transfer, transfer->GetWorkInterface());
    EXPECT_EQ(transfer->Update().state, GetParam().state);
    EXPECT_EQ(HasEntry(id), GetParam().kept);
    // The removal prunes the folders it leaves empty, up to the temporary folder.
    if (!GetParam().kept) {
        EXPECT_FALSE(fs::exists(fs::path(temp.Path()) / "Quenlar"));
    }
}

const EntryCase kEntryCases[] = {
    {"Suspend", [](Transfer& t, const std::shared_ptr<TransferWorkInterface>&) { t.Suspend(); }, TS::Suspended, true},
    {"Pause", [](Transfer& t, const std::shared_ptr<TransferWorkInterface>&) { t.Pause(); }, TS::Paused, true},
    {"Complete", [](Transfer&, const std::shared_ptr<TransferWorkInterface>& door) { ReportComplete(door, 100); },
     TS::Complete, true},
    {"CompleteThenSuspend",
     [](Transfer& t, const std::shared_ptr<TransferWorkInterface>& door) {
         ReportComplete(door, 100);
         t.Suspend();
     },
     TS::Suspended, true},
    {"SuspendThenCancel",
     [](Transfer& t, const std::shared_ptr<TransferWorkInterface>&) {
         t.Suspend();
         t.Cancel(true);
     },
     TS::Suspended, true},
    {"Cancel", [](Transfer& t, const std::shared_ptr<TransferWorkInterface>&) { t.Cancel(false); }, TS::Cancelled,
     false},
    {"CancelRemovingFiles", [](Transfer& t, const std::shared_ptr<TransferWorkInterface>&) { t.Cancel(true); },
     TS::Cancelled, false},
    {"CompleteThenCancel",
     [](Transfer& t, const std::shared_ptr<TransferWorkInterface>& door) {
         ReportComplete(door, 100);
         t.Cancel(false);
     },
     TS::Complete, false},
    {"SuspendRestoreCancel",
     [](Transfer& t, const std::shared_ptr<TransferWorkInterface>&) {
         t.Suspend();
         t.Restore();
         t.Cancel(false);
     },
     TS::Cancelled, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, StoredEntryTest, ::testing::ValuesIn(kEntryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoredTransferTest, AnotherManagerRestoresAStoredTransferSuspendedAndResumesItIntoItsDestination) {
    const std::string id = Id(Started());

    TempFileTransferManager later(&store);
    std::shared_ptr<Transfer> restored = later.Find(id, behavior);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(later.Find(id, behavior), restored);
    const TransferParams stored = restored->GetWorkInterface()->GetParams();
    EXPECT_TRUE(stored.restored);
    EXPECT_EQ(stored.versionId, "42");
    const TransferStatus status = restored->Update();
    EXPECT_EQ(status.state, TS::Suspended);
    EXPECT_EQ(status.destPath, destination);

    EXPECT_EQ(restored->Restore().state, TS::Initializing);
    ReportInitialized(restored->GetWorkInterface(), package);
    // "?" keeps the stored destination; another one is refused.
    EXPECT_EQ(restored->Start(temp.Path() + "/elsewhere").state, TS::Initialized);
    EXPECT_EQ(restored->Start("?").state, TS::Transferring);
    EXPECT_EQ(Entry(id), StoredText(id, "42", destination));
    restored->Cancel(false);
    EXPECT_FALSE(HasEntry(id));
}

TEST_F(StoredTransferTest, FindRestoresOnlyAnEntryOfATransferIdThatNamesItself) {
    const std::string id = "0123456789abcdef0123456789abcdef";
    const std::string other = "fedcba9876543210fedcba9876543210";
    const std::string good = StoredText(id, "42", destination);
    WriteEntry(other, good);  // a file whose content names another id
    WriteEntry("0123456789ABCDEF0123456789ABCDEF", StoredText("0123456789ABCDEF0123456789ABCDEF", "42", destination));
    WriteEntry("..", StoredText("..", "42", destination));
    const std::string noDestination =
        R"({"transferId":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","partnerId":"N7","packageId":"P1","versionId":"42"})";
    WriteEntry("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", noDestination + "\n");

    for (const std::string& asked : {other, std::string("0123456789ABCDEF0123456789ABCDEF"), std::string(".."),
                                     std::string("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), id, std::string("")}) {
        EXPECT_EQ(manager.Find(asked, behavior), nullptr) << asked;
    }
    // An extra member is ignored.
    WriteEntry(id, good.substr(0, good.size() - 2) + R"(,"extra":"x"})" + "\n");
    auto restored = manager.Find(id, behavior);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->Update().destPath, destination);
}

TEST_F(StoredTransferTest, ShutdownSuspendsEveryStoredTransferKeepingItsEntryAndEndsFindingInTheStore) {
    auto started = Started();
    auto initializing = Create();
    initializing->Initialize();
    const std::string restoredId = "0123456789abcdef0123456789abcdef";
    WriteEntry(restoredId, StoredText(restoredId, "42", destination));
    auto restored = manager.Find(restoredId, behavior);
    ASSERT_NE(restored, nullptr);
    const std::string waitingId = "fedcba9876543210fedcba9876543210";
    WriteEntry(waitingId, StoredText(waitingId, "42", destination));

    manager.Shutdown();

    EXPECT_EQ(started->Update().state, TS::Suspended);
    EXPECT_EQ(initializing->Update().state, TS::Cancelled);
    EXPECT_EQ(restored->Update().state, TS::Suspended);
    EXPECT_TRUE(HasEntry(Id(started)));
    EXPECT_FALSE(HasEntry(Id(initializing)));
    EXPECT_TRUE(HasEntry(restoredId));
    // A transfer rebuilt now would never be suspended.
    EXPECT_EQ(manager.Find(waitingId, behavior), nullptr);
    EXPECT_EQ(manager.Find(restoredId, behavior), nullptr);
}

// The real store, and a probe of whether the transfer's lock is free while
// the store works: another thread must be able to take it.
class ProbingStore : public ManifestStore<TransferManifest> {
public:
    explicit ProbingStore(ManifestStore<TransferManifest>& store) : store_(store) {}

    bool Read(const std::string& id, TransferManifest& manifest) override { return store_.Read(id, manifest); }
    bool Write(const std::string& id, TransferManifest& manifest) override {
        Probe();
        return store_.Write(id, manifest);
    }
    bool Remove(const std::string& id) override {
        Probe();
        return store_.Remove(id);
    }

    // Whether each probe so far found the lock free; waits for probes that
    // found it held until it was released.
    std::vector<bool> Results() {
        std::vector<bool> results;
        for (auto& probe : probes_)
            results.push_back(probe.get());
        probes_.clear();
        return results;
    }

    std::shared_ptr<Transfer> transfer;

private:
    void Probe() {
        std::shared_ptr<Transfer> probed = transfer;
        auto taken = std::async(std::launch::async, [probed] { TransferLock lock(probed->GetMutex()); });
        const bool free = taken.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        // Kept, not waited for here: a probe that found the lock held ends
        // only once the caller lets go of it.
        probes_.push_back(std::async(std::launch::deferred, [free, taken = std::move(taken)]() mutable {
            taken.get();
            return free;
        }));
    }

    ManifestStore<TransferManifest>& store_;
    std::vector<std::future<bool>> probes_;
};

TEST_F(StoredTransferTest, TheStoreIsWrittenAndCleanedWithTheTransfersLockReleased) {
    ProbingStore probing(store);
    StoredTransferFactory probingFactory(&probing, &workflows);
    behavior.transferFactory = &probingFactory;
    auto transfer = Create();
    probing.transfer = transfer;
    transfer->Initialize();
    ReportInitialized(transfer->GetWorkInterface(), package);
    transfer->Start(destination);
    EXPECT_TRUE(HasEntry(Id(transfer)));
    transfer->Cancel(true);
    EXPECT_FALSE(HasEntry(Id(transfer)));
    EXPECT_EQ(probing.Results(), (std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace vrexa
