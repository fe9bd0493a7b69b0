#include "tools/vrexa/CliSetup.h"

#include <gtest/gtest.h>

#include <map>
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

    const TransferSettings tuned =
        SettingsFor(Parse({"download", "--partner", "p", "--package", "q", "--threads", "7", "--parallel", "2",
                           "--log-mask", "5", "--transfer-analytics-url", "http://t", "--no-analytics", "d"}));
    EXPECT_EQ(tuned.transferThreads, 7);
    EXPECT_EQ(tuned.maxRunningWorks, 7);
    EXPECT_EQ(tuned.parallelItems, 2);
    EXPECT_EQ(tuned.logMask, 5u);
    EXPECT_EQ(tuned.transferAnalyticsUrl, "http://t");
    EXPECT_FALSE(tuned.analyticsEnabled);
}

TEST(CliSetupTest, TrustedKeysAreReadInOrderAndABadOneNamesItsFile) {
    TestFolder folder;
    const std::string first = folder.Put("a.pub", "untrusted comment: a\nRWQBW/JEY8LUIgjmea+hb037nwSKg7sg2L9NV+DnW5GkENZgtCaMMCOB\n");
    const std::string second = folder.Put("b.pub", "RWQCW/JEY8LUIgjmea+hb037nwSKg7sg2L9NV+DnW5GkENZgtCaMMCOB\n");
    const CliOptions options = Parse({"download", "--partner", "p", "--package", "q", "--trusted-key", first,
                                      "--trusted-key=" + second, "d"});
    const TransferSettings settings = SettingsFor(options);
    ASSERT_EQ(settings.trustedKeys.size(), TransferSettings().trustedKeys.size() + 2);
    EXPECT_EQ(settings.trustedKeys.rbegin()[1], TestFolder::Content(first));
    EXPECT_EQ(settings.trustedKeys.back(), TestFolder::Content(second));
    // Relative to the working directory, like the destination.
    EXPECT_EQ(Parse({"download", "--partner", "p", "--package", "q", "--trusted-key", "k/../v.pub", "d"})
                  .trustedKeyFiles,
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

}  // namespace
}  // namespace vrexa::cli
