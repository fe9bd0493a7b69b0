#include "tools/publish/PublishOptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vrexa::publish {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct NodeCase {
    const char* text;
    NodeSpec expected;
};

TEST(ParseNodeSpecTest, ReadsIdHostPortPathAndWeight) {
    const NodeCase cases[] = {
        {"n1=cdn.example", {"n1", "cdn.example", "/packages/", 1}},
        {"n2=127.0.0.1:8080/files@5", {"n2", "127.0.0.1:8080", "/files/", 5}},
        {"n3=h:80/a/b/", {"n3", "h:80", "/a/b/", 1}},
        {"n4=[::1]:9000", {"n4", "[::1]:9000", "/packages/", 1}},
        {"n5=h@0", {"n5", "h", "/packages/", 0}},
        {"n6=h/", {"n6", "h", "/", 1}},
        {"n7=https://cdn.example:8443/files@2", {"n7", "https://cdn.example:8443", "/files/", 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseNodeSpec(c.text), c.expected);
    }
}

TEST(ParseNodeSpecTest, RefusesWhatCannotFormANodeUrl) {
    const char* cases[] = {
        "=h",        "n1",       "n1=",       "n1=:80",          "n1=h:",       "n1=h:0",     "n1=h:70000",
        "n1=h:x",    "n1=h@",    "n1=h@-1",   "n1=h@4294967296", "n1=h/p?x",    "n1=[::1",    "n1=a b",
        "n1=a:b:80", "n1=h/p#x", "n1=[::1]x", "n1=https://",     "n1=http://h", "n1=ftp://h", "n1=https://h:0",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseNodeSpec(text), UsageError);
    }
}

std::vector<std::string> Args(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

TEST(ParseCommandLineTest, ReadsEveryOption) {
    CommandLine line = ParseCommandLine(
        Args({"--partner",    "p1",        "--package",     "k1",           "--version=v2", "--name",
              "My App",       "--run",     "setup/run.exe", "--chunk-size", "65536",        "--inactive",
              "--policy",     "Whitelist", "--country",     "SE",           "--country",    "NO",
              "--no-current", "--replace", "--node",        "a=h1:81",      "--node",       "b=h2/p@3",
              "src",          "out"}));
    const PublishOptions& o = line.options;
    EXPECT_FALSE(line.help);
    EXPECT_EQ(o.partnerId, "p1");
    EXPECT_EQ(o.packageId, "k1");
    EXPECT_EQ(o.versionId, "v2");
    EXPECT_EQ(o.name, "My App");
    EXPECT_EQ(o.run, "setup/run.exe");
    EXPECT_EQ(o.chunkSize, 65536u);
    EXPECT_FALSE(o.active);
    EXPECT_EQ(o.policy, CountryPolicy::Whitelist);
    EXPECT_EQ(o.countries, (std::vector<std::string>{"SE", "NO"}));
    EXPECT_FALSE(o.writeCurrent);
    EXPECT_TRUE(o.replace);
    ASSERT_EQ(o.nodes.size(), 2u);
    EXPECT_EQ(o.nodes[1], (NodeSpec{"b", "h2", "/p/", 3}));
    EXPECT_EQ(o.sourceDir, "src");
    EXPECT_EQ(o.outputDir, "out");
}

TEST(ParseCommandLineTest, DefaultsMatchAFirstPublication) {
    CommandLine line =
        ParseCommandLine(Args({"--partner", "p", "--package", "k", "--version", "v", "--name", "n", "src", "out"}));
    EXPECT_EQ(line.options.chunkSize, kDefaultChunkSize);
    EXPECT_TRUE(line.options.active);
    EXPECT_TRUE(line.options.writeCurrent);
    EXPECT_FALSE(line.options.replace);
    EXPECT_EQ(line.options.policy, CountryPolicy::None);
    EXPECT_TRUE(line.options.nodes.empty());
}

TEST(ParseCommandLineTest, HelpWinsOverEverythingElse) {
    EXPECT_TRUE(ParseCommandLine(Args({"--partner", "p", "--help"})).help);
    EXPECT_TRUE(ParseCommandLine(Args({"-h"})).help);
    EXPECT_THAT(std::string(HelpText()), HasSubstr("--node ID=HOST[:PORT][/PATH][@WEIGHT]"));
}

// The texts printed instead of publishing, each asked for on its own or
// after other options, and the build-time ones kept out of --help.
TEST(ParseCommandLineTest, PrintingATextWinsOverPublishing) {
    struct Case {
        std::vector<std::string> args;
        bool CommandLine::*asked;
    };
    const std::vector<Case> cases = {
        {{"--help-man"}, &CommandLine::manPage},
        {{"--partner", "p", "--help-completion"}, &CommandLine::completion},
        {{"-V"}, &CommandLine::programVersion},
        {{"--partner", "p", "--program-version"}, &CommandLine::programVersion},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_TRUE(line.*c.asked) << c.args.back();
    }
    EXPECT_THAT(HelpText(), Not(HasSubstr("--help-man")));
    EXPECT_THAT(HelpText(), HasSubstr("-V, --program-version"));
    EXPECT_THAT(ManPageText(), HasSubstr(".SH OPTIONS"));
    EXPECT_THAT(CompletionText(), HasSubstr("--set-current"));
    EXPECT_EQ(ProgramVersionText().rfind("vrexa-publish ", 0), 0u);
}

// Whatever the table lists, the parser knows what to do with: no option of
// the help is refused as unknown, and none is missing an action.
TEST(ParseCommandLineTest, EveryOptionOfTheTableIsUnderstood) {
    for (const tools::Option& option : PublishOptionTable()) {
        std::vector<std::string> args = {"--partner", "p", std::string(option.name)};
        if (!option.argument.empty()) {
            args.push_back("a=127.0.0.1");
        }
        try {
            ParseCommandLine(args);
        } catch (const UsageError& error) {
            EXPECT_THAT(error.what(), Not(HasSubstr("unknown option"))) << option.name;
        }
    }
}

TEST(ParseCommandLineTest, NodesOnlyTakesPartnerNodesAndOneFolder) {
    CommandLine line = ParseCommandLine(Args({"--nodes-only", "--partner", "p", "--node", "a=h", "out"}));
    EXPECT_TRUE(line.options.nodesOnly);
    EXPECT_EQ(line.options.outputDir, "out");
    EXPECT_TRUE(line.options.sourceDir.empty());
}

TEST(ParseCommandLineTest, NodesOnlyMayOnlyRemoveNodes) {
    CommandLine line =
        ParseCommandLine(Args({"--nodes-only", "--partner", "p", "--remove-node", "a", "--remove-node", "b", "out"}));
    EXPECT_TRUE(line.options.nodes.empty());
    EXPECT_EQ(line.options.removeNodes, (std::vector<std::string>{"a", "b"}));
}

TEST(ParseCommandLineTest, SetCurrentTakesPartnerPackageAndOneFolder) {
    CommandLine line = ParseCommandLine(Args({"--set-current", "v1", "--partner", "p", "--package", "k", "out"}));
    EXPECT_EQ(line.options.setCurrent, "v1");
    EXPECT_EQ(line.options.packageId, "k");
    EXPECT_EQ(line.options.outputDir, "out");
    EXPECT_TRUE(line.options.sourceDir.empty());
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

TEST(ParseCommandLineTest, RefusesWrongCommandLines) {
    const std::vector<std::string> ids = {"--partner", "p", "--package", "k", "--version", "v", "--name", "n"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> all = ids;
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    };
    const UsageCase cases[] = {
        {{"--package", "k", "--version", "v", "--name", "n", "s", "o"}, "--partner is required"},
        {{"--partner", "p", "--version", "v", "--name", "n", "s", "o"}, "--package is required"},
        {{"--partner", "p", "--package", "k", "--name", "n", "s", "o"}, "--version is required"},
        {{"--partner", "p", "--package", "k", "--version", "v", "s", "o"}, "--name is required"},
        {with({"--frobnicate", "s", "o"}), "unknown option --frobnicate"},
        {with({"--chunk-size", "0", "s", "o"}), "--chunk-size"},
        {with({"--chunk-size", "1k", "s", "o"}), "--chunk-size"},
        {with({"--chunk-size", "4294967296", "s", "o"}), "--chunk-size"},
        {with({"s", "o", "--run"}), "--run needs a value"},
        {with({"s"}), "SOURCE_DIR and OUTPUT_DIR"},
        {with({"s", "o", "x"}), "SOURCE_DIR and OUTPUT_DIR"},
        {with({"--country", "SE", "s", "o"}), "--country needs --policy"},
        {with({"--package", "k2", "s", "o"}), "--package is given more than once"},
        {with({"--policy", "whitelist", "s", "o"}), "--policy must be"},
        {with({"--inactive=1", "s", "o"}), "--inactive takes no value"},
        {with({"--node", "broken", "s", "o"}), "--node broken"},
        {{"--nodes-only", "--partner", "p", "--package", "k", "--node", "a=h", "o"}, "--package has no use"},
        {{"--nodes-only", "--partner", "p", "o"}, "at least one --node or --remove-node"},
        {{"--nodes-only", "--partner", "p", "--remove-node", "", "o"}, "--remove-node needs a node id"},
        {{"--nodes-only", "--partner", "p", "--node", "a=h", "--set-current", "v", "o"}, "--set-current has no use"},
        {{"--set-current", "v", "--partner", "p", "o"}, "--package is required"},
        {{"--set-current", "v", "--partner", "p", "--package", "k", "--version", "v", "o"}, "--version has no use"},
        {{"--set-current", "v", "--partner", "p", "--package", "k", "--replace", "o"}, "--replace has no use"},
        {{"--set-current", "v", "--partner", "p", "--package", "k", "--node", "a=h", "o"}, "changes no node list"},
        {{"--set-current", "v", "--partner", "p", "--package", "k", "s", "o"}, "exactly one folder"},
        {{"--set-current", "", "--partner", "p", "--package", "k", "o"}, "needs a version id"},
        {{"--nodes-only", "--partner", "p", "--node", "a=h", "s", "o"}, "exactly one folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            ParseCommandLine(c.args);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.message));
        }
    }
}

TEST(ParseCommandLineTest, DoubleDashEndsTheOptions) {
    CommandLine line = ParseCommandLine(
        Args({"--partner", "p", "--package", "k", "--version", "v", "--name", "n", "--", "--odd-source", "out"}));
    EXPECT_EQ(line.options.sourceDir, "--odd-source");
}

}  // namespace
}  // namespace vrexa::publish
