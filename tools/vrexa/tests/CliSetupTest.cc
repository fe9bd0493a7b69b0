#include "tools/vrexa/CliSetup.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>

#include "tests/support/TestFolder.h"
#include "tests/support/transfer/TempFolderFilesystem.h"
#include "transfer/ManifestStore.h"
#include "transfer/TransferManifest.h"

namespace vrexa::cli {
namespace {

using testsupport::TempFolderFilesystem;
using testsupport::TestFolder;

CliOptions Parse(const std::vector<std::string>& args) {
    return ParseCommandLine(
        args, [](const std::string&) { return std::nullopt; }, "/work");
}

TEST(CliSetupTest, SettingsTakeTheGivenValuesAndKeepTheEngineDefaultsOtherwise) {
    const TransferSettings defaults;
    const TransferSettings plain = SettingsFor(Parse(
        {"download", "--partner", "p", "--package", "q", "--host", "127.0.0.1:81", "--events-url", "http://e", "d"}));
    EXPECT_EQ(plain.manifestHost, "127.0.0.1:81");
    EXPECT_EQ(plain.eventsAnalyticsUrl, "http://e");
    EXPECT_EQ(plain.geolocationUrl, "http://e/geo-location");
    EXPECT_EQ(plain.transferThreads, defaults.transferThreads);
    EXPECT_EQ(plain.maxRunningWorks, defaults.maxRunningWorks);
    EXPECT_EQ(plain.parallelItems, defaults.parallelItems);
    EXPECT_EQ(plain.logMask, defaults.logMask);
    EXPECT_EQ(plain.transfersFolder, "Quenlar/Vrexa/transfers");
    EXPECT_EQ(plain.logsFolder, "Quenlar/Vrexa/logs");
    EXPECT_TRUE(plain.analyticsEnabled);
    EXPECT_EQ(plain.caFile, "");
    EXPECT_EQ(plain.rateLimit, 0u);

    const TransferSettings tuned =
        SettingsFor(Parse({"download", "--partner", "p", "--package", "q", "--threads", "7", "--parallel", "2",
                           "--log-mask", "5", "--transfer-analytics-url", "http://t", "--no-analytics", "--cacert",
                           "/etc/our-ca.pem", "--limit-rate", "500K", "d"}));
    EXPECT_EQ(tuned.caFile, "/etc/our-ca.pem");
    EXPECT_EQ(tuned.transferThreads, 7);
    EXPECT_EQ(tuned.maxRunningWorks, 7);
    EXPECT_EQ(tuned.parallelItems, 2);
    EXPECT_EQ(tuned.rateLimit, 500u * 1024);
    EXPECT_EQ(tuned.logMask, 5u);
    EXPECT_EQ(tuned.transferAnalyticsUrl, "http://t");
    EXPECT_FALSE(tuned.analyticsEnabled);
}

TEST(CliSetupTest, TrustedKeysAreReadInOrderAndABadOneNamesItsFile) {
    TestFolder folder;
    const std::string first =
        folder.Put("a.pub", "untrusted comment: a\nRWQBW/JEY8LUIgjmea+hb037nwSKg7sg2L9NV+DnW5GkENZgtCaMMCOB\n");
    const std::string second = folder.Put("b.pub", "RWQCW/JEY8LUIgjmea+hb037nwSKg7sg2L9NV+DnW5GkENZgtCaMMCOB\n");
    const CliOptions options =
        Parse({"download", "--partner", "p", "--package", "q", "--trusted-key", first, "--trusted-key=" + second, "d"});
    const TransferSettings settings = SettingsFor(options);
    ASSERT_EQ(settings.trustedKeys.size(), TransferSettings().trustedKeys.size() + 2);
    EXPECT_EQ(settings.trustedKeys.rbegin()[1], TestFolder::Content(first));
    EXPECT_EQ(settings.trustedKeys.back(), TestFolder::Content(second));
    // Relative to the working directory, like the destination.
    EXPECT_EQ(
        Parse({"download", "--partner", "p", "--package", "q", "--trusted-key", "k/../v.pub", "d"}).trustedKeyFiles,
        std::vector<std::string>{"/work/v.pub"});

    const std::string notKey = folder.Put("c.pub", "untrusted comment: c\nhello\n");
    const std::map<std::string, std::string> bad = {
        {folder / "missing.pub", "cannot read the trusted key " + (folder / "missing.pub")},
        {notKey, "the trusted key " + notKey + " is not a public key: "},
    };
    for (const auto& [file, message] : bad) {
        try {
            SettingsFor(Parse({"download", "--partner", "p", "--package", "q", "--trusted-key", file, "d"}));
            ADD_FAILURE() << file << " was taken";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind(message, 0), 0u) << error.what();
        }
    }
}

TransferParams Params(const std::string& id, const std::string& package, const std::string& dest) {
    TransferParams params;
    params.transferId = id;
    params.partnerId = "p1";
    params.packageId = package;
    params.versionId = "v1";
    params.destPath = dest;
    return params;
}

TEST(CliSetupTest, StoredTransfersAreTheReadableRecordsOfTheirOwnIdInIdOrder) {
    TestFolder temp;
    TempFolderFilesystem filesystem(temp.Path());
    const std::string folder = "Quenlar/Vrexa/transfers";
    const std::string first = "0000000000000000000000000000000a";
    const std::string second = "ffffffffffffffffffffffffffffff01";
    JsonTempFileManifestStore<TransferManifest> store(folder, filesystem);
    for (const TransferParams& params : {Params(second, "maps", "/srv/b"), Params(first, "game", "/srv/a")}) {
        TransferManifest manifest(params);
        ASSERT_TRUE(store.Write(params.transferId, manifest));
    }
    // A record under another transfer's name, a broken one, and files that
    // are no record at all.
    const std::string copied = "11111111111111111111111111111111";
    temp.Put(folder + "/" + copied + ".json", TestFolder::Content(temp / (folder + "/" + first + ".json")));
    temp.Put(folder + "/22222222222222222222222222222222.json", "{\"transferId\":");
    temp.Put(folder + "/notes.json", "{}");
    temp.Put(folder + "/33333333333333333333333333333333.json.tmp", "{}");

    const std::vector<TransferParams> stored = StoredTransfers(filesystem, folder);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(StoredTransferLine(stored[0]), first + "\tgame\tv1\t/srv/a");
    EXPECT_EQ(StoredTransferLine(stored[1]), second + "\tmaps\tv1\t/srv/b");
}

TEST(CliSetupTest, NoStoreFolderListsNothingAndNoTemporaryFolderIsAnError) {
    TestFolder temp;
    TempFolderFilesystem filesystem(temp.Path());
    EXPECT_TRUE(StoredTransfers(filesystem, "Quenlar/Vrexa/transfers").empty());
    TempFolderFilesystem nowhere("");
    EXPECT_THROW(StoredTransfers(nowhere, "Quenlar/Vrexa/transfers"), std::runtime_error);
}

TEST(CliSetupTest, AListedLineIsOneRecordWhateverTheValuesHold) {
    EXPECT_EQ(StoredTransferLine(Params("0123456789abcdef0123456789abcdef", "a\tb", "/srv/x\ny\rz")),
              "0123456789abcdef0123456789abcdef\ta b\tv1\t/srv/x y z");
}

TEST(CliSetupTest, AListedJsonObjectHoldsTheValuesEscaped) {
    EXPECT_EQ(StoredTransferJson(Params("0123456789abcdef0123456789abcdef", "a\"b", "/srv/x\ny"), true),
              "{\"transferId\":\"0123456789abcdef0123456789abcdef\",\"partnerId\":\"p1\",\"packageId\":\"a\\\"b\","
              "\"versionId\":\"v1\",\"dest\":\"/srv/x\\ny\",\"running\":true}");
}

TEST(CliSetupTest, ARunningTransferIsMarkedInItsLine) {
    EXPECT_EQ(StoredTransferLine(Params("0123456789abcdef0123456789abcdef", "a", "/srv/x"), true),
              "0123456789abcdef0123456789abcdef\ta\tv1\t/srv/x\trunning");
}

// Stored entries look the same whatever became of their transfer (complete
// under an older tool, failed, suspended): what decides is whether one is
// running now and how long ago it was stored.
struct PruneCase {
    std::string name;
    int storedDaysAgo;
    bool running;
    std::optional<int> olderThanDays;
    bool removed;
};

class PruneTest : public ::testing::TestWithParam<PruneCase> {};

TEST_P(PruneTest, ForgetsWhatIsNotRunningAndOldEnough) {
    const PruneCase& c = GetParam();
    TestFolder temp;
    TempFolderFilesystem filesystem(temp.Path());
    const std::string folder = "Quenlar/Vrexa/transfers";
    const std::string id = "0123456789abcdef0123456789abcdef";
    const std::string other = "fedcba9876543210fedcba9876543210";
    JsonTempFileManifestStore<TransferManifest> store(folder, filesystem);
    for (const std::string& written : {id, other}) {
        TransferManifest manifest(Params(written, "game", "/srv/" + written));
        ASSERT_TRUE(store.Write(written, manifest));
    }
    const auto now = std::chrono::system_clock::now();
    const std::string path = temp / (folder + "/" + id + ".json");
    const std::time_t stored = std::chrono::system_clock::to_time_t(now - std::chrono::hours(24) * c.storedDaysAgo);
    const struct timeval times[2] = {{stored, 0}, {stored, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
    // The other entry is running throughout, so the folder never empties.
    std::vector<DestinationHolder> holders = {{other, "/srv/" + other}};
    if (c.running) holders.push_back({id, "/srv/" + id});

    std::optional<std::chrono::seconds> olderThan;
    if (c.olderThanDays) olderThan = std::chrono::hours(24) * *c.olderThanDays;
    const std::vector<std::string> removed = PruneStoredTransfers(filesystem, folder, holders, olderThan, now);
    EXPECT_EQ(removed, c.removed ? std::vector<std::string>{id} : std::vector<std::string>{});
    EXPECT_EQ(std::filesystem::exists(path), !c.removed);
    EXPECT_TRUE(std::filesystem::exists(temp / (folder + "/" + other + ".json")));
}

INSTANTIATE_TEST_SUITE_P(Cases, PruneTest,
                         ::testing::Values(PruneCase{"StoppedIsForgotten", 0, false, std::nullopt, true},
                                           PruneCase{"RunningIsKept", 30, true, std::nullopt, false},
                                           PruneCase{"OlderThanTheAgeIsForgotten", 10, false, 7, true},
                                           PruneCase{"YoungerThanTheAgeIsKept", 3, false, 7, false},
                                           PruneCase{"OldButRunningIsKept", 10, true, 7, false},
                                           PruneCase{"ZeroDaysForgetsAnythingStoppedInThePast", 1, false, 0, true}),
                         [](const ::testing::TestParamInfo<PruneCase>& info) { return info.param.name; });

TEST(CliSetupTest, PruneAlsoForgetsEntriesThatCannotBeRead) {
    TestFolder temp;
    TempFolderFilesystem filesystem(temp.Path());
    const std::string folder = "Quenlar/Vrexa/transfers";
    const std::string broken = "22222222222222222222222222222222";
    temp.Put(folder + "/" + broken + ".json", "{\"transferId\":");
    temp.Put(folder + "/notes.txt", "mine");
    EXPECT_EQ(PruneStoredTransfers(filesystem, folder, {}, std::nullopt, std::chrono::system_clock::now()),
              std::vector<std::string>{broken});
    EXPECT_EQ(TestFolder::Content(temp / (folder + "/notes.txt")), "mine");
}

TEST(CliSetupTest, RemoveForgetsOneStoppedTransferOnly) {
    TestFolder temp;
    TempFolderFilesystem filesystem(temp.Path());
    const std::string folder = "Quenlar/Vrexa/transfers";
    const std::string id = "0123456789abcdef0123456789abcdef";
    JsonTempFileManifestStore<TransferManifest> store(folder, filesystem);
    TransferManifest manifest(Params(id, "game", "/srv/a"));
    ASSERT_TRUE(store.Write(id, manifest));

    EXPECT_EQ(RemoveStoredTransfer(filesystem, folder, id, {{id, "/srv/a"}}), RemoveOutcome::Running);
    EXPECT_EQ(StoredTransfers(filesystem, folder).size(), 1u);
    EXPECT_EQ(RemoveStoredTransfer(filesystem, folder, id, {}), RemoveOutcome::Removed);
    EXPECT_TRUE(StoredTransfers(filesystem, folder).empty());
    EXPECT_EQ(RemoveStoredTransfer(filesystem, folder, id, {}), RemoveOutcome::NotStored);
}

TEST(CliSetupTest, TheDataFoldersArePrivateAndALinkedOneIsRefused) {
    TestFolder temp;
    TempFolderFilesystem filesystem(temp.Path());
    TransferSettings settings;
    EnsureDataFolders(filesystem, settings);
    for (const std::string& folder : {std::string("Quenlar"), std::string("Quenlar/Vrexa"), settings.transfersFolder,
                                      settings.logsFolder, settings.locksFolder}) {
        struct stat status {};
        ASSERT_EQ(::lstat((temp / folder).c_str(), &status), 0) << folder;
        EXPECT_EQ(status.st_mode & 07777, 0700u) << folder;
    }

    TestFolder other;
    TempFolderFilesystem planted(other.Path());
    std::filesystem::create_directories(other / "Quenlar");
    std::filesystem::create_directory_symlink(temp / "Quenlar/Vrexa", other / "Quenlar/Vrexa");
    EXPECT_THROW(EnsureDataFolders(planted, settings), std::runtime_error);
    TempFolderFilesystem nowhere("");
    EXPECT_THROW(EnsureDataFolders(nowhere, settings), std::runtime_error);
}

}  // namespace
}  // namespace vrexa::cli
