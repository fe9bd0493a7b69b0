#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/OptionTable.h"

namespace vrexa::publish {

// Chunks of 1 MiB keep a manifest small for large packages while a failed
// chunk costs little to fetch again.
inline constexpr std::uint32_t kDefaultChunkSize = 1024 * 1024;

// The node path the engine assumes when a node list gives none; it is also
// where the publisher lays the packages out.
inline constexpr std::string_view kDefaultNodePath = "/packages/";

enum class CountryPolicy { None, Whitelist, Blacklist };

// One download node of a node list.
struct NodeSpec {
    std::string id;
    std::string host;                                  // host[:port], used by the engine as the URL's authority
    std::string path = std::string(kDefaultNodePath);  // begins and ends with "/"
    std::uint32_t weight = 1;

    bool operator==(const NodeSpec&) const = default;
};

struct PublishOptions {
    std::string partnerId;
    std::string packageId;
    std::string versionId;
    std::string name;
    std::string run;  // manifest path of the run file; empty: none
    std::uint32_t chunkSize = kDefaultChunkSize;
    bool active = true;
    CountryPolicy policy = CountryPolicy::None;
    std::vector<std::string> countries;
    bool writeCurrent = true;
    // A published version is what clients are downloading: its files never
    // change. With replace, its manifests are written anew (name, policy,
    // chunk size, ...) as long as the files are the same bytes.
    bool replace = false;
    // Only write or update the partner's node list.
    bool nodesOnly = false;
    std::vector<NodeSpec> nodes;
    // Ids of nodes to take out of the partner's node list.
    std::vector<std::string> removeNodes;
    // When set, only point the current manifest at this published version.
    std::string setCurrent;
    // A secret key file: every manifest and node list written then gets a
    // signature file beside it, DOCUMENT.minisig. signPassword opens an
    // encrypted key (the program takes it from its environment, never from
    // the command line where others could read it).
    std::filesystem::path signKey;
    std::string signPassword;
    // What the signatures' trusted comments say: a serial that clients never
    // let go down (default: now, in seconds) and how many days they stay
    // valid.
    std::optional<std::uint64_t> serial;
    std::uint32_t expiresDays = 90;
    std::filesystem::path sourceDir;  // empty with nodesOnly
    std::filesystem::path outputDir;
};

// A command line that cannot be understood; the text says what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the command line asks for: one of the texts below printed, or (none
// of them set) the options published.
struct CommandLine {
    bool help = false;
    bool manPage = false;
    bool completion = false;
    bool programVersion = false;
    PublishOptions options;
};

// "ID=HOST[:PORT][/PATH][@WEIGHT]". The path gets a leading and a trailing "/"
// where missing; without one the node serves kDefaultNodePath.
NodeSpec ParseNodeSpec(std::string_view text);

CountryPolicy ParseCountryPolicy(std::string_view text);
std::string_view CountryPolicyName(CountryPolicy policy);

// `args` excludes the program name. Checks the syntax and that every required
// option is present; what the values mean is checked by Publish.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Every option the command line takes, with its help line.
tools::OptionTable PublishOptionTable();

// --help: the usage, what the program does, the options, exit status.
std::string HelpText();
// --help-man: the man page vrexa-publish.1 in roff.
std::string ManPageText();
// --help-completion: a bash completion script.
std::string CompletionText();
// --program-version: "vrexa-publish VERSION".
std::string ProgramVersionText();

}  // namespace vrexa::publish
