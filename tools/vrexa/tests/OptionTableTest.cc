#include "tools/vrexa/OptionTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/CommandOutput.h"
#include "tests/support/TestFolder.h"
#include "tools/vrexa/CliOptions.h"

namespace vrexa::cli {
namespace {

using testing::RunCommand;
using testsupport::TestFolder;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(OptionTableTest, HelpPutsShortLabelsBesideTheirTextAndLongOnesAbove) {
    const std::vector<OptionText> options = {
        Switch("--quiet", "print nothing but errors").Short("-q"),
        Valued("--a-very-long-option-name", "[https://]HOST[:PORT]", "where").From("SOME_VARIABLE"),
        Valued("--retry", "N",
               "retries of a transfer waiting on an error that may heal, such as a network failure (default 3)"),
    };
    EXPECT_EQ(OptionsHelp(options),
              "  -q, --quiet                   print nothing but errors\n"
              "  --a-very-long-option-name [https://]HOST[:PORT]\n"
              "                                where [$SOME_VARIABLE]\n"
              "  --retry N                     retries of a transfer waiting on an error that\n"
              "                                may heal, such as a network failure (default 3)\n");
}

TEST(OptionTableTest, TheHelpFitsAnEightyColumnTerminalAndListsEveryCommandAndExitStatus) {
    const std::string help = HelpText();
    for (const std::string& line : Lines(help))
        EXPECT_LT(line.size(), 80u) << line;
    for (const char* shown : {"  vrexa download [options] --partner ID --package ID [--version ID] DEST",
                              "  vrexa prune    [--older-than DAYS]", "  --host [https://]HOST[:PORT]  manifest host",
                              "  -q, --quiet ", "  130   interrupted", "  prune      forget every stored"}) {
        EXPECT_NE(help.find(shown), std::string::npos) << shown << "\nin:\n" << help;
    }
    // The page the build makes is not offered to users.
    EXPECT_EQ(help.find("--help-man"), std::string::npos);
}

// The page is checked by the formatter itself, with every warning on.
TEST(OptionTableTest, TheManPageFormatsWithoutWarnings) {
    if (RunCommand("command -v groff").first != 0) GTEST_SKIP() << "groff is not installed";
    TestFolder folder;
    const std::string page = folder.Put("vrexa.1", ManPageText());
    const auto [code, output] = RunCommand("groff -man -ww -z -Tutf8 " + page);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(output, "");
    const auto [rendered, text] = RunCommand("MANWIDTH=80 man -l " + page + " | col -b | tr -s ' \t' ' '");
    ASSERT_EQ(rendered, 0) << text;
    for (const char* shown : {"vrexa - download packages", "EXIT STATUS", "--trusted-key FILE",
                              "May be given more than once.", "VREXA_MANIFEST_HOST"}) {
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\nin:\n" << text;
    }
}

TEST(OptionTableTest, TheManPageNeverStartsATextLineWithARequest) {
    const CommandLineText text{"tool", "1", "s", ".starts like a request\n\n'and a quote", {}, {}, {}, {}};
    const std::string page = ManPage(text);
    EXPECT_NE(page.find("\n\\&.starts like a request\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\n\\&'and a quote\n"), std::string::npos) << page;
}

// bash runs the generated function the way it does on a Tab press.
class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunCommand("command -v bash").first != 0) GTEST_SKIP() << "bash is not installed";
        script_ = folder_.Put("vrexa.bash", CompletionText());
        folder_.Put("files/key.pub");
        folder_.Put("files/sub/inner");
    }

    // The words offered, sorted, for a command line whose last word is being
    // completed.
    std::string Complete(const std::vector<std::string>& words) {
        std::string array;
        for (const std::string& word : words)
            array += " '" + word + "'";
        const std::string command = "cd " + folder_ / "files" + " && bash -c 'source " + script_ +
                                    " && COMP_WORDS=(\"$@\") && COMP_CWORD=$(( $# - 1 )) && _vrexa && "
                                    "printf \"%s\\n\" \"${COMPREPLY[@]}\" | sort | paste -sd \" \"' _" +
                                    array;
        const auto [code, output] = RunCommand(command);
        EXPECT_EQ(code, 0) << output;
        return output.empty() ? output : output.substr(0, output.size() - 1);
    }

    TestFolder folder_;
    std::string script_;
};

TEST_F(CompletionTest, OffersCommandsOptionsOfTheCommandAndPaths) {
    struct Case {
        std::vector<std::string> words;
        std::string offered;
    };
    const std::vector<Case> cases = {
        {{"vrexa", "d"}, "download"},
        {{"vrexa", "download", "--pa"}, "--package --parallel --partner"},
        {{"vrexa", "prune", "--o"}, "--older-than"},
        {{"vrexa", "list", "--o"}, ""},
        {{"vrexa", "download", "--cacert", "k"}, "key.pub"},
        {{"vrexa", "download", "--partner", "s"}, ""},
        {{"vrexa", "download", "--partner", "p", "s"}, "sub"},
        // An option's value is not taken for the command.
        {{"vrexa", "--partner", "list", "d"}, "download"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Complete(c.words), c.offered) << ::testing::PrintToString(c.words);
}

}  // namespace
}  // namespace vrexa::cli
