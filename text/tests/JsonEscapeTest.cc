#include "text/JsonEscape.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

struct EscapeCase {
    const char* name;
    JsonEscaping mode;
    std::string input;
    std::string expected;
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.name; }

class JsonEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, WritesTheModesForm) {
    EXPECT_EQ(JsonEscaped(GetParam().input, GetParam().mode), GetParam().expected);
    EXPECT_EQ(JsonQuoted(GetParam().input, GetParam().mode), "\"" + GetParam().expected + "\"");
}

constexpr auto kPerByte = JsonEscaping::PerByte;
constexpr auto kWide = JsonEscaping::WideCharacters;
constexpr auto kMinimal = JsonEscaping::Minimal;

INSTANTIATE_TEST_SUITE_P(
    Modes, JsonEscapeTest,
    ::testing::Values(
        // Documents that leave the process: pure ASCII, byte by byte.
        EscapeCase{"PerBytePlain", kPerByte, "abc XYZ 019 ~", "abc XYZ 019 ~"},
        EscapeCase{"PerByteQuoteBackslashSlash", kPerByte, "a\"b\\c/d", "a\\\"b\\\\c\\/d"},
        EscapeCase{"PerByteNamedControls", kPerByte, "\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
        EscapeCase{"PerByteOtherControlsAsHex", kPerByte, std::string("\x00\x01\x1F\x0B", 4),
                   "\\u0000\\u0001\\u001F\\u000B"},
        EscapeCase{"PerByteDeleteKept", kPerByte, "\x7F", "\x7F"},
        // Each byte of a multi-byte character is its own upper-case escape.
        EscapeCase{"PerByteTwoByteUtf8", kPerByte, "\xC3\xA9", "\\u00C3\\u00A9"},
        EscapeCase{"PerByteThreeByteUtf8", kPerByte, "\xE2\x82\xAC", "\\u00E2\\u0082\\u00AC"},
        EscapeCase{"PerByteHighBytesBounds", kPerByte, "\x80\xFF", "\\u0080\\u00FF"},
        EscapeCase{"PerByteNotUtf8", kPerByte, "\xC0\x80\xED\xA0\x80", "\\u00C0\\u0080\\u00ED\\u00A0\\u0080"},
        EscapeCase{"PerByteWindowsPath", kPerByte, "C:\\Users/J\xC3\xBCrgen", "C:\\\\Users\\/J\\u00C3\\u00BCrgen"},
        // Stored records: by character, Latin-1 kept, the rest as UTF-16 units.
        EscapeCase{"WidePlain", kWide, "abc XYZ 019 ~", "abc XYZ 019 ~"},
        EscapeCase{"WideQuoteBackslashSlash", kWide, "a\"b\\c/d", "a\\\"b\\\\c\\/d"},
        EscapeCase{"WideControlsAndDeleteAsHex", kWide, std::string("\t\n\x00\x1F\x7F", 5),
                   "\\u0009\\u000A\\u0000\\u001F\\u007F"},
        EscapeCase{"WideLatin1Kept", kWide, "caf\xC3\xA9 \xC2\x80\xC3\xBF", "caf\xC3\xA9 \xC2\x80\xC3\xBF"},
        EscapeCase{"WideAboveLatin1AsUnit", kWide, "\xC4\x80\xCE\xA9\xEF\xBF\xBF", "\\u0100\\u03A9\\uFFFF"},
        EscapeCase{"WideAboveBmpAsSurrogatePair", kWide, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
                   "\\uD83D\\uDE00\\uDBFF\\uDFFF"},
        // Lines for people and scripts: only what JSON requires.
        EscapeCase{"MinimalPlain", kMinimal, "abc/XYZ 019 ~\x7F", "abc/XYZ 019 ~\x7F"},
        EscapeCase{"MinimalQuoteBackslash", kMinimal, "a\"b\\c", "a\\\"b\\\\c"},
        EscapeCase{"MinimalNamedControls", kMinimal, "\n\r\t", "\\n\\r\\t"},
        EscapeCase{"MinimalOtherControlsAsLowerHex", kMinimal, std::string("\x00\b\f\x1b", 4),
                   "\\u0000\\u0008\\u000c\\u001b"},
        EscapeCase{"MinimalUtf8AsItIs", kMinimal, "caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

// A stored record must read back as the text it was given; text that is not
// UTF-8 could not, so it is refused rather than written some other way.
TEST(JsonEscapeWideCharacters, RefusesTextThatIsNotUtf8) {
    for (const std::string bad : {"\xC0\x80", "ok\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
        std::string out = "kept";
        EXPECT_THROW(AppendJsonEscaped(out, bad, JsonEscaping::WideCharacters), std::invalid_argument) << bad;
    }
}

TEST(JsonEscapeAppend, AddsToWhatIsThere) {
    std::string out = "{\"a\":\"";
    AppendJsonEscaped(out, "x/y", JsonEscaping::PerByte);
    EXPECT_EQ(out, "{\"a\":\"x\\/y");
}

}  // namespace
}  // namespace vrexa
