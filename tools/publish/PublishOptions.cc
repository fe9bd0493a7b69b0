#include "tools/publish/PublishOptions.h"

#include <charconv>
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

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    PublishOptions& options = line.options;
    std::vector<std::string> positional;
    std::map<std::string, bool> seen;
    bool policyGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.starts_with("--")) {
            if (auto equals = arg.find('='); equals != std::string::npos) {
                inlineValue = arg.substr(equals + 1);
                arg.resize(equals);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= args.size()) {
                throw UsageError(arg + " needs a value");
            }
            return args[++i];
        };
        auto once = [&](const std::string& name) {
            if (seen[name]) {
                throw UsageError(name + " is given more than once");
            }
            seen[name] = true;
        };
        auto flag = [&]() {
            if (inlineValue) {
                throw UsageError(arg + " takes no value");
            }
            once(arg);
        };

        if (arg == "--sign-key") {
            once(arg);
            options.signKey = value();
            if (options.signKey.empty()) {
                throw UsageError("--sign-key needs a secret key file");
            }
            continue;
        }
        if (arg == "--serial" || arg == "--expires") {
            once(arg);
            const std::string text = value();
            const auto number = ParseDecimal<std::uint64_t>(text);
            if (arg == "--serial") {
                if (!number) {
                    throw UsageError("--serial must be a whole number from 0 to 18446744073709551615, not \"" + text +
                                     "\"");
                }
                options.serial = *number;
            } else {
                if (!number || *number == 0 || *number > 36500) {
                    throw UsageError("--expires must be a whole number of days from 1 to 36500, not \"" + text + "\"");
                }
                options.expiresDays = static_cast<std::uint32_t>(*number);
            }
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            return line;
        } else if (arg == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else if (arg == "--partner") {
            once(arg);
            options.partnerId = value();
        } else if (arg == "--package") {
            once(arg);
            options.packageId = value();
        } else if (arg == "--version") {
            once(arg);
            options.versionId = value();
        } else if (arg == "--name") {
            once(arg);
            options.name = value();
        } else if (arg == "--run") {
            once(arg);
            options.run = value();
        } else if (arg == "--chunk-size") {
            once(arg);
            std::string text = value();
            auto size = ParseDecimal<std::uint32_t>(text);
            if (!size || *size == 0) {
                throw UsageError("--chunk-size must be a whole number of bytes from 1 to 4294967295, not \"" + text +
                                 "\"");
            }
            options.chunkSize = *size;
        } else if (arg == "--inactive") {
            flag();
            options.active = false;
        } else if (arg == "--policy") {
            once(arg);
            options.policy = ParseCountryPolicy(value());
            policyGiven = true;
        } else if (arg == "--country") {
            options.countries.push_back(value());
        } else if (arg == "--no-current") {
            flag();
            options.writeCurrent = false;
        } else if (arg == "--replace") {
            flag();
            options.replace = true;
        } else if (arg == "--nodes-only") {
            flag();
            options.nodesOnly = true;
        } else if (arg == "--node") {
            options.nodes.push_back(ParseNodeSpec(value()));
        } else if (arg == "--remove-node") {
            options.removeNodes.push_back(value());
            if (options.removeNodes.back().empty()) {
                throw UsageError("--remove-node needs a node id");
            }
        } else if (arg == "--set-current") {
            once(arg);
            options.setCurrent = value();
            if (options.setCurrent.empty()) {
                throw UsageError("--set-current needs a version id");
            }
        } else if (arg.size() > 1 && arg.front() == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
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

std::string_view HelpText() {
    return R"(Usage: vrexa-publish --partner ID --package ID --version ID --name NAME
                     [--run PATH] [--chunk-size BYTES] [--inactive]
                     [--policy None|Whitelist|Blacklist --country CC ...]
                     [--no-current] [--replace]
                     [--node ID=HOST[:PORT][/PATH][@WEIGHT] ...] [--remove-node ID ...]
                     [--sign-key FILE [--serial N] [--expires DAYS]]
                     SOURCE_DIR OUTPUT_DIR
       vrexa-publish --nodes-only --partner ID [--node ID=HOST[:PORT][/PATH][@WEIGHT] ...]
                     [--remove-node ID ...] OUTPUT_DIR
       vrexa-publish --set-current VERSION --partner ID --package ID OUTPUT_DIR

Publishes the files under SOURCE_DIR as one version of a package, laid out in
OUTPUT_DIR the way the manifest cache host and the download nodes serve it:

  manifests/PACKAGE/VERSION.xml       the package manifest of this version
  manifests/PACKAGE/current.xml       the same manifest, as the current version
  packages/PARTNER/PACKAGE/VERSION/   the files, at their paths under SOURCE_DIR
  nodes/PARTNER.xml                   the partner's node list (with --node)

Every file is split into chunks of the chunk size; the manifest lists each
file's path, size, chunk size and the CRC-32 of each chunk.

Options:
  --partner ID        partner id (also names the node list)
  --package ID        package id
  --version ID        version id of what is published
  --name NAME         the package's display name
  --run PATH          the file started after the download, as a path under
                      SOURCE_DIR with "/" separators (for example setup/run.exe)
  --chunk-size BYTES  chunk size in bytes (default 1048576)
  --inactive          mark the version as not active
  --policy POLICY     country policy: None (default), Whitelist (only the
                      listed countries may download) or Blacklist (all but the
                      listed countries may)
  --country CC        a two-letter country code for the policy; repeatable
  --no-current        leave manifests/PACKAGE/current.xml as it is
  --replace           publish a version that is already published once more:
                      its manifests are written anew (name, policy, chunk
                      size, ...), but only when its files are the same bytes;
                      clients may be downloading them, so they never change
  --node NODE         a download node, ID=[https://]HOST[:PORT][/PATH][@WEIGHT]; repeatable.
                      PATH defaults to /packages/, WEIGHT to 1. A node whose id
                      is already in the node list replaces it; the others stay.
  --remove-node ID    take this node out of the node list; repeatable
  --nodes-only        only write or update nodes/PARTNER.xml
  --set-current VERSION
                      only make VERSION, already published, the current one
                      (to roll back, or to release a --no-current version);
                      its files are checked against its manifest first
  --sign-key FILE     sign every manifest and node list written with this
                      secret key: DOCUMENT.minisig beside each. An encrypted
                      key is opened with the password in $VREXA_SIGN_PASSWORD
  --serial N          the signatures' serial (default: the current time in
                      seconds); clients refuse a document whose serial is
                      lower than one they have already accepted
  --expires DAYS      how long the signatures are valid (default 90)
  --help              show this text

File names may hold spaces, "?", "#", "%", ":" and letters of any script; they
must be UTF-8 and hold no "\" or control character.

Nothing is written when the input cannot be published correctly: a run path
that is not among the files, an identifier or file name that cannot form a
download path, a file with more chunks than a manifest can hold, or a version
that is already published (without --replace, or with other files). Everything
is written into a temporary folder inside OUTPUT_DIR first and moved into place
one rename at a time: the files, then the manifests that name them, the
current manifest last. Killed at any moment, OUTPUT_DIR serves only complete
manifests of complete files; the next run removes what was left over. Two runs
on one OUTPUT_DIR at once are refused.

Exit status: 0 published, 1 refused or failed, 2 wrong command line.
)";
}

}  // namespace vrexa::publish
