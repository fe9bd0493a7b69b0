#include "tools/publish/PublishOptions.h"

#include <charconv>
#include <functional>
#include <iterator>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>

namespace vrexa::publish {
namespace {

template <typename Number>
std::optional<Number> ParseDecimal(std::string_view text) {
    Number value{};
    if (text.empty()) {
        return std::nullopt;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string NormalizeNodePath(std::string path) {
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    if (path.back() != '/') {
        path.push_back('/');
    }
    return path;
}

void CheckAuthority(std::string_view host, std::string_view nodeText) {
    std::string_view name = host;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {  // an IPv6 literal
        auto close = host.find(']');
        if (close == std::string_view::npos || close == 1) {
            throw UsageError("--node " + std::string(nodeText) + ": unterminated IPv6 address");
        }
        name = host.substr(0, close + 1);
        std::string_view rest = host.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                throw UsageError("--node " + std::string(nodeText) + ": unexpected text after the IPv6 address");
            }
            port = rest.substr(1);
            if (port.empty()) {
                throw UsageError("--node " + std::string(nodeText) + ": the port after ':' is missing");
            }
        }
    } else if (auto colon = host.rfind(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
        if (port.empty()) {
            throw UsageError("--node " + std::string(nodeText) + ": the port after ':' is missing");
        }
    }
    if (name.empty()) {
        throw UsageError("--node " + std::string(nodeText) + ": the host is missing");
    }
    for (char c : name) {
        bool colonOutsideBrackets = c == ':' && name.front() != '[';
        if (c == '@' || c == '?' || c == '#' || colonOutsideBrackets || static_cast<unsigned char>(c) <= ' ' ||
            c == 0x7F) {
            throw UsageError("--node " + std::string(nodeText) + ": the host holds a character a URL host cannot");
        }
    }
    if (!port.empty()) {
        auto number = ParseDecimal<std::uint32_t>(port);
        if (!number || *number == 0 || *number > 65535) {
            throw UsageError("--node " + std::string(nodeText) + ": the port must be a number from 1 to 65535");
        }
    }
}

}  // namespace

NodeSpec ParseNodeSpec(std::string_view text) {
    const std::string nodeText(text);
    auto equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        throw UsageError("--node " + nodeText + ": expected ID=[https://]HOST[:PORT][/PATH][@WEIGHT]");
    }
    NodeSpec node;
    node.id = std::string(text.substr(0, equals));
    std::string_view rest = text.substr(equals + 1);

    if (auto at = rest.rfind('@'); at != std::string_view::npos) {
        auto weight = ParseDecimal<std::uint32_t>(rest.substr(at + 1));
        if (!weight) {
            throw UsageError("--node " + nodeText + ": the weight must be a whole number from 0 to 4294967295");
        }
        node.weight = *weight;
        rest = rest.substr(0, at);
    }

    // A node reached over TLS keeps its scheme in front of the host.
    static constexpr std::string_view kSecure = "https://";
    const bool secure = rest.substr(0, kSecure.size()) == kSecure;
    if (secure) rest.remove_prefix(kSecure.size());
    auto slash = rest.find('/');
    std::string_view host = rest.substr(0, slash);
    CheckAuthority(host, nodeText);
    node.host = (secure ? std::string(kSecure) : std::string()) + std::string(host);
    if (slash != std::string_view::npos) {
        std::string_view path = rest.substr(slash);
        for (char c : path) {
            if (c == '?' || c == '#' || static_cast<unsigned char>(c) <= ' ' || c == 0x7F) {
                throw UsageError("--node " + nodeText + ": the path holds a character a URL path cannot");
            }
        }
        node.path = NormalizeNodePath(std::string(path));
    }
    return node;
}

CountryPolicy ParseCountryPolicy(std::string_view text) {
    for (auto policy : {CountryPolicy::None, CountryPolicy::Whitelist, CountryPolicy::Blacklist}) {
        if (text == CountryPolicyName(policy)) {
            return policy;
        }
    }
    throw UsageError("--policy must be None, Whitelist or Blacklist, not \"" + std::string(text) + "\"");
}

std::string_view CountryPolicyName(CountryPolicy policy) {
    switch (policy) {
        case CountryPolicy::Whitelist:
            return "Whitelist";
        case CountryPolicy::Blacklist:
            return "Blacklist";
        case CountryPolicy::None:
            break;
    }
    return "None";
}

namespace {

using tools::Option;

// Every option of the command line: the parser, --help, the man page and the
// shell completion are all made from this one table.
constexpr Option kOptions[] = {
    {"--partner", "", "ID", "partner id (also names the node list)"},
    {"--package", "", "ID", "package id"},
    {"--version", "", "ID", "version id of what is published"},
    {"--name", "", "NAME", "the package's display name"},
    {"--run", "", "PATH",
     "the file started after the download, as a path under SOURCE_DIR with \"/\" separators (for example "
     "setup/run.exe)"},
    {"--chunk-size", "", "BYTES", "chunk size in bytes (default 1048576)"},
    {"--inactive", "", "", "mark the version as not active"},
    {"--policy", "", "POLICY",
     "country policy: None (default), Whitelist (only the listed countries may download) or Blacklist (all but the "
     "listed countries may)"},
    {"--country", "", "CC", "a two-letter country code for the policy; repeatable", false, true},
    {"--no-current", "", "", "leave manifests/PACKAGE/current.xml as it is"},
    {"--replace", "", "",
     "publish a version that is already published once more: its manifests are written anew (name, policy, chunk "
     "size, ...), but only when its files are the same bytes; clients may be downloading them, so they never "
     "change"},
    {"--node", "", "NODE",
     "a download node, ID=[https://]HOST[:PORT][/PATH][@WEIGHT]; repeatable. PATH defaults to /packages/, WEIGHT "
     "to 1. A node whose id is already in the node list replaces it; the others stay.",
     false, true},
    {"--remove-node", "", "ID", "take this node out of the node list; repeatable", false, true},
    {"--nodes-only", "", "", "only write or update nodes/PARTNER.xml"},
    {"--set-current", "", "VERSION",
     "only make VERSION, already published, the current one (to roll back, or to release a --no-current "
     "version); its files are checked against its manifest first"},
    {"--sign-key", "", "FILE",
     "sign every manifest and node list written with this secret key: DOCUMENT.minisig beside each. An encrypted "
     "key is opened with the password in $VREXA_SIGN_PASSWORD"},
    {"--serial", "", "N",
     "the signatures' serial (default: the current time in seconds); clients refuse a document whose serial is "
     "lower than one they have already accepted"},
    {"--expires", "", "DAYS", "how long the signatures are valid (default 90)"},
    {"--program-version", "-V", "", "print the program's version"},
    {"--help", "-h", "", "show this text"},
    // For the build, which installs what they print.
    {"--help-man", "", "", "print the man page vrexa-publish.1 in roff", true},
    {"--help-completion", "", "", "print the bash completion script", true},
};

constexpr std::string_view kSynopsis[] = {
    "vrexa-publish --partner ID --package ID --version ID --name NAME [--run PATH] [--chunk-size BYTES] "
    "[--inactive] [--policy None|Whitelist|Blacklist --country CC ...] [--no-current] [--replace] "
    "[--node ID=HOST[:PORT][/PATH][@WEIGHT] ...] [--remove-node ID ...] [--sign-key FILE [--serial N] "
    "[--expires DAYS]] SOURCE_DIR OUTPUT_DIR",
    "vrexa-publish --nodes-only --partner ID [--node ID=HOST[:PORT][/PATH][@WEIGHT] ...] [--remove-node ID ...] "
    "OUTPUT_DIR",
    "vrexa-publish --set-current VERSION --partner ID --package ID OUTPUT_DIR",
};

constexpr std::string_view kDescription =
    "Publishes the files under SOURCE_DIR as one version of a package, laid out in OUTPUT_DIR the way the "
    "manifest cache host and the download nodes serve it: manifests/PACKAGE/VERSION.xml (the package manifest of "
    "this version), manifests/PACKAGE/current.xml (the same manifest, as the current version), "
    "packages/PARTNER/PACKAGE/VERSION/ (the files, at their paths under SOURCE_DIR) and nodes/PARTNER.xml (the "
    "partner's node list, with --node).\n\n"
    "Every file is split into chunks of the chunk size; the manifest lists each file's path, size, chunk size and "
    "the CRC-32 of each chunk.";

constexpr std::string_view kFileNames =
    "File names may hold spaces, \"?\", \"#\", \"%\", \":\" and letters of any script; they must be UTF-8 and "
    "hold no \"\\\" or control character.";

constexpr std::string_view kSafety =
    "Nothing is written when the input cannot be published correctly: a run path that is not among the files, an "
    "identifier or file name that cannot form a download path, a file with more chunks than a manifest can hold, "
    "or a version that is already published (without --replace, or with other files). Everything is written into "
    "a temporary folder inside OUTPUT_DIR first and moved into place one rename at a time: the files, then the "
    "manifests that name them, the current manifest last. Killed at any moment, OUTPUT_DIR serves only complete "
    "manifests of complete files; the next run removes what was left over. Two runs on one OUTPUT_DIR at once are "
    "refused.";

constexpr std::string_view kExitStatus = "0 published, 1 refused or failed, 2 wrong command line.";

}  // namespace

tools::OptionTable PublishOptionTable() { return kOptions; }

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    PublishOptions& options = line.options;
    std::vector<std::string> positional;
    std::map<std::string, bool> seen;
    bool policyGiven = false;

    // What each option of the table does with its value.
    const std::map<std::string_view, std::function<void(const std::string&)>> apply = {
        {"--partner", [&](const std::string& v) { options.partnerId = v; }},
        {"--package", [&](const std::string& v) { options.packageId = v; }},
        {"--version", [&](const std::string& v) { options.versionId = v; }},
        {"--name", [&](const std::string& v) { options.name = v; }},
        {"--run", [&](const std::string& v) { options.run = v; }},
        {"--chunk-size",
         [&](const std::string& v) {
             auto size = ParseDecimal<std::uint32_t>(v);
             if (!size || *size == 0) {
                 throw UsageError("--chunk-size must be a whole number of bytes from 1 to 4294967295, not \"" + v +
                                  "\"");
             }
             options.chunkSize = *size;
         }},
        {"--inactive", [&](const std::string&) { options.active = false; }},
        {"--policy",
         [&](const std::string& v) {
             options.policy = ParseCountryPolicy(v);
             policyGiven = true;
         }},
        {"--country", [&](const std::string& v) { options.countries.push_back(v); }},
        {"--no-current", [&](const std::string&) { options.writeCurrent = false; }},
        {"--replace", [&](const std::string&) { options.replace = true; }},
        {"--nodes-only", [&](const std::string&) { options.nodesOnly = true; }},
        {"--node", [&](const std::string& v) { options.nodes.push_back(ParseNodeSpec(v)); }},
        {"--remove-node",
         [&](const std::string& v) {
             if (v.empty()) {
                 throw UsageError("--remove-node needs a node id");
             }
             options.removeNodes.push_back(v);
         }},
        {"--set-current",
         [&](const std::string& v) {
             if (v.empty()) {
                 throw UsageError("--set-current needs a version id");
             }
             options.setCurrent = v;
         }},
        {"--sign-key",
         [&](const std::string& v) {
             if (v.empty()) {
                 throw UsageError("--sign-key needs a secret key file");
             }
             options.signKey = v;
         }},
        {"--serial",
         [&](const std::string& v) {
             const auto serial = ParseDecimal<std::uint64_t>(v);
             if (!serial) {
                 throw UsageError("--serial must be a whole number from 0 to 18446744073709551615, not \"" + v + "\"");
             }
             options.serial = *serial;
         }},
        {"--expires",
         [&](const std::string& v) {
             const auto days = ParseDecimal<std::uint64_t>(v);
             if (!days || *days == 0 || *days > 36500) {
                 throw UsageError("--expires must be a whole number of days from 1 to 36500, not \"" + v + "\"");
             }
             options.expiresDays = static_cast<std::uint32_t>(*days);
         }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg.front() != '-') {
            positional.push_back(arg);
            continue;
        }
        std::optional<std::string> inlineValue;
        if (arg.starts_with("--")) {
            if (auto equals = arg.find('='); equals != std::string::npos) {
                inlineValue = arg.substr(equals + 1);
                arg.resize(equals);
            }
        }
        const Option* option = tools::FindOption(kOptions, arg);
        if (option == nullptr) {
            throw UsageError("unknown option " + arg);
        }
        const std::string name(option->name);
        if (option->argument.empty() && inlineValue) {
            throw UsageError(arg + " takes no value");
        }
        // What is printed instead of publishing wins over everything else.
        if (name == "--help") {
            line.help = true;
            return line;
        }
        if (name == "--help-man") {
            line.manPage = true;
            return line;
        }
        if (name == "--help-completion") {
            line.completion = true;
            return line;
        }
        if (name == "--program-version") {
            line.programVersion = true;
            return line;
        }
        if (!option->repeatable) {
            if (seen[name]) {
                throw UsageError(name + " is given more than once");
            }
        }
        seen[name] = true;
        std::string value;
        if (!option->argument.empty()) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 >= args.size()) {
                throw UsageError(arg + " needs a value");
            } else {
                value = args[++i];
            }
        }
        apply.at(option->name)(value);
    }

    if (!seen["--partner"]) {
        throw UsageError("--partner is required");
    }
    if ((seen["--serial"] || seen["--expires"]) && !seen["--sign-key"]) {
        throw UsageError(std::string(seen["--serial"] ? "--serial" : "--expires") + " needs --sign-key");
    }
    auto unusedWith = [&](const char* mode, std::initializer_list<const char*> unused) {
        for (const char* option : unused) {
            if (seen[option]) {
                throw UsageError(std::string(option) + " has no use with " + mode);
            }
        }
        if (!options.countries.empty()) {
            throw UsageError(std::string("--country has no use with ") + mode);
        }
    };
    if (options.nodesOnly) {
        unusedWith("--nodes-only", {"--package", "--version", "--name", "--run", "--chunk-size", "--inactive",
                                    "--policy", "--no-current", "--replace", "--set-current"});
        if (options.nodes.empty() && options.removeNodes.empty()) {
            throw UsageError("--nodes-only needs at least one --node or --remove-node");
        }
        if (positional.size() != 1) {
            throw UsageError("--nodes-only takes exactly one folder: OUTPUT_DIR");
        }
        options.outputDir = positional[0];
        return line;
    }
    if (seen["--set-current"]) {
        unusedWith("--set-current", {"--version", "--name", "--run", "--chunk-size", "--inactive", "--policy",
                                     "--no-current", "--replace"});
        if (!options.nodes.empty() || !options.removeNodes.empty()) {
            throw UsageError("--set-current changes no node list; use --nodes-only for that");
        }
        if (!seen["--package"]) {
            throw UsageError("--package is required");
        }
        if (positional.size() != 1) {
            throw UsageError("--set-current takes exactly one folder: OUTPUT_DIR");
        }
        options.outputDir = positional[0];
        return line;
    }

    for (const char* required : {"--package", "--version", "--name"}) {
        if (!seen[required]) {
            throw UsageError(std::string(required) + " is required");
        }
    }
    if (!options.countries.empty() && !policyGiven) {
        throw UsageError("--country needs --policy Whitelist or Blacklist");
    }
    if (positional.size() != 2) {
        throw UsageError("expected two folders, SOURCE_DIR and OUTPUT_DIR, after the options");
    }
    options.sourceDir = positional[0];
    options.outputDir = positional[1];
    return line;
}

std::string HelpText() {
    std::string text;
    for (std::size_t i = 0; i < std::size(kSynopsis); ++i) {
        text += std::string(i == 0 ? "Usage: " : "       ") + tools::WrapForHelp(kSynopsis[i], 21, 7);
    }
    text += "\n" + tools::WrapForHelp(kDescription) + "\nOptions:\n" + tools::OptionsHelp(kOptions) + "\n" +
            tools::WrapForHelp(kFileNames) + "\n" + tools::WrapForHelp(kSafety) + "\n" +
            tools::WrapForHelp("Exit status: " + std::string(kExitStatus));
    return text;
}

std::string ManPageText() {
    tools::ManPageText page;
    page.program = "vrexa-publish";
    page.section = "1";
    page.summary = "publish a package version for the download nodes and the manifest cache host";
    page.synopsis.assign(std::begin(kSynopsis), std::end(kSynopsis));
    page.description = kDescription;
    page.sections = {{"FILE NAMES", kFileNames}, {"SAFETY", kSafety}, {"EXIT STATUS", kExitStatus}};
    return tools::ManPage(page, kOptions);
}

std::string CompletionText() { return tools::BashCompletion("vrexa-publish", kOptions); }

std::string ProgramVersionText() { return std::string("vrexa-publish ") + VREXA_PROGRAM_VERSION + "\n"; }

}  // namespace vrexa::publish
