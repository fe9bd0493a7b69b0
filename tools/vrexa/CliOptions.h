#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vrexa::cli {

// ManPage and Completion print the man page and the bash completion script,
// which the build installs; they are not listed in --help.
enum class Command { Help, HelpJson, Version, Download, Verify, Resume, List, Remove, Prune, ManPage, Completion };

// What `vrexa` was asked to do, with every default already applied: a value
// not given on the command line comes from the environment variable the local
// download network prints, then from the deployment value built in.
struct CliOptions {
    Command command = Command::Help;
    std::string partnerId;
    std::string packageId;
    std::string versionId = "?";  // "?" asks for the current version
    std::string dest;             // absolute and lexically normal
    std::string transferId;

    std::string manifestHost;
    std::string caFile;  // empty: SSL_CERT_FILE, else the system's authorities
    std::string geolocationUrl;
    std::string eventsUrl;
    std::string transferAnalyticsUrl;

    // Public key files of the signers whose manifests and node lists are
    // trusted (--trusted-key, repeatable); with any, unsigned documents are
    // refused.
    std::vector<std::string> trustedKeyFiles;
    // Folders of old content (an earlier install) whose files a download may
    // take chunks from instead of fetching them (--reuse-from, repeatable).
    std::vector<std::string> reuseFrom;

    std::optional<int> threads;
    std::optional<int> parallel;
    // Bytes per second all chunk requests take together (--limit-rate); 0: no limit.
    std::uint64_t rateLimit = 0;
    std::optional<std::uint32_t> logMask;
    // How often a transfer waiting on an error that may heal (a network
    // failure, a full disk) is retried before vrexa gives up and keeps it for
    // `vrexa resume`, and the wait before the first retry (doubled each time).
    int retries = 3;
    int retryWaitSeconds = 2;
    bool noAnalytics = false;
    bool quiet = false;
    bool json = false;
    // Failures followed by the engine's own account (status text, libcurl's
    // result).
    bool verbose = false;
    // prune: only entries stored more than this many days ago.
    std::optional<int> olderThanDays;
};

// A command line that cannot be understood; the text says what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Looks up an environment variable; nullopt when it is not set.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;
Environment ProcessEnvironment();

// `args` excludes the program name. `workingDirectory` makes DEST absolute.
CliOptions ParseCommandLine(const std::vector<std::string>& args, const Environment& environment,
                            const std::string& workingDirectory);

// Transfer ids are 32 lower-case hexadecimal digits; they name stored files.
bool IsTransferId(const std::string& text);

std::string HelpText();
std::string VersionText();
// The man page (roff) and a bash completion script, made from the same
// table of options as the parser and HelpText.
std::string ManPageText();
std::string CompletionText();

}  // namespace vrexa::cli
