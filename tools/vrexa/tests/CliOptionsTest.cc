#include "tools/vrexa/CliOptions.h"

#include <gtest/gtest.h>

#include <map>

#include "vrexa/DeploymentValues.h"

namespace vrexa::cli {
namespace {

Environment FakeEnvironment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

CliOptions Parse(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    return ParseCommandLine(args, FakeEnvironment(std::move(env)), "/home/user/work");
}

TEST(CliOptionsTest, DownloadTakesIdsOptionsAndMakesTheDestinationAbsolute) {
    const CliOptions options =
        Parse({"download", "--partner", "k1", "--package=maps", "--version", "42", "--threads", "6", "--parallel=3",
               "--log-mask", "0xFFFFFFF7", "--no-analytics", "--json", "out/../dest/"});
    EXPECT_EQ(options.command, Command::Download);
    EXPECT_EQ(options.partnerId, "k1");
    EXPECT_EQ(options.packageId, "maps");
    EXPECT_EQ(options.versionId, "42");
    EXPECT_EQ(options.dest, "/home/user/work/dest");
    EXPECT_EQ(options.threads, 6);
    EXPECT_EQ(options.parallel, 3);
    EXPECT_EQ(options.logMask, 0xFFFFFFF7u);
    EXPECT_TRUE(options.noAnalytics);
    EXPECT_TRUE(options.json);
    EXPECT_FALSE(options.quiet);
    EXPECT_EQ(options.retries, 3);
    EXPECT_EQ(options.retryWaitSeconds, 2);
}

TEST(CliOptionsTest, RetriesMayBeSwitchedOffOrSpacedOut) {
    const CliOptions none = Parse({"resume", "--retry", "0", "--retry-wait=0", "0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(none.retries, 0);
    EXPECT_EQ(none.retryWaitSeconds, 0);
    const CliOptions many =
        Parse({"resume", "--retry=100", "--retry-wait", "3600", "0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(many.retries, 100);
    EXPECT_EQ(many.retryWaitSeconds, 3600);
}

TEST(CliOptionsTest, ReuseFromFoldersAreRepeatableAndMadeAbsolute) {
    const CliOptions options = Parse({"download", "--partner", "k1", "--package", "maps", "--reuse-from", "old/../v1",
                                      "--reuse-from=/srv/v0", "dest"});
    EXPECT_EQ(options.reuseFrom, (std::vector<std::string>{"/home/user/work/v1", "/srv/v0"}));
    EXPECT_THROW(Parse({"download", "--partner", "k1", "--package", "maps", "--reuse-from=", "dest"}), UsageError);
}

TEST(CliOptionsTest, LimitRateReadsCurlsUnits) {
    const std::pair<std::string, std::uint64_t> cases[] = {
        {"1", 1},           {"65536", 65536},   {"500K", 500 * 1024ull}, {"500k", 500 * 1024ull},
        {"2M", 2ull << 20}, {"2m", 2ull << 20}, {"1G", 1ull << 30},      {"1024G", 1ull << 40},
    };
    for (const auto& [text, rate] : cases) {
        const CliOptions options =
            Parse({"download", "--partner", "k1", "--package", "maps", "--limit-rate", text, "dest"});
        EXPECT_EQ(options.rateLimit, rate) << text;
    }
    EXPECT_EQ(Parse({"download", "--partner", "k1", "--package", "maps", "dest"}).rateLimit, 0u);
    EXPECT_EQ(Parse({"resume", "--limit-rate=4M", "0123456789abcdef0123456789abcdef"}).rateLimit, 4ull << 20);
}

TEST(CliOptionsTest, WithoutAVersionTheCurrentOneIsAskedFor) {
    const CliOptions options = Parse({"verify", "--partner", "k1", "--package", "maps", "/srv/dest"});
    EXPECT_EQ(options.command, Command::Verify);
    EXPECT_EQ(options.versionId, "?");
    EXPECT_EQ(options.dest, "/srv/dest");
}

TEST(CliOptionsTest, EndpointsComeFromTheCommandLineThenTheEnvironmentThenTheBuild) {
    const std::map<std::string, std::string> env = {
        {"VREXA_MANIFEST_HOST", "127.0.0.1:8080"},
        {"VREXA_GEOLOCATION_URL", "http://127.0.0.1:8081/geo"},
        {"VREXA_EVENTS_ANALYTICS_URL", "http://127.0.0.1:8082/events"},
        {"VREXA_TRANSFER_ANALYTICS_URL", "http://127.0.0.1:8083/transfers"},
    };
    const std::vector<std::string> base = {"download", "--partner", "p", "--package", "q", "d"};

    const CliOptions fromEnv = Parse(base, env);
    EXPECT_EQ(fromEnv.manifestHost, "127.0.0.1:8080");
    EXPECT_EQ(fromEnv.geolocationUrl, "http://127.0.0.1:8081/geo");
    EXPECT_EQ(fromEnv.eventsUrl, "http://127.0.0.1:8082/events");
    EXPECT_EQ(fromEnv.transferAnalyticsUrl, "http://127.0.0.1:8083/transfers");

    std::vector<std::string> args = base;
    args.insert(args.begin() + 1,
                {"--host", "h:1", "--events-url", "http://e", "--transfer-analytics-url", "http://t"});
    const CliOptions given = Parse(args, env);
    EXPECT_EQ(given.manifestHost, "h:1");
    EXPECT_EQ(given.eventsUrl, "http://e");
    // The geolocation service sits beside the events endpoint that was given.
    EXPECT_EQ(given.geolocationUrl, "http://e/geo-location");
    EXPECT_EQ(given.transferAnalyticsUrl, "http://t");

    const CliOptions built = Parse(base);
    EXPECT_EQ(built.manifestHost, deployment::kManifestHost);
    EXPECT_EQ(built.eventsUrl, deployment::kEventsAnalyticsUrl);
    EXPECT_EQ(built.geolocationUrl, std::string(deployment::kEventsAnalyticsUrl) + "/geo-location");
    EXPECT_EQ(built.transferAnalyticsUrl, deployment::kTransferAnalyticsUrl);
}

TEST(CliOptionsTest, ResumeListHelpAndVersion) {
    EXPECT_EQ(Parse({"resume", "0123456789abcdef0123456789abcdef"}).transferId, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Parse({"list"}).command, Command::List);
    EXPECT_EQ(Parse({"--help"}).command, Command::Help);
    EXPECT_EQ(Parse({"-h"}).command, Command::Help);
    EXPECT_EQ(Parse({"download", "--partner", "p", "--help"}).command, Command::Help);
    EXPECT_EQ(Parse({"--version"}).command, Command::Version);
    EXPECT_EQ(Parse({"help", "json"}).command, Command::HelpJson);
    EXPECT_EQ(Parse({"--help", "json"}).command, Command::HelpJson);
}

TEST(CliOptionsTest, RemoveTakesAnIdAndPruneAnOptionalAge) {
    const CliOptions remove = Parse({"remove", "0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(remove.command, Command::Remove);
    EXPECT_EQ(remove.transferId, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Parse({"prune"}).command, Command::Prune);
    EXPECT_FALSE(Parse({"prune"}).olderThanDays.has_value());
    EXPECT_EQ(Parse({"prune", "--older-than", "30"}).olderThanDays, 30);
    EXPECT_EQ(Parse({"prune", "--older-than=0"}).olderThanDays, 0);
}

TEST(CliOptionsTest, UsageErrorsNameWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"fetch"}, "unknown command 'fetch'"},
        {{"--partner", "x"}, "no command given"},
        {{"download", "--partner", "p", "--package", "q", "--partner", "r", "d"}, "--partner is given more than once"},
        {{"download", "--partner", "p", "--package=q", "--package=q", "d"}, "--package is given more than once"},
        {{"download", "--partner", "p", "--package", "q", "--host", "http://h:80", "d"},
         "--host takes a host, not a URL: drop 'http://' (HOST[:PORT], or https://HOST[:PORT] for HTTPS)"},
        {{"download", "--partner", "p", "--package", "q", "--host", "ftp://h", "d"}, "drop 'ftp://'"},
        {{"--older-than", "3", "list"}, "unknown option '--older-than'"},
        {{"download", "--json=yes", "--partner", "p", "--package", "q", "d"}, "--json takes no value"},
        {{"download", "--package", "p", "d"}, "--partner is required"},
        {{"download", "--partner", "p", "d"}, "--package is required"},
        {{"download", "--partner", "p", "--package", "q"}, "one destination folder"},
        {{"download", "--partner", "p", "--package", "q", "a", "b"}, "one destination folder"},
        {{"download", "--partner", "p", "--package", "q", "--frobnicate", "d"}, "unknown option '--frobnicate'"},
        {{"download", "--partner"}, "--partner needs a value"},
        {{"download", "--partner", "p", "--package", "q", "--threads", "0", "d"}, "--threads needs a whole number"},
        {{"download", "--partner", "p", "--package", "q", "--threads", "4x", "d"}, "--threads needs a whole number"},
        {{"download", "--partner", "p", "--package", "q", "--parallel", "-1", "d"}, "--parallel needs a whole number"},
        {{"download", "--partner", "p", "--package", "q", "--log-mask", "0x1FFFFFFFF", "d"}, "--log-mask"},
        {{"download", "--partner", "p", "--package", "q", "--log-mask", "-1", "d"}, "--log-mask"},
        {{"download", "--partner", "p", "--package", "q", "--quiet", "--json", "d"}, "cannot be used together"},
        {{"download", "--partner", "p", "--package", "q", "--retry", "101", "d"}, "--retry needs a whole number"},
        {{"download", "--partner", "p", "--package", "q", "--retry", "-1", "d"}, "--retry needs a whole number"},
        {{"download", "--partner", "p", "--package", "q", "--retry-wait", "1.5", "d"}, "--retry-wait needs"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "0", "d"}, "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "-2M", "d"}, "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "1.5M", "d"}, "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "2MB", "d"}, "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "M", "d"}, "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "1025G", "d"}, "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "99999999999999999999", "d"},
         "--limit-rate needs a rate"},
        {{"download", "--partner", "p", "--package", "q", "--limit-rate", "", "d"}, "--limit-rate needs a rate"},
        {{"list", "--limit-rate", "2M"}, "unknown option '--limit-rate'"},
        {{"resume"}, "one transfer id"},
        {{"resume", "../../etc/passwd"}, "is not a transfer id"},
        {{"resume", "0123456789ABCDEF0123456789ABCDEF"}, "is not a transfer id"},
        {{"list", "extra"}, "list takes no arguments"},
        {{"remove"}, "one transfer id"},
        {{"remove", "../transfers/x"}, "is not a transfer id"},
        {{"prune", "0123456789abcdef0123456789abcdef"}, "prune takes no arguments"},
        {{"prune", "--older-than"}, "--older-than needs a value"},
        {{"prune", "--older-than", "-2"}, "--older-than needs a whole number"},
        {{"prune", "--older-than", "week"}, "--older-than needs a whole number"},
        {{"list", "--older-than", "3"}, "unknown option '--older-than'"},
    };
    for (const Case& c : cases) {
        try {
            Parse(c.args);
            ADD_FAILURE() << "accepted: " << testing::PrintToString(c.args);
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos)
                << testing::PrintToString(c.args) << " said: " << error.what();
        }
    }
}

TEST(CliOptionsTest, OptionsMayComeBeforeTheCommand) {
    const CliOptions list = Parse({"--json", "list"});
    EXPECT_EQ(list.command, Command::List);
    EXPECT_TRUE(list.json);
    const CliOptions download =
        Parse({"--partner", "p", "-v", "download", "--package", "q", "--host", "https://h:8443", "d"});
    EXPECT_EQ(download.command, Command::Download);
    EXPECT_EQ(download.partnerId, "p");
    EXPECT_EQ(download.packageId, "q");
    EXPECT_EQ(download.manifestHost, "https://h:8443");
    EXPECT_TRUE(download.verbose);
    EXPECT_EQ(download.dest, "/home/user/work/d");
    EXPECT_EQ(Parse({"--older-than", "3", "prune"}).olderThanDays, 3);
    // The value of an option is never taken for the command.
    EXPECT_EQ(Parse({"--partner", "list", "download", "--package", "q", "d"}).partnerId, "list");
    // Keys are collected, not replaced.
    EXPECT_EQ(Parse({"resume", "--trusted-key", "a.pub", "--trusted-key=b.pub", "0123456789abcdef0123456789abcdef"})
                  .trustedKeyFiles,
              (std::vector<std::string>{"/home/user/work/a.pub", "/home/user/work/b.pub"}));
}

TEST(CliOptionsTest, ADoubleDashEndsTheOptions) {
    EXPECT_EQ(Parse({"download", "--partner", "p", "--package", "q", "--", "--odd"}).dest, "/home/user/work/--odd");
}

}  // namespace
}  // namespace vrexa::cli
