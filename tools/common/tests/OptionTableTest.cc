#include "tools/common/OptionTable.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vrexa::tools {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr Option kSample[] = {
    {"--partner", "", "ID", "partner id"},
    {"--set-current", "", "VERSION", "only make VERSION, already published, the current one"},
    {"--replace", "", "",
     "publish a version that is already published once more: its manifests are written anew, but only when its "
     "files are the same bytes"},
    {"--help", "-h", "", "show this text"},
    {"--help-man", "", "", "print the man page", true},
};

TEST(OptionTableTest, FindsAnOptionByItsLongOrShortName) {
    EXPECT_EQ(FindOption(kSample, "--partner"), &kSample[0]);
    EXPECT_EQ(FindOption(kSample, "-h"), &kSample[3]);
    EXPECT_EQ(FindOption(kSample, "--help-man"), &kSample[4]) << "hidden options are still options";
    EXPECT_EQ(FindOption(kSample, "--part"), nullptr);
    EXPECT_EQ(FindOption(kSample, ""), nullptr) << "an option without a short name has no empty one";
}

// The help column starts at 23; a heading too long for it puts the text on
// the next line; long text wraps within 79 columns; hidden options are not
// shown.
TEST(OptionTableTest, HelpListsTheVisibleOptionsInColumnsWithinTheWidth) {
    const std::string help = OptionsHelp(kSample);
    EXPECT_THAT(help, HasSubstr("  --partner ID        partner id\n"));
    EXPECT_THAT(help, HasSubstr("  --set-current VERSION\n                      only make VERSION"));
    EXPECT_THAT(help, HasSubstr("  -h, --help          show this text\n"));
    EXPECT_THAT(help, Not(HasSubstr("--help-man")));
    std::size_t start = 0;
    while (start < help.size()) {
        const std::size_t end = help.find('\n', start);
        EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_THAT(help, HasSubstr("  --replace           publish a version that is already published once more:\n"
                                "                      its manifests"));
}

TEST(OptionTableTest, WrapsParagraphsWithinTheWidthAfterWhatStandsBefore) {
    const std::string text(40, 'a');
    EXPECT_EQ(WrapForHelp(text + " " + text + "\n\n" + "b c"), text + "\n" + text + "\n\nb c\n");
    const std::string word(30, 'w');
    EXPECT_EQ(WrapForHelp("x " + word + " " + word, 4, 60), "x\n    " + word + " " + word + "\n");
}

TEST(OptionTableTest, ManPageIsRoffWithEscapedText) {
    ManPageText page;
    page.program = "vrexa-publish";
    page.section = "1";
    page.summary = "publish a package";
    page.synopsis = {"vrexa-publish --partner ID OUTPUT_DIR"};
    page.description = "First paragraph.\n\n.A line that looks like a request, and a back\\slash.";
    page.sections = {{"EXIT STATUS", "0 published."}};
    const std::string man = ManPage(page, kSample);
    EXPECT_EQ(man.rfind(".TH VREXA\\-PUBLISH 1\n", 0), 0u) << man;
    EXPECT_THAT(man, HasSubstr(".SH NAME\nvrexa\\-publish \\- publish a package\n"));
    EXPECT_THAT(man, HasSubstr(".SH SYNOPSIS\n.PP\nvrexa\\-publish \\-\\-partner ID OUTPUT_DIR\n"));
    EXPECT_THAT(man, HasSubstr(".PP\nFirst paragraph.\n.PP\n\\&.A line that looks like a request"));
    EXPECT_THAT(man, HasSubstr("back\\eslash."));
    EXPECT_THAT(man, HasSubstr(".TP\n.B \\-h, \\-\\-help\nshow this text\n"));
    EXPECT_THAT(man, Not(HasSubstr("help\\-man")));
    EXPECT_THAT(man, HasSubstr(".SH EXIT STATUS\n.PP\n0 published.\n"));
}

TEST(OptionTableTest, CompletionOffersTheOptionsAndFilesForValues) {
    const std::string script = BashCompletion("vrexa-publish", kSample);
    EXPECT_THAT(script, HasSubstr("_vrexa_publish() {"));
    EXPECT_THAT(script, HasSubstr("compgen -W \"--partner --set-current --replace --help -h\""));
    EXPECT_THAT(script, HasSubstr("--partner|--set-current)"));
    EXPECT_THAT(script, HasSubstr("complete -o filenames -F _vrexa_publish vrexa-publish\n"));
}

}  // namespace
}  // namespace vrexa::tools
