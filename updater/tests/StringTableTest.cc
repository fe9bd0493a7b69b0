#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/CommandOutput.h"
#include "tests/support/TestFolder.h"
#include "updater/ProgramResources.h"
#include "updater/StringTable.h"

namespace vrexa::updater {
namespace {

using testsupport::TestFolder;

TEST(StringTable, ParsesEntriesCommentsAndBlankLines) {
    const std::string content =
        "# comment\n"
        "\n"
        "102=host.example\n"
        "109=a=b # not a comment\r\n"
        "112=en_GB=English;de=Deutsch\n"
        "   # indented lines are not comments but need an id\n";
    EXPECT_THROW(ParseStringTable(content, "t"), StringTableError);

    const auto entries = ParseStringTable(
        "# comment\n\n102=host.example\n109=a=b # not a comment\r\n110=\n112=en_GB=English;de=Deutsch", "t");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].id, 102);
    EXPECT_EQ(entries[0].text, "host.example");
    EXPECT_EQ(entries[0].line, 3);
    EXPECT_EQ(entries[1].text, "a=b # not a comment");
    EXPECT_EQ(entries[2].text, "");
    EXPECT_EQ(entries[3].text, "en_GB=English;de=Deutsch");
    EXPECT_EQ(entries[3].line, 6);
}

TEST(StringTable, RefusesMalformedLinesNamingThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"102 host\n", "t:1: no \"=\""},
        {"\n=text\n", "t:2: the id \"\""},
        {"x1=text\n", "t:1: the id \"x1\""},
        {" 102=text\n", "t:1: the id \" 102\""},
        {"65536=text\n", "t:1: the id 65536 is above 65535"},
        {"1234567=text\n", "t:1: the id \"1234567\""},
        {"102=a\n102=b\n", "t:2: string 102 already given on line 1"},
        {"102=\xC3\x28\n", "t:1: not valid UTF-8"},
        {std::string("102=a\0b\n", 8), "t:1: a NUL byte"},
    };
    for (const auto& [content, message] : cases) {
        try {
            ParseStringTable(content, "t");
            ADD_FAILURE() << "accepted: " << content;
        } catch (const StringTableError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(message, 0), 0u) << error.what();
        }
    }
}

TEST(StringTable, CountsAndCutsInUtf16UnitsWithoutSplittingCharacters) {
    const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E, two UTF-16 units
    const std::string e = "\xC3\xA9";             // U+00E9, one unit
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length(e + clef), 3u);
    EXPECT_EQ(CutToUtf16Units("abcdef", 4), "abcd");
    EXPECT_EQ(CutToUtf16Units(e + e + e, 2), e + e);
    EXPECT_EQ(CutToUtf16Units("a" + clef, 2), "a") << "half a surrogate pair is left out";
    EXPECT_EQ(CutToUtf16Units("a" + clef, 3), "a" + clef);
}

TEST(ResourceTable, LoadStringCutsLongTextAt254Units) {
    ResourceTable table;
    const std::string clef = "\xF0\x9D\x84\x9E";
    table.AddString(1, std::string(300, 'x'));
    table.AddString(2, std::string(253, 'x') + clef + "tail");
    table.AddString(3, std::string(254, 'x'));
    table.AddString(3, "second is ignored");
    EXPECT_EQ(table.LoadString(1), std::string(254, 'x'));
    EXPECT_EQ(table.LoadString(2), std::string(253, 'x'));
    EXPECT_EQ(table.LoadString(3), std::string(254, 'x'));
    EXPECT_EQ(table.LoadString(4), "");
    EXPECT_FALSE(table.FindString(4).has_value());
}

TEST(ProgramResources, CompiledTableHoldsTheConfiguredFileAndEveryCatalog) {
    ResourceTable expected;
    LoadStringTableFile(VREXA_STRING_TABLE_FILE, expected);
    const ResourceTable compiled = CompiledResources();
    for (int id = 100; id <= 120; ++id) {
        EXPECT_EQ(compiled.FindString(id), expected.FindString(id)) << id;
    }
    for (int id = 201; id <= 223; ++id) {
        const auto catalog = compiled.FindCatalog(id);
        ASSERT_GE(catalog.size(), 4u) << id;
        EXPECT_EQ(catalog[0] | catalog[1] << 8 | catalog[2] << 16 | static_cast<unsigned>(catalog[3]) << 24,
                  0x950412deu)
            << id;
    }
    EXPECT_TRUE(compiled.FindCatalog(200).empty());
    EXPECT_TRUE(compiled.FindCatalog(224).empty());
}

TEST(ProgramResources, OverrideReplacesTheWholeStringTable) {
    TestFolder folder;
    const std::string path = folder.Put("table.strings", "109=Override\n112=de=Deutsch\n");
    const Environment overrides = [&](const std::string& name) -> std::optional<std::string> {
        if (name == "VREXA_STRING_TABLE") return path;
        return std::nullopt;
    };
    const ResourceTable table = LoadProgramResources(overrides);
    EXPECT_EQ(table.LoadString(109), "Override");
    EXPECT_EQ(table.LoadString(112), "de=Deutsch");
    EXPECT_EQ(table.LoadString(103), "") << "strings not in the file are gone";
    EXPECT_FALSE(table.FindCatalog(202).empty()) << "catalogs stay";

    EXPECT_EQ(LoadProgramResources(EmptyEnvironment()).FindString(109), CompiledResources().FindString(109));

    const std::string broken = folder.Put("broken.strings", "109 Zazid\n");
    const Environment brokenOverrides = [&](const std::string&) -> std::optional<std::string> { return broken; };
    EXPECT_THROW(LoadProgramResources(brokenOverrides), StringTableError);
    const Environment missing = [&](const std::string&) -> std::optional<std::string> { return folder / "none"; };
    EXPECT_THROW(LoadProgramResources(missing), StringTableError);
    const Environment directory = [&](const std::string&) -> std::optional<std::string> { return folder.Path(); };
    EXPECT_THROW(LoadProgramResources(directory), StringTableError);
}

// Runs the generator on a table; returns its exit code and what it said.
std::pair<int, std::string> Generate(const TestFolder& folder, const std::string& table) {
    const std::string input = folder.Put("in.strings", table);
    return vrexa::testing::RunCommand(std::string(VREXA_RESGEN_PROGRAM) + " --strings '" + input + "' --output '" +
                                      (folder / "out.cc") + "'");
}

TEST(ResourceGenerator, RefusesAnEntryLongerThanTheUpdaterReadsNamingItsId) {
    TestFolder folder;
    const std::string clef = "\xF0\x9D\x84\x9E";
    // 254 units fit; a character beyond U+FFFF counts twice.
    auto [code, output] = Generate(folder, "109=" + std::string(254, 'x') + "\n112=" + std::string(252, 'x') + clef);
    EXPECT_EQ(code, 0) << output;
    EXPECT_TRUE(testsupport::TestFolder::Content(folder / "out.cc").find("{109, ") != std::string::npos);

    std::tie(code, output) = Generate(folder, "# x\n109=ok\n112=" + std::string(253, 'x') + clef + "\n");
    EXPECT_EQ(code, 1);
    EXPECT_NE(output.find(":3: string 112 is 255 characters long"), std::string::npos) << output;

    std::tie(code, output) = Generate(folder, "109 no separator\n");
    EXPECT_EQ(code, 1);
    EXPECT_NE(output.find(":1: no \"=\""), std::string::npos) << output;
}

}  // namespace
}  // namespace vrexa::updater
