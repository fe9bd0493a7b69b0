#include "tools/vrexa/CliOptions.h"

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>

#include "vrexa/DeploymentValues.h"

namespace vrexa::cli {
namespace {

constexpr const char* kVersion = "1.3.4";

// Options that take a value, and the field each one fills.
enum class Valued {
    Partner,
    Package,
    Version,
    Host,
    CaFile,
    GeolocationUrl,
    EventsUrl,
    TransferAnalyticsUrl,
    Threads,
    Parallel,
    LogMask,
    Retry,
    RetryWait,
    TrustedKey,
    ReuseFrom
};

const std::map<std::string, Valued>& ValuedOptions() {
    static const std::map<std::string, Valued> options = {
        {"--partner", Valued::Partner},      {"--package", Valued::Package},
        {"--version", Valued::Version},      {"--host", Valued::Host},
        {"--cacert", Valued::CaFile},        {"--geolocation-url", Valued::GeolocationUrl},
        {"--events-url", Valued::EventsUrl}, {"--transfer-analytics-url", Valued::TransferAnalyticsUrl},
        {"--threads", Valued::Threads},      {"--parallel", Valued::Parallel},
        {"--log-mask", Valued::LogMask},     {"--retry", Valued::Retry},
        {"--retry-wait", Valued::RetryWait}, {"--trusted-key", Valued::TrustedKey},
        {"--reuse-from", Valued::ReuseFrom},
    };
    return options;
}

int ParseNumber(const std::string& option, const std::string& text, long lowest, long highest) {
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < lowest || value > highest) {
        throw UsageError(option + " needs a whole number from " + std::to_string(lowest) + " to " +
                         std::to_string(highest) + ", not '" + text + "'");
    }
    return static_cast<int>(value);
}

int ParseCount(const std::string& option, const std::string& text) { return ParseNumber(option, text, 1, 1024); }

// Decimal, or hexadecimal with "0x", as masks are usually written.
std::uint32_t ParseMask(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        if (!digits.empty() && digits[0] != '-' && digits[0] != '+') value = std::stoull(digits, &used, hex ? 16 : 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (digits.empty() || used != digits.size() || value > std::numeric_limits<std::uint32_t>::max()) {
        throw UsageError("--log-mask needs a 32-bit number (decimal or 0x...), not '" + text + "'");
    }
    return static_cast<std::uint32_t>(value);
}

std::string Fallback(const Environment& environment, const std::string& variable, const std::string& builtIn) {
    if (auto value = environment(variable); value && !value->empty()) return *value;
    return builtIn;
}

Command ParseCommand(const std::string& word) {
    static const std::map<std::string, Command> commands = {
        {"download", Command::Download}, {"verify", Command::Verify}, {"resume", Command::Resume},
        {"list", Command::List},         {"help", Command::Help},     {"remove", Command::Remove},
        {"prune", Command::Prune},
    };
    const auto found = commands.find(word);
    if (found == commands.end()) throw UsageError("unknown command '" + word + "'");
    return found->second;
}

}  // namespace

Environment ProcessEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

bool IsTransferId(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

CliOptions ParseCommandLine(const std::vector<std::string>& args, const Environment& environment,
                            const std::string& workingDirectory) {
    CliOptions options;
    if (args.empty()) throw UsageError("no command given");

    std::size_t next = 0;
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") {
        options.command = Command::Help;
        return options;
    }
    if (first == "--version" || first == "-V") {
        options.command = Command::Version;
        return options;
    }
    if (!first.empty() && first[0] == '-') throw UsageError("a command comes first, not the option '" + first + "'");
    options.command = ParseCommand(first);
    ++next;

    std::optional<std::string> eventsUrl;
    std::optional<std::string> geolocationUrl;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (; next < args.size(); ++next) {
        const std::string& arg = args[next];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.command = Command::Help;
            return options;
        }
        if (arg == "--no-analytics") {
            options.noAnalytics = true;
            continue;
        }
        if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
            continue;
        }
        if (arg == "--json") {
            options.json = true;
            continue;
        }
        if (options.command == Command::Prune && (arg == "--older-than" || arg.rfind("--older-than=", 0) == 0)) {
            std::string days;
            if (arg.size() > std::string("--older-than").size()) {
                days = arg.substr(std::string("--older-than=").size());
            } else if (next + 1 < args.size()) {
                days = args[++next];
            } else {
                throw UsageError("--older-than needs a value");
            }
            options.olderThanDays = ParseNumber("--older-than", days, 0, 36500);
            continue;
        }

        std::string name = arg;
        std::optional<std::string> value;
        if (const auto equals = arg.find('='); equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const auto found = ValuedOptions().find(name);
        if (found == ValuedOptions().end()) throw UsageError("unknown option '" + name + "'");
        if (!value) {
            if (next + 1 >= args.size()) throw UsageError(name + " needs a value");
            value = args[++next];
        }
        switch (found->second) {
            case Valued::Partner:
                options.partnerId = *value;
                break;
            case Valued::Package:
                options.packageId = *value;
                break;
            case Valued::Version:
                options.versionId = *value;
                break;
            case Valued::Host:
                options.manifestHost = *value;
                break;
            case Valued::CaFile:
                options.caFile = *value;
                break;
            case Valued::GeolocationUrl:
                geolocationUrl = *value;
                break;
            case Valued::EventsUrl:
                eventsUrl = *value;
                break;
            case Valued::TransferAnalyticsUrl:
                options.transferAnalyticsUrl = *value;
                break;
            case Valued::Threads:
                options.threads = ParseCount(name, *value);
                break;
            case Valued::Parallel:
                options.parallel = ParseCount(name, *value);
                break;
            case Valued::LogMask:
                options.logMask = ParseMask(*value);
                break;
            case Valued::Retry:
                options.retries = ParseNumber(name, *value, 0, 100);
                break;
            case Valued::RetryWait:
                options.retryWaitSeconds = ParseNumber(name, *value, 0, 3600);
                break;
            case Valued::TrustedKey:
                if (value->empty()) throw UsageError("--trusted-key needs a public key file");
                options.trustedKeyFiles.push_back(
                    (std::filesystem::path(workingDirectory) / *value).lexically_normal().string());
                break;
            case Valued::ReuseFrom:
                if (value->empty()) throw UsageError("--reuse-from needs a folder");
                options.reuseFrom.push_back(
                    (std::filesystem::path(workingDirectory) / *value).lexically_normal().string());
                break;
        }
    }
    if (options.command == Command::Help) return options;
    if (options.quiet && options.json) throw UsageError("--quiet and --json cannot be used together");

    switch (options.command) {
        case Command::Download:
        case Command::Verify:
            if (options.partnerId.empty()) throw UsageError("--partner is required");
            if (options.packageId.empty()) throw UsageError("--package is required");
            if (options.versionId.empty()) throw UsageError("--version needs a version id");
            if (positional.size() != 1) throw UsageError("one destination folder is required");
            if (positional[0].empty()) throw UsageError("the destination folder is empty");
            options.dest = (std::filesystem::path(workingDirectory) / positional[0]).lexically_normal().string();
            if (options.dest.size() > 1 && options.dest.back() == '/') options.dest.pop_back();
            break;
        case Command::Resume:
        case Command::Remove:
            if (positional.size() != 1) throw UsageError("one transfer id is required");
            if (!IsTransferId(positional[0])) {
                throw UsageError("'" + positional[0] + "' is not a transfer id (32 lower-case hexadecimal digits)");
            }
            options.transferId = positional[0];
            break;
        case Command::List:
            if (!positional.empty()) throw UsageError("list takes no arguments");
            break;
        case Command::Prune:
            if (!positional.empty()) throw UsageError("prune takes no arguments");
            break;
        case Command::Help:
        case Command::Version:
            break;
    }

    if (options.manifestHost.empty()) {
        options.manifestHost = Fallback(environment, "VREXA_MANIFEST_HOST", deployment::kManifestHost);
    }
    options.eventsUrl =
        eventsUrl ? *eventsUrl : Fallback(environment, "VREXA_EVENTS_ANALYTICS_URL", deployment::kEventsAnalyticsUrl);
    // The geolocation service lives beside the events endpoint unless told
    // otherwise; an events URL given on the command line outranks the
    // environment's geolocation URL, which belongs to another events endpoint.
    if (geolocationUrl) {
        options.geolocationUrl = *geolocationUrl;
    } else if (eventsUrl) {
        options.geolocationUrl = *eventsUrl + "/geo-location";
    } else {
        options.geolocationUrl = Fallback(environment, "VREXA_GEOLOCATION_URL", options.eventsUrl + "/geo-location");
    }
    if (options.transferAnalyticsUrl.empty()) {
        options.transferAnalyticsUrl =
            Fallback(environment, "VREXA_TRANSFER_ANALYTICS_URL", deployment::kTransferAnalyticsUrl);
    }
    return options;
}

std::string VersionText() { return std::string("vrexa ") + kVersion + "\n"; }

std::string HelpText() {
    return "Usage:\n"
           "  vrexa download [options] --partner ID --package ID [--version ID] DEST\n"
           "  vrexa verify   [options] --partner ID --package ID [--version ID] DEST\n"
           "  vrexa resume   [options] TRANSFER_ID\n"
           "  vrexa list\n"
           "  vrexa remove TRANSFER_ID\n"
           "  vrexa prune [--older-than DAYS]\n"
           "  vrexa --help | --version\n"
           "\n"
           "Downloads a package from the download network into DEST, checking every\n"
           "chunk; what is already correct on disk is never fetched again. A download\n"
           "that completes forgets its transfer; one stopped or failed is kept for\n"
           "resume. One transfer at a time writes into a folder.\n"
           "\n"
           "Commands:\n"
           "  download   fetch the package (the current version unless --version)\n"
           "  verify     check a package on disk without downloading anything\n"
           "  resume     go on with a stored transfer, by the id download printed\n"
           "  list       print the stored transfers: id, package, version, destination,\n"
           "             and \"running\" for one writing into its destination now\n"
           "  remove     forget a stored transfer (its files stay)\n"
           "  prune      forget every stored transfer not running now; with\n"
           "             --older-than DAYS, only those stored more than DAYS days ago\n"
           "\n"
           "Options:\n"
           "  --partner ID                  partner id\n"
           "  --package ID                  package id\n"
           "  --version ID                  package version (default: current)\n"
           "  --host [https://]HOST[:PORT]  manifest host        [$VREXA_MANIFEST_HOST]\n"
           "  --cacert FILE                 trust the authorities in FILE (PEM) for HTTPS\n"
           "                                instead of the system's     [$SSL_CERT_FILE]\n"
           "  --geolocation-url URL         geolocation service  [$VREXA_GEOLOCATION_URL]\n"
           "  --events-url URL              events analytics     [$VREXA_EVENTS_ANALYTICS_URL]\n"
           "  --transfer-analytics-url URL  transfer analytics   [$VREXA_TRANSFER_ANALYTICS_URL]\n"
           "  --threads N                   transfer threads\n"
           "  --parallel N                  files and chunks worked on at once\n"
           "  --log-mask N                  which log records are written (decimal or 0x...)\n"
           "  --retry N                     retries of a transfer waiting on an error that\n"
           "                                may heal, such as a network failure (default 3)\n"
           "  --retry-wait SECONDS          wait before the first retry, doubled each time\n"
           "                                (default 2)\n"
           "  --trusted-key FILE            trust manifests and node lists signed by this\n"
           "                                public key (repeatable); unsigned ones are then\n"
           "                                refused\n"
           "  --reuse-from DIR              take chunks found in the files of DIR (an older\n"
           "                                install, say) instead of fetching them\n"
           "                                (repeatable; DEST's own old files always count)\n"
           "  --no-analytics                send no analytics documents\n"
           "  -q, --quiet                   print nothing but errors\n"
           "  --json                        one status object per line on stdout\n"
           "  -h, --help                    this text\n"
           "\n"
           "Exit status: 0 complete or verified, 1 the transfer failed, 2 usage error,\n"
           "3 verify found a mismatch, 130 interrupted (the transfer can be resumed).\n";
}

}  // namespace vrexa::cli
