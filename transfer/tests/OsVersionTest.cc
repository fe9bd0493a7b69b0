#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/support/TestFolder.h"
#include "transfer/OsVersion.h"

namespace vrexa {
namespace {

using testsupport::TestFolder;

TEST(OsVersionTest, WindowsTextFollowsTheGreatestVersionTheCheckAccepts) {
    const struct {
        int major, minor, servicePack;
        const char* text;
    } cases[] = {
        {4, 0, 0, "Windows Unsupported Unknown"},
        {5, 0, 4, "Windows 2000"},
        {5, 1, 3, "Windows XP SP3"},
        {5, 2, 2, "Windows 2003"},
        {5, 3, 0, "Windows Unknown"},
        {6, 0, 2, "Windows Vista SP2"},
        {6, 1, 0, "Windows 7 SP0"},
        {6, 1, 1, "Windows 7 SP1"},
        {6, 2, 0, "Windows 8"},
        {6, 3, 0, "Windows 8.1"},
        {6, 4, 0, "Windows Unknown"},
        {7, 0, 0, "Windows Unknown"},
        {10, 0, 0, "Windows 10"},
        {10, 0, 3, "Windows 10"},
        {11, 2, 0, "Windows 10"},
    };
    for (const auto& c : cases) {
        const auto system = std::make_tuple(c.major, c.minor, c.servicePack);
        const auto isAtLeast = [&](int major, int minor, int servicePack) {
            return system >= std::make_tuple(major, minor, servicePack);
        };
        EXPECT_EQ(WindowsVersionText(isAtLeast), c.text) << c.major << "." << c.minor << " SP" << c.servicePack;
    }
}

TEST(OsVersionTest, WindowsSearchEndsWhenTheCheckAcceptsEverything) {
    EXPECT_EQ(WindowsVersionText([](int, int, int) { return true; }), "Windows 10");
    EXPECT_EQ(WindowsVersionText([](int, int, int) { return false; }), "Windows Unsupported Unknown");
    // Accepting every minor of 6 would never end without a bound.
    EXPECT_EQ(WindowsVersionText([](int major, int, int) { return major <= 6; }), "Windows Unknown");
}

TEST(OsVersionTest, PrettyNameIsTakenFromItsLineWithQuotesAndEscapesRemoved) {
    const struct {
        const char* text;
        const char* pretty;
    } cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Single Quoted \\n'\n", "Single Quoted \\n"},
        {"PRETTY_NAME=Plain\n", "Plain"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ now\"\n", "Say \"hi\" \\ now"},
        {"PRETTY_NAME=\"Windows line\"\r\n", "Windows line"},
        {"PRETTY_NAME=\"First\"\nPRETTY_NAME=\"Second\"\n", "Second"},
        {"# PRETTY_NAME=\"Comment\"\nNAME=Other\n", ""},
        {"NOT_PRETTY_NAME=\"Other\"\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrettyNameOf(c.text), c.pretty) << c.text;
    }
}

TEST(OsVersionTest, LinuxTextFallsBackFromFileToFileThenToTheKernelRelease) {
    TestFolder folder;
    const std::string named = folder.Put("named", "PRETTY_NAME=\"Named 1\"\n");
    const std::string other = folder.Put("other", "PRETTY_NAME=\"Other 2\"\n");
    const std::string unnamed = folder.Put("unnamed", "NAME=Unnamed\n");
    const std::string missing = folder / "missing";
    const struct {
        std::vector<std::string> files;
        const char* kernel;
        const char* text;
    } cases[] = {
        {{named, other}, "6.1.0", "Linux Named 1"},
        {{missing, other}, "6.1.0", "Linux Other 2"},
        {{unnamed, other}, "6.1.0", "Linux Other 2"},
        {{missing, unnamed}, "6.1.0-13-amd64", "Linux 6.1.0-13-amd64"},
        {{missing}, "", "Linux"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinuxVersionText(c.files, c.kernel), c.text) << c.text;
    }
}

TEST(OsVersionTest, ProcessDescriptionNamesLinuxAndNeverChanges) {
    const std::string first = GetOsVersion();
    EXPECT_EQ(first.rfind("Linux ", 0), 0u) << first;
    EXPECT_GT(first.size(), std::string("Linux ").size());
    EXPECT_EQ(GetOsVersion(), first);
}

}  // namespace
}  // namespace vrexa
