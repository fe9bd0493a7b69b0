#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shortcut/posix/DesktopEntryShortcut.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/TestFolder.h"

namespace vrexa::shortcut::posix {
namespace {

using testsupport::TestFolder;

// desktop-file-validate's exit code and what it said about a file.
std::pair<int, std::string> Validate(const std::string& path) {
    return vrexa::testing::RunCommand(std::string(VREXA_DESKTOP_FILE_VALIDATE) + " '" + path + "'");
}

// Undoes the Exec escapes the way a desktop-entry reader does: the string
// escapes first, then the quoting, then "%%".
std::string ReadExecArgument(const std::string& value) {
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            unescaped += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        } else {
            unescaped += value[i];
        }
    }
    EXPECT_TRUE(unescaped.size() >= 2 && unescaped.front() == '"' && unescaped.back() == '"') << unescaped;
    std::string argument;
    for (std::size_t i = 1; i + 1 < unescaped.size(); ++i) {
        if (unescaped[i] == '\\') {
            argument += unescaped[++i];
        } else if (unescaped[i] == '%' && unescaped[i + 1] == '%') {
            argument += '%';
            ++i;
        } else {
            argument += unescaped[i];
        }
    }
    return argument;
}

std::string Line(const std::string& content, const std::string& key) {
    const std::size_t at = content.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    const std::size_t start = at + key.size() + 2;
    return content.substr(start, content.find('\n', start) - start);
}

TEST(DesktopEntryShortcut, WritesAValidEntryWhoseExecReadsBackAsTheTarget) {
    TestFolder folder;
    const std::vector<std::string> targets = {
        "/opt/orbiq/orbiq-update",
        "/home/u/My Apps/orbiq update",
        "/home/u/q\"uote/back\\slash/dollar$HOME/`tick`/100%/semi;colon",
        "/home/u/Grüße/更新",
    };
    for (const auto& target : targets) {
        DesktopEntryShortcut shortcut(" Maps \\ Grüße", folder / "data/shortcuts");
        ASSERT_TRUE(shortcut.Create(target)) << target;
        const std::string entry = folder / "data/shortcuts/ Maps \\ Grüße.desktop";
        const std::string content = TestFolder::Content(entry);
        EXPECT_EQ(ReadExecArgument(Line(content, "Exec")), target);
        EXPECT_EQ(Line(content, "Name"), "\\sMaps \\\\ Grüße");
        EXPECT_NE(content.find("\nType=Application\n"), std::string::npos);
        const auto [code, output] = Validate(entry);
        EXPECT_EQ(code, 0) << output;
        EXPECT_EQ(output.find("error"), std::string::npos) << output;
    }
    // Replaced, not appended to; no temporary files stay behind.
    std::size_t files = 0;
    for (const auto& item : boost::filesystem::directory_iterator(folder / "data/shortcuts")) {
        ++files;
        EXPECT_EQ(item.path().filename().string(), " Maps \\ Grüße.desktop");
    }
    EXPECT_EQ(files, 1u);
}

TEST(DesktopEntryShortcut, RefusesNamesAndTargetsItCannotWriteSafely) {
    TestFolder folder;
    const std::vector<std::string> names = {
        "", ".", "..", "a/b", "../escape", "tab\there", "new\nline", "\xC3\x28", std::string(201, 'n')};
    for (const auto& name : names) {
        EXPECT_FALSE(DesktopEntryShortcut(name, folder / "s").Create("/opt/app")) << name;
    }
    const std::vector<std::string> targets = {"", "/opt/app\nExec=/bin/evil", "/opt/\x1b[31m", "/opt/\xFF"};
    for (const auto& target : targets) {
        EXPECT_FALSE(DesktopEntryShortcut("Maps", folder / "s").Create(target)) << target;
    }
    EXPECT_FALSE(boost::filesystem::exists(folder / "s/Maps.desktop"));
    EXPECT_FALSE(boost::filesystem::exists(folder / "escape.desktop"));
}

TEST(DesktopEntryShortcut, AFailedReplacementLeavesTheOldEntry) {
    TestFolder folder;
    DesktopEntryShortcut shortcut("Maps", folder / "s");
    ASSERT_TRUE(shortcut.Create("/opt/old"));
    ::chmod((folder / "s").c_str(), 0555);
    const bool replaced = shortcut.Create("/opt/new");
    ::chmod((folder / "s").c_str(), 0755);
    if (::geteuid() != 0) {
        EXPECT_FALSE(replaced);
        EXPECT_EQ(ReadExecArgument(Line(TestFolder::Content(folder / "s/Maps.desktop"), "Exec")), "/opt/old");
    }
    // A folder where the entry belongs cannot be replaced by a file.
    boost::filesystem::create_directories(folder / "t/Maps.desktop");
    EXPECT_FALSE(DesktopEntryShortcut("Maps", folder / "t").Create("/opt/app"));
    // A shortcuts folder that cannot be created.
    folder.Put("file", "x");
    EXPECT_FALSE(DesktopEntryShortcut("Maps", folder / "file/s").Create("/opt/app"));
}

TEST(DesktopEntryShortcut, CopyAndRemoveRecogniseDesktopAndUrlFiles) {
    TestFolder folder;
    DesktopEntryShortcut desktop("Maps", folder / "s");
    ASSERT_TRUE(desktop.Create("/opt/app"));
    EXPECT_FALSE(desktop.Copy(folder / "d", "Copy")) << "the destination folder must exist";
    boost::filesystem::create_directories(folder / "d");
    EXPECT_TRUE(desktop.Copy(folder / "d", "Copy"));
    EXPECT_EQ(TestFolder::Content(folder / "d/Copy.desktop"), TestFolder::Content(folder / "s/Maps.desktop"));
    EXPECT_FALSE(desktop.Copy(folder / "d", "../out"));

    folder.Put("s/Web.url", "[InternetShortcut]\nURL=http://example.invalid/\n");
    DesktopEntryShortcut url("Web", folder / "s");
    EXPECT_TRUE(url.Copy(folder / "d", "WebCopy"));
    EXPECT_TRUE(boost::filesystem::exists(folder / "d/WebCopy.url"));
    EXPECT_FALSE(DesktopEntryShortcut("None", folder / "s").Copy(folder / "d", "X"));

    EXPECT_TRUE(desktop.Remove(folder / "d", "Copy"));
    EXPECT_FALSE(boost::filesystem::exists(folder / "d/Copy.desktop"));
    EXPECT_TRUE(desktop.Remove(folder / "d", "WebCopy"));
    EXPECT_FALSE(boost::filesystem::exists(folder / "d/WebCopy.url"));
    EXPECT_FALSE(desktop.Remove(folder / "d", "Missing"));
    EXPECT_FALSE(desktop.Remove(folder / "d", ".."));
    EXPECT_TRUE(boost::filesystem::exists(folder / "s/Maps.desktop"));
}

}  // namespace
}  // namespace vrexa::shortcut::posix
