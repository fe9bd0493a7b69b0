#include "tools/vrexa/CliOptions.h"

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <utility>

#include "tools/vrexa/ExitCode.h"
#include "tools/vrexa/OptionTable.h"
#include "vrexa/DeploymentValues.h"

namespace vrexa::cli {
namespace {

constexpr const char* kVersion = "1.3.4";

// What the options fill while a command line is read; the endpoint defaults
// depend on which endpoints were given, so those wait for the end.
struct ParseState {
    CliOptions& options;
    const std::string& workingDirectory;
    std::optional<std::string> eventsUrl;
    std::optional<std::string> geolocationUrl;
};

struct Option {
    OptionText text;
    // name: as written (for messages); value: empty for a switch.
    void (*apply)(ParseState& state, const std::string& name, const std::string& value);
};

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

// Bytes per second as curl writes them: a whole number, optionally followed by
// K, M or G (either case) for units of 1024, 1024^2 and 1024^3.
std::uint64_t ParseRate(const std::string& option, const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    const std::string unit = text.substr(digits);
    static const std::map<std::string, std::uint64_t> units = {{"", 1},           {"k", 1ull << 10}, {"K", 1ull << 10},
                                                               {"m", 1ull << 20}, {"M", 1ull << 20}, {"g", 1ull << 30},
                                                               {"G", 1ull << 30}};
    const auto scale = units.find(unit);
    std::uint64_t value = 0;
    bool fits = digits > 0 && digits <= 12 && scale != units.end();
    if (fits) {
        value = std::stoull(text.substr(0, digits)) * scale->second;
        fits = value > 0 && value <= (1ull << 40);
    }
    if (!fits) {
        throw UsageError(option + " needs a rate in bytes per second, such as 500K or 2M (at most 1024G), not '" +
                         text + "'");
    }
    return value;
}

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

std::string Absolute(const ParseState& state, const std::string& path) {
    return (std::filesystem::path(state.workingDirectory) / path).lexically_normal().string();
}

// Every option vrexa takes, in the order --help lists them.
const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        {Valued("--partner", "ID", "partner id"),
         [](ParseState& s, const std::string&, const std::string& v) { s.options.partnerId = v; }},
        {Valued("--package", "ID", "package id"),
         [](ParseState& s, const std::string&, const std::string& v) { s.options.packageId = v; }},
        {Valued("--version", "ID", "package version (default: current)"),
         [](ParseState& s, const std::string&, const std::string& v) { s.options.versionId = v; }},
        {Valued("--host", "[https://]HOST[:PORT]", "manifest host").From("VREXA_MANIFEST_HOST"),
         [](ParseState& s, const std::string&, const std::string& v) {
             // A host, reached over HTTPS when it says so; any other scheme
             // would be dropped silently by the engine's plain-HTTP default.
             if (const auto scheme = v.find("://"); scheme != std::string::npos && v.rfind("https://", 0) != 0) {
                 throw UsageError("--host takes a host, not a URL: drop '" + v.substr(0, scheme + 3) +
                                  "' (HOST[:PORT], or https://HOST[:PORT] for HTTPS)");
             }
             s.options.manifestHost = v;
         }},
        {Valued("--cacert", "FILE", "trust the authorities in FILE (PEM) for HTTPS instead of the system's")
             .From("SSL_CERT_FILE"),
         [](ParseState& s, const std::string&, const std::string& v) { s.options.caFile = v; }},
        {Valued("--geolocation-url", "URL", "geolocation service").From("VREXA_GEOLOCATION_URL"),
         [](ParseState& s, const std::string&, const std::string& v) { s.geolocationUrl = v; }},
        {Valued("--events-url", "URL", "events analytics").From("VREXA_EVENTS_ANALYTICS_URL"),
         [](ParseState& s, const std::string&, const std::string& v) { s.eventsUrl = v; }},
        {Valued("--transfer-analytics-url", "URL", "transfer analytics").From("VREXA_TRANSFER_ANALYTICS_URL"),
         [](ParseState& s, const std::string&, const std::string& v) { s.options.transferAnalyticsUrl = v; }},
        {Valued("--threads", "N", "transfer threads"),
         [](ParseState& s, const std::string& n, const std::string& v) { s.options.threads = ParseCount(n, v); }},
        {Valued("--parallel", "N", "files and chunks worked on at once"),
         [](ParseState& s, const std::string& n, const std::string& v) { s.options.parallel = ParseCount(n, v); }},
        {Valued("--limit-rate", "RATE",
                "keep the download to RATE bytes per second, all requests together; K, M and G mean units of "
                "1024, 1024^2 and 1024^3 (500K, 2M)")
             .Only({"download", "resume"}),
         [](ParseState& s, const std::string& n, const std::string& v) { s.options.rateLimit = ParseRate(n, v); }},
        {Valued("--log-mask", "N", "which log records are written (decimal or 0x...)"),
         [](ParseState& s, const std::string&, const std::string& v) { s.options.logMask = ParseMask(v); }},
        {Valued("--retry", "N",
                "retries of a transfer waiting on an error that may heal, such as a network failure (default 3)"),
         [](ParseState& s, const std::string& n, const std::string& v) {
             s.options.retries = ParseNumber(n, v, 0, 100);
         }},
        {Valued("--retry-wait", "SECONDS", "wait before the first retry, doubled each time (default 2)"),
         [](ParseState& s, const std::string& n, const std::string& v) {
             s.options.retryWaitSeconds = ParseNumber(n, v, 0, 3600);
         }},
        {Valued("--trusted-key", "FILE",
                "trust manifests and node lists signed by this public key; unsigned ones are then refused")
             .Repeatable(),
         [](ParseState& s, const std::string&, const std::string& v) {
             if (v.empty()) throw UsageError("--trusted-key needs a public key file");
             s.options.trustedKeyFiles.push_back(Absolute(s, v));
         }},
        {Valued("--reuse-from", "DIR",
                "take chunks found in the files of DIR (an older install, say) instead of fetching them; "
                "DEST's own old files always count")
             .Only({"download", "resume"})
             .Repeatable(),
         [](ParseState& s, const std::string&, const std::string& v) {
             if (v.empty()) throw UsageError("--reuse-from needs a folder");
             s.options.reuseFrom.push_back(Absolute(s, v));
         }},
        {Valued("--older-than", "DAYS", "prune: only the transfers stored more than DAYS days ago").Only({"prune"}),
         [](ParseState& s, const std::string& n, const std::string& v) {
             s.options.olderThanDays = ParseNumber(n, v, 0, 36500);
         }},
        {Switch("--no-analytics", "send no analytics documents"),
         [](ParseState& s, const std::string&, const std::string&) { s.options.noAnalytics = true; }},
        {Switch("--verbose", "after a failure, also the engine's own account of it (status text, libcurl's result)")
             .Short("-v"),
         [](ParseState& s, const std::string&, const std::string&) { s.options.verbose = true; }},
        {Switch("--quiet", "print nothing but errors").Short("-q"),
         [](ParseState& s, const std::string&, const std::string&) { s.options.quiet = true; }},
        {Switch("--json", "one JSON object per line on stdout (see vrexa help json)"),
         [](ParseState& s, const std::string&, const std::string&) { s.options.json = true; }},
        {Switch("--help", "this text").Short("-h"),
         [](ParseState& s, const std::string&, const std::string&) { s.options.command = Command::Help; }},
    };
    return options;
}

const std::vector<CommandText>& Commands() {
    static const std::vector<CommandText> commands = {
        {"download", "[options] --partner ID --package ID [--version ID] DEST",
         "fetch the package (the current version unless --version)", "DIR"},
        {"verify", "[options] --partner ID --package ID [--version ID] DEST",
         "check a package on disk without downloading anything", "DIR"},
        {"resume", "[options] TRANSFER_ID", "go on with a stored transfer, by the id download printed", "TRANSFER_ID"},
        {"list", "",
         "print the stored transfers: id, package, version, destination, and \"running\" for one "
         "writing into its destination now",
         ""},
        {"remove", "TRANSFER_ID", "forget a stored transfer (its files stay)", "TRANSFER_ID"},
        {"prune", "[--older-than DAYS]",
         "forget every stored transfer not running now; with --older-than DAYS, only those stored more than DAYS "
         "days ago",
         ""},
        {"help", "[json]", "this text; with json, the shape of every line --json writes", ""},
    };
    return commands;
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

// The option a word names (long, or short); nullptr when there is none.
const Option* FindOption(const std::string& name) {
    for (const Option& option : Options()) {
        if (option.text.name == name || (!option.text.shortName.empty() && option.text.shortName == name)) {
            return &option;
        }
    }
    return nullptr;
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

    const std::string& first = args[0];
    // "vrexa help json", "vrexa --help json": the shape of --json's lines.
    if (args.size() == 2 && (first == "--help" || first == "help") && args[1] == "json") {
        options.command = Command::HelpJson;
        return options;
    }
    if (first == "--help" || first == "-h") {
        options.command = Command::Help;
        return options;
    }
    if (first == "--version" || first == "-V") {
        options.command = Command::Version;
        return options;
    }
    // Hidden: for the build, which installs what they print.
    if (first == "--help-man") {
        options.command = Command::ManPage;
        return options;
    }
    if (first == "--help-completion") {
        options.command = Command::Completion;
        return options;
    }
    // Options may come before or after the command word, as with most
    // tools; whether one belongs to the command is known once the word is.
    struct Given {
        const Option* option;
        std::string name;
        std::string value;
    };
    std::vector<Given> given;
    std::vector<std::string> positional;
    std::optional<std::string> commandWord;
    bool optionsEnded = false;
    for (std::size_t next = 0; next < args.size(); ++next) {
        const std::string& arg = args[next];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!commandWord) {
                commandWord = arg;
            } else {
                positional.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto equals = arg.find('='); equals != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const Option* option = FindOption(name);
        if (option == nullptr) throw UsageError("unknown option '" + name + "'");
        if (!option->text.TakesValue()) {
            if (value) throw UsageError(name + " takes no value");
            if (option->text.name == "--help") {
                options.command = Command::Help;
                return options;
            }
            given.push_back({option, name, {}});
            continue;
        }
        if (!value) {
            if (next + 1 >= args.size()) throw UsageError(name + " needs a value");
            value = args[++next];
        }
        // One value replacing another unseen is how a script's mistake goes
        // unnoticed: a value is given once, unless the option collects.
        if (!option->text.repeatable) {
            for (const Given& earlier : given) {
                if (earlier.option == option) throw UsageError(option->text.name + " is given more than once");
            }
        }
        given.push_back({option, name, *value});
    }
    if (!commandWord) throw UsageError("no command given");
    options.command = ParseCommand(*commandWord);

    ParseState state{options, workingDirectory, std::nullopt, std::nullopt};
    for (const Given& option : given) {
        if (!option.option->text.AppliesTo(*commandWord)) throw UsageError("unknown option '" + option.name + "'");
        option.option->apply(state, option.name, option.value);
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
            options.dest = Absolute(state, positional[0]);
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
        default:
            break;
    }

    if (options.manifestHost.empty()) {
        options.manifestHost = Fallback(environment, "VREXA_MANIFEST_HOST", deployment::kManifestHost);
    }
    const std::optional<std::string>& eventsUrl = state.eventsUrl;
    options.eventsUrl =
        eventsUrl ? *eventsUrl : Fallback(environment, "VREXA_EVENTS_ANALYTICS_URL", deployment::kEventsAnalyticsUrl);
    // The geolocation service lives beside the events endpoint unless told
    // otherwise; an events URL given on the command line outranks the
    // environment's geolocation URL, which belongs to another events endpoint.
    if (state.geolocationUrl) {
        options.geolocationUrl = *state.geolocationUrl;
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

CommandLineText CommandLine() {
    CommandLineText text;
    text.program = "vrexa";
    text.version = kVersion;
    text.summary = "download packages from the download network, checking every chunk";
    text.description =
        "Downloads a package from the download network into DEST, checking every chunk; what is already correct "
        "on disk is never fetched again. A download that completes forgets its transfer; one stopped or failed is "
        "kept for resume. One transfer at a time writes into a folder.\n\n"
        "Stored transfers, logs and destination locks are kept in $XDG_CACHE_HOME/Quenlar/Vrexa "
        "(~/.cache/Quenlar/Vrexa when it is not set), a folder private to the user.";
    text.commands = Commands();
    text.sections = {
        {"Files",
         "$XDG_CACHE_HOME/Quenlar/Vrexa (~/.cache/Quenlar/Vrexa when XDG_CACHE_HOME is not set): the stored "
         "transfers (transfers/), the logs (logs/) and the destination locks (locks/). The folder is made private "
         "to the user and refused when it is a link or another user's."},
        {"Environment",
         "VREXA_MANIFEST_HOST, VREXA_GEOLOCATION_URL, VREXA_EVENTS_ANALYTICS_URL and VREXA_TRANSFER_ANALYTICS_URL "
         "give the endpoints when the options do not; SSL_CERT_FILE the authorities trusted for HTTPS; "
         "http_proxy, https_proxy, all_proxy and no_proxy the proxy."},
        {"Output",
         "Progress goes to standard output, errors to standard error as one sentence naming what failed and "
         "where. With --json every line of standard output is one JSON object; vrexa help json describes "
         "them."},
    };
    for (const Option& option : Options())
        text.options.push_back(option.text);
    text.exits = {
        {kExitComplete, "complete or verified"},
        {kExitFailed, "any other failure"},
        {kExitUsage, "usage error"},
        {kExitMismatch, "verify: the package on disk does not match"},
        {kExitAuthenticity, "a manifest or node list failed its signature check"},
        {kExitNotFound, "not found: partner, package or version (HTTP 404 or 410)"},
        {kExitNetwork, "network: resolve, connect, TLS, time-out, server failure (HTTP 5xx)"},
        {kExitFileSystem, "local file system: no space, no permission, destination in use"},
        {kExitHangup, "hung up (SIGHUP); the transfer is kept for resume"},
        {kExitInterrupted, "interrupted (SIGINT); the transfer is kept for resume"},
        {kExitTerminated, "terminated (SIGTERM); the transfer is kept for resume"},
    };
    return text;
}

std::string HelpText() {
    const CommandLineText text = CommandLine();
    std::string out = "Usage:\n";
    for (const CommandText& command : text.commands) {
        if (command.word == "help") continue;
        std::string word = command.word;
        if (!command.synopsis.empty()) word.resize(std::max<std::size_t>(word.size(), 8), ' ');
        out += "  " + text.program + " " + word + (command.synopsis.empty() ? "" : " " + command.synopsis) + "\n";
    }
    out += "  " + text.program + " --help | --version\n\n";
    for (std::size_t from = 0; from < text.description.size();) {
        const std::size_t end = std::min(text.description.find("\n\n", from), text.description.size());
        out += Wrap(text.description.substr(from, end - from), 0, 79) + "\n";
        from = end + 2;
    }
    out += "Commands:\n";
    for (const CommandText& command : text.commands) {
        if (command.word == "help") continue;
        std::string line = "  " + command.word;
        line.resize(13, ' ');
        out += line + Wrap(command.help, 13, 79).substr(13);
    }
    out += "\nOptions:\n" + OptionsHelp(text.options) + "\nExit status:\n";
    for (const ExitText& exit : text.exits) {
        std::string line = "  " + std::to_string(exit.code);
        line.resize(8, ' ');
        out += line + Wrap(exit.meaning, 8, 79).substr(8);
    }
    return out;
}

std::string ManPageText() { return ManPage(CommandLine()); }

std::string CompletionText() { return BashCompletion(CommandLine()); }

}  // namespace vrexa::cli
