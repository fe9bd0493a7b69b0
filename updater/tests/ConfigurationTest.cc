#include <sys/stat.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"
#include "updater/ConfigurationReader.h"
#include "updater/UpdaterConfiguration.h"
#include "updater/posix/FileRegistry.h"
#include "vrexa/UpdaterDeployment.h"

namespace vrexa::updater {
namespace {

using testsupport::TestFolder;

// Runs the command-line parser over a list of arguments, argv[0] included.
UpdaterConfiguration ParseArguments(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    UpdaterConfiguration configuration;
    ParseCommandLine(configuration, static_cast<int>(arguments.size()), argv.data());
    return configuration;
}

struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string packageVersion;
    std::string skinVersion;
    std::uint32_t logMask;

    friend void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << c.name; }
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, TakesTheValuesItReachesBeforeABadLogMask) {
    const auto& c = GetParam();
    const UpdaterConfiguration configuration = ParseArguments(c.arguments);
    EXPECT_EQ(configuration.executablePath, c.arguments.front());
    EXPECT_EQ(configuration.packageVersion, c.packageVersion);
    EXPECT_EQ(configuration.skinVersion, c.skinVersion);
    EXPECT_EQ(configuration.logMask, c.logMask);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"ProgramOnly", {"/opt/orbiq-update"}, "?", "?", 0xFFFFFFF7u},
        CommandLineCase{"AllThree", {"u", "packageVersion=2.1", "skinVersion=7", "log=15"}, "2.1", "7", 15},
        CommandLineCase{"BadMaskFirstStopsParsing", {"u", "log=abc", "packageVersion=2"}, "?", "?", 0xFFFFFFF7u},
        CommandLineCase{
            "BadMaskLaterKeepsEarlier", {"u", "packageVersion=2", "log=abc", "skinVersion=3"}, "2", "?", 0xFFFFFFF7u},
        CommandLineCase{
            "MaskJustAbove32BitsIsOutOfRange", {"u", "log=4294967296", "packageVersion=2"}, "?", "?", 0xFFFFFFF7u},
        CommandLineCase{"LargestMask", {"u", "log=4294967295"}, "?", "?", 0xFFFFFFFFu},
        CommandLineCase{"ZeroMask", {"u", "log=0"}, "?", "?", 0},
        CommandLineCase{"ProgramPathIsExaminedToo", {"packageVersion=9"}, "9", "?", 0xFFFFFFF7u},
        CommandLineCase{"LaterArgumentWins", {"u", "skinVersion=1", "skinVersion=2"}, "?", "2", 0xFFFFFFF7u},
        CommandLineCase{"EmptyValues", {"u", "packageVersion=", "skinVersion="}, "", "", 0xFFFFFFF7u},
        CommandLineCase{"PrefixIsCaseSensitive", {"u", "PackageVersion=2", "LOG=x"}, "?", "?", 0xFFFFFFF7u},
        CommandLineCase{"OtherArgumentsIgnored", {"u", "--help", "version=3"}, "?", "?", 0xFFFFFFF7u}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, NoArgumentsParseNothing) {
    UpdaterConfiguration configuration;
    const char* argv[] = {nullptr};
    ParseCommandLine(configuration, 0, argv);
    ParseCommandLine(configuration, 0, nullptr);
    ParseCommandLine(configuration, -1, nullptr);
    EXPECT_EQ(configuration.executablePath, "");
    EXPECT_EQ(configuration.packageVersion, "?");
    EXPECT_EQ(configuration.logMask, kDefaultLogMask);
}

TEST(CommandLine, LogMaskFollowsThe32BitStoulRule) {
    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> cases = {
        {"0", 0u},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"  12", 12u},
        {"+7", 7u},
        {"-1", 4294967295u},  // negated modulo 2^32, as the platform's stoul does
        {"-4294967295", 1u},
        {"-4294967296", std::nullopt},
        {"12abc", 12u},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"0x10", 0u},
        {"000000000000000000004294967295", 4294967295u},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseUnsigned32(text), expected) << "\"" << text << "\"";
    }
}

TEST(LanguageList, SplitsPairsAndSkipsTokensWithoutEquals) {
    EXPECT_EQ(ParseLanguageList("en_GB=English;de=Deutsch"), (LanguageList{{"en_GB", "English"}, {"de", "Deutsch"}}));
    EXPECT_EQ(ParseLanguageList(";;fr=Français;junk;de=a=b;de=Again;"),
              (LanguageList{{"fr", "Français"}, {"de", "a=b"}, {"de", "Again"}}));
    EXPECT_EQ(ParseLanguageList("=empty name"), (LanguageList{{"", "empty name"}}));
    EXPECT_TRUE(ParseLanguageList("").empty());
    EXPECT_TRUE(ParseLanguageList("Zazid").empty());
}

TEST(LocalizableValues, ResolveForALocaleWithTheDefaultAsFallback) {
    UpdaterConfiguration configuration;
    configuration.displayName = "en_GB=Name;de=Other";
    EXPECT_EQ(configuration.GetDisplayName("de"), "en_GB=Name;de=Other") << "no language list: used unchanged";

    configuration.languages = {{"en_GB", "English"}, {"de", "Deutsch"}};
    configuration.defaultLocale = "en_GB";
    configuration.displayName = "en_GB=A;de=B";
    configuration.folderName = "de=B";
    configuration.skinPackageId = "skin_plain";
    configuration.launchPackage = "fr=F;en_GB=L";
    EXPECT_EQ(configuration.GetDisplayName("de"), "B");
    EXPECT_EQ(configuration.GetDisplayName("fr"), "A");
    EXPECT_EQ(configuration.GetDisplayName("en_GB"), "A");
    EXPECT_EQ(configuration.GetFolderName("fr"), "");
    EXPECT_EQ(configuration.GetFolderName("en_GB"), "");
    EXPECT_EQ(configuration.GetFolderName("de"), "B");
    EXPECT_EQ(configuration.GetSkinPackageId("de"), "skin_plain") << "text without pairs serves every locale";
    EXPECT_EQ(configuration.GetLaunchPackage("fr"), "F");
    EXPECT_EQ(configuration.GetLaunchPackage("ru"), "L");
}

TEST(UpdaterConfiguration, EffectiveVersionInitialLocaleAndSkinFolder) {
    UpdaterConfiguration configuration;
    EXPECT_EQ(configuration.GetEffectivePackageVersion(), "?");
    configuration.defaultPackageVersion = "5.1";
    EXPECT_EQ(configuration.GetEffectivePackageVersion(), "5.1");
    configuration.packageVersion = "6";
    EXPECT_EQ(configuration.GetEffectivePackageVersion(), "6");

    configuration.defaultLocale = "de";
    EXPECT_EQ(configuration.GetInitialLocale(), "");
    configuration.languages = {{"de", "Deutsch"}};
    EXPECT_EQ(configuration.GetInitialLocale(), "de");

    configuration.dataFolderCopy = "/data/LTX";
    configuration.skinPackageId = "de=skin_de";
    EXPECT_EQ(configuration.GetSkinFolder("de"), "/data/LTX/skin_de");
}

TEST(UpdaterConfiguration, MakeBehaviorChangesOnlyItsSettings) {
    const TransferBehavior defaults;
    UpdaterConfiguration configuration("Tembrik/Orbiq Update/LTX");
    configuration.logMask = 3;
    TransferBehavior behavior = configuration.MakeBehavior();
    EXPECT_EQ(behavior.manifestHost, defaults.manifestHost) << "an empty host keeps the default";
    EXPECT_EQ(behavior.logMask, 3u);
    EXPECT_EQ(behavior.transferThreads, 2 * defaults.transferThreads);
    EXPECT_EQ(behavior.estimateWindow, 1);
    EXPECT_EQ(behavior.transfersFolder, "Tembrik/Orbiq Update/LTX/transfers");
    EXPECT_EQ(behavior.logsFolder, "Tembrik/Orbiq Update/LTX/logs");
    EXPECT_EQ(behavior.maxRunningWorks, defaults.maxRunningWorks);
    EXPECT_EQ(behavior.geolocationUrl, defaults.geolocationUrl);
    EXPECT_EQ(behavior.eventsAnalyticsUrl, defaults.eventsAnalyticsUrl);
    EXPECT_EQ(behavior.transferAnalyticsUrl, defaults.transferAnalyticsUrl);

    configuration.manifestHost = "127.0.0.1:8080";
    configuration.eventsAnalyticsUrl = "http://127.0.0.1:9001";
    configuration.transferAnalyticsUrl = "http://127.0.0.1:9002";
    behavior = configuration.MakeBehavior();
    EXPECT_EQ(behavior.manifestHost, "127.0.0.1:8080");
    EXPECT_EQ(behavior.eventsAnalyticsUrl, "http://127.0.0.1:9001");
    EXPECT_EQ(behavior.geolocationUrl, "http://127.0.0.1:9001/geo-location") << "follows the events endpoint";
    EXPECT_EQ(behavior.transferAnalyticsUrl, "http://127.0.0.1:9002");
    configuration.geolocationUrl = "http://127.0.0.1:9003/where";
    EXPECT_EQ(configuration.MakeBehavior().geolocationUrl, "http://127.0.0.1:9003/where");
}

// A registry folder tree with helpers to plant values.
class FileRegistryTest : public ::testing::Test {
protected:
    void PutValue(const std::string& relative, const std::string& content) { folder_.Put(relative, content); }
    std::string Read(const std::string& path) { return posix::FileRegistry(folder_.Path() + "/root").ReadString(path); }

    TestFolder folder_;
};

TEST_F(FileRegistryTest, ReadsStringValuesOnly) {
    PutValue("root/SOFTWARE/Tembrik/Orbiq/InstallFolder", "REG_SZ\n/opt/Maps\n");
    PutValue("root/SOFTWARE/Tembrik/Orbiq/Number", "REG_DWORD\n7\n");
    PutValue("root/SOFTWARE/Tembrik/Orbiq/NoType", "/opt/Maps");
    PutValue("root/SOFTWARE/Tembrik/Orbiq/Inner", "REG_SZ\nline one\nline two\n\n");
    PutValue("root/SOFTWARE/Tembrik/Orbiq/Nul", std::string("REG_SZ\nab\0cd", 12));
    PutValue("root/SOFTWARE/Tembrik/Orbiq/Latin1", "REG_SZ\n\xE9t\xE9");
    PutValue("root/Top", "REG_SZ\ntop");
    PutValue("outside", "REG_SZ\nescaped");

    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\InstallFolder"), "/opt/Maps");
    EXPECT_EQ(Read("SOFTWARE/Tembrik/Orbiq/InstallFolder"), "/opt/Maps");
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\Inner"), "line one\nline two\n");
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\Nul"), "ab");
    EXPECT_EQ(Read("Top"), "top");
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\Number"), "") << "only strings are accepted";
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\NoType"), "");
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\Latin1"), "") << "not UTF-8";
    EXPECT_EQ(Read("software\\tembrik\\orbiq\\InstallFolder"), "") << "exact case";
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq\\Missing"), "");
    EXPECT_EQ(Read("SOFTWARE\\Tembrik\\Orbiq"), "") << "a key is not a value";
    EXPECT_EQ(Read("..\\outside"), "");
    EXPECT_EQ(Read("SOFTWARE\\..\\..\\outside"), "");
    EXPECT_EQ(Read("SOFTWARE\\.\\Tembrik\\Orbiq\\InstallFolder"), "");
    EXPECT_EQ(Read("SOFTWARE\\\\Tembrik\\Orbiq\\InstallFolder"), "");
    EXPECT_EQ(Read("\\SOFTWARE\\Tembrik\\Orbiq\\InstallFolder"), "");
    EXPECT_EQ(Read(""), "");
}

TEST_F(FileRegistryTest, RefusesValuesThatDoNotFitTheBufferAndSpecialFiles) {
    // 16382 characters and the terminator fill the 32766-byte buffer exactly.
    PutValue("root/Fits", "REG_SZ\n" + std::string(16382, 'a'));
    PutValue("root/TooLong", "REG_SZ\n" + std::string(16383, 'a'));
    PutValue("root/Huge", "REG_SZ\n" + std::string(1 << 20, 'a'));
    ASSERT_EQ(::mkfifo((folder_.Path() + "/root/Fifo").c_str(), 0600), 0);
    EXPECT_EQ(Read("Fits").size(), 16382u);
    EXPECT_EQ(Read("TooLong"), "");
    EXPECT_EQ(Read("Huge"), "");
    EXPECT_EQ(Read("Fifo"), "") << "a FIFO neither blocks nor counts as a value";
}

TEST(FileRegistry, RootComesFromOverridesWhenGiven) {
    EXPECT_EQ(posix::FileRegistry::RootFor(EmptyEnvironment()), "/etc/vrexa/registry");
    const Environment overrides = [](const std::string& name) -> std::optional<std::string> {
        if (name == "VREXA_REGISTRY_ROOT") return "/tmp/reg";
        return std::nullopt;
    };
    EXPECT_EQ(posix::FileRegistry::RootFor(overrides), "/tmp/reg");
}

TEST(InstallFolder, KeepsOnlyAbsolutePathsWithoutTrailingSeparators) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/opt/Maps/", "/opt/Maps"},
        {"/opt/Maps\\\\", "/opt/Maps"},
        {"/opt/Maps", "/opt/Maps"},
        {"Maps", ""},
        {"D:\\Maps\\", ""},
        {"/", ""},
        {"", ""},
        {"./Maps", ""},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(AcceptInstallFolder(value), expected) << value;
}

// The temporary-files folder is the one thing the reader asks the file system.
class FixedTempFilesystem : public file::posix::FilesystemImpl {
public:
    explicit FixedTempFilesystem(std::string temp) : temp_(std::move(temp)) {}
    std::string GetTempFolder() override { return temp_; }

private:
    std::string temp_;
};

class RegistryMap : public Registry {
public:
    std::map<std::string, std::string> values;
    std::vector<std::string> asked;
    std::string ReadString(const std::string& path) override {
        asked.push_back(path);
        const auto found = values.find(path);
        return found == values.end() ? "" : found->second;
    }
};

TEST(ConfigurationReader, FillsTheRecordFromStringsRegistryAndArguments) {
    ResourceTable resources;
    const std::map<int, std::string> strings = {
        {102, "manifests.example.invalid"},
        {103, "aaaaaaaaaaaaaaaaaaaaaaaa"},
        {104, "bbbbbbbbbbbbbbbbbbbbbbbb"},
        {105, "cccccccccccccccccccccccc"},
        {106, "5.1"},
        {107, "dddddddddddddddddddddddd"},
        {108, "eeeeeeeeeeeeeeeeeeeeeeee"},
        {109, "Zazid"},
        {110, "ZazidFolder"},
        {111, "never read"},
        {112, "en_GB=English;de=Deutsch"},
        {113, "en_GB"},
        {114, "SOFTWARE\\Tembrik\\InstallFolder"},
    };
    for (const auto& [id, text] : strings)
        resources.AddString(id, text);
    RegistryMap registry;
    registry.values["SOFTWARE\\Tembrik\\InstallFolder"] = "/opt/Maps//";
    FixedTempFilesystem filesystem("/home/u/.cache");
    ConfigurationReader reader(resources, registry, filesystem, EmptyEnvironment());

    const char* argv[] = {"/usr/bin/orbiq-update", "skinVersion=4", nullptr};
    const UpdaterConfiguration c = reader.Read("Tembrik/Orbiq Update/LTX", 2, argv);
    EXPECT_TRUE(c.elevateLaunch) << "the entry, not the reader, clears the elevation request";
    EXPECT_EQ(c.executablePath, "/usr/bin/orbiq-update");
    EXPECT_EQ(c.manifestHost, "manifests.example.invalid");
    EXPECT_EQ(c.packagePartnerId, "aaaaaaaaaaaaaaaaaaaaaaaa");
    EXPECT_EQ(c.skinPartnerId, "bbbbbbbbbbbbbbbbbbbbbbbb");
    EXPECT_EQ(c.launchPackage, "cccccccccccccccccccccccc");
    EXPECT_EQ(c.defaultPackageVersion, "5.1");
    EXPECT_EQ(c.skinPackageId, "dddddddddddddddddddddddd");
    EXPECT_EQ(c.packageId, "eeeeeeeeeeeeeeeeeeeeeeee");
    EXPECT_EQ(c.displayName, "Zazid");
    EXPECT_EQ(c.folderName, "ZazidFolder");
    EXPECT_EQ(c.dataFolderName, "Tembrik/Orbiq Update/LTX");
    EXPECT_EQ(c.dataFolder, "/home/u/.cache/Tembrik/Orbiq Update/LTX");
    EXPECT_EQ(c.dataFolderCopy, c.dataFolder);
    EXPECT_EQ(c.defaultLocale, "en_GB");
    EXPECT_EQ(c.languages, (LanguageList{{"en_GB", "English"}, {"de", "Deutsch"}}));
    EXPECT_EQ(c.installFolder, "/opt/Maps");
    EXPECT_TRUE(c.hasInstallFolder);
    EXPECT_EQ(c.skinVersion, "4");
    EXPECT_EQ(c.packageVersion, "?");
    EXPECT_EQ(c.GetEffectivePackageVersion(), "5.1");
    EXPECT_EQ(c.userInterface, "");
}

TEST(ConfigurationReader, MissingStringsAreEmptyAndRelativeRegistryValuesRejected) {
    ResourceTable resources;
    resources.AddString(114, "SOFTWARE\\Tembrik\\InstallFolder");
    RegistryMap registry;
    registry.values["SOFTWARE\\Tembrik\\InstallFolder"] = "Maps";
    FixedTempFilesystem filesystem("");
    ConfigurationReader reader(resources, registry, filesystem, EmptyEnvironment());
    const UpdaterConfiguration c = reader.Read("Tembrik/Orbiq Update/LTX", 0, nullptr);
    EXPECT_EQ(c.manifestHost, "");
    EXPECT_EQ(c.displayName, "");
    EXPECT_TRUE(c.languages.empty());
    EXPECT_EQ(c.dataFolder, "Tembrik/Orbiq Update/LTX") << "no temporary folder: the relative name";
    EXPECT_EQ(c.installFolder, "");
    EXPECT_FALSE(c.hasInstallFolder);
    EXPECT_EQ(registry.asked, std::vector<std::string>{"SOFTWARE\\Tembrik\\InstallFolder"});

    ResourceTable withoutValue;
    RegistryMap untouched;
    ConfigurationReader(withoutValue, untouched, filesystem, EmptyEnvironment()).Read("x", 0, nullptr);
    EXPECT_TRUE(untouched.asked.empty()) << "no registry read without string 114";
}

TEST(ConfigurationReader, OverridesReplaceHostEndpointsAndFrontEnd) {
    ResourceTable resources;
    resources.AddString(102, "manifests.example.invalid");
    RegistryMap registry;
    FixedTempFilesystem filesystem("/tmp");
    const std::map<std::string, std::string> variables = {
        {"VREXA_MANIFEST_HOST", "127.0.0.1:8080"},
        {"VREXA_GEOLOCATION_URL", "http://127.0.0.1:8081/geo-location"},
        {"VREXA_EVENTS_ANALYTICS_URL", "http://127.0.0.1:8081"},
        {"VREXA_TRANSFER_ANALYTICS_URL", "http://127.0.0.1:8082"},
        {"VREXA_UI", "tty"},
    };
    const Environment overrides = [&](const std::string& name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        if (found == variables.end()) return std::nullopt;
        return found->second;
    };
    const UpdaterConfiguration c =
        ConfigurationReader(resources, registry, filesystem, overrides).Read("LTX", 0, nullptr);
    EXPECT_EQ(c.manifestHost, "127.0.0.1:8080");
    EXPECT_EQ(c.userInterface, "tty");
    const TransferBehavior behavior = c.MakeBehavior();
    EXPECT_EQ(behavior.manifestHost, "127.0.0.1:8080");
    EXPECT_EQ(behavior.geolocationUrl, "http://127.0.0.1:8081/geo-location");
    EXPECT_EQ(behavior.eventsAnalyticsUrl, "http://127.0.0.1:8081");
    EXPECT_EQ(behavior.transferAnalyticsUrl, "http://127.0.0.1:8082");
}

TEST(ConfigurationReader, TrustedKeysOverrideAddsEachFileAndKeepsAnUnreadableOneAsNoKey) {
    TestFolder folder;
    const std::string a = folder.Put("a.pub", "key a\n");
    const std::string b = folder.Put("b.pub", "key b\n");
    ResourceTable resources;
    RegistryMap registry;
    FixedTempFilesystem filesystem("/tmp");
    const std::string list = a + "::" + folder / "gone.pub" + ":" + b + ":";
    const Environment overrides = [&](const std::string& name) -> std::optional<std::string> {
        if (name == "VREXA_TRUSTED_KEYS") return list;
        return std::nullopt;
    };
    const UpdaterConfiguration c =
        ConfigurationReader(resources, registry, filesystem, overrides).Read("LTX", 0, nullptr);
    EXPECT_EQ(c.trustedKeys, (std::vector<std::string>{"key a\n", "", "key b\n"}));
    const TransferBehavior behavior = c.MakeBehavior();
    const std::vector<std::string> builtIn = TransferSettings().trustedKeys;
    ASSERT_EQ(behavior.trustedKeys.size(), builtIn.size() + 3);
    EXPECT_EQ(behavior.trustedKeys.back(), "key b\n");
    EXPECT_EQ(behavior.signatureSerialsFile, "LTX/signature-serials");
}

}  // namespace
}  // namespace vrexa::updater

namespace vrexa::updater {
namespace {

TEST(OverrideEnvironment, ReadsTheProcessEnvironmentOnlyInDeveloperBuilds) {
    ::setenv("VREXA_UI", "tty", 1);
    ::setenv("VREXA_MANIFEST_HOST", "", 1);
    const auto ui = OverrideEnvironment()("VREXA_UI");
    const auto host = OverrideEnvironment()("VREXA_MANIFEST_HOST");
    const auto process = ProcessEnvironment()("VREXA_UI");
    ::unsetenv("VREXA_UI");
    ::unsetenv("VREXA_MANIFEST_HOST");
    EXPECT_EQ(process, "tty");
    EXPECT_EQ(host, std::nullopt) << "an empty variable counts as unset";
    if (deployment::kDeveloperOverrides) {
        EXPECT_EQ(ui, "tty");
    } else {
        EXPECT_EQ(ui, std::nullopt) << "a vendor's build reads no overrides";
    }
    EXPECT_EQ(EmptyEnvironment()("PATH"), std::nullopt);
}

}  // namespace
}  // namespace vrexa::updater
