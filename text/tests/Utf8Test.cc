#include "text/Utf8.h"

#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::optional<char32_t> code;  // nothing: not well formed
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Utf8DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

// One sequence followed by "z": a well-formed one is consumed exactly, so the
// next character is read next; a malformed one leaves the position alone.
TEST_P(Utf8DecodeTest, DecodesOneSequenceOrRefusesIt) {
    const std::string text = GetParam().bytes + "z";
    std::size_t at = 0;
    const std::optional<char32_t> code = NextCodePoint(text, at);
    EXPECT_EQ(code, GetParam().code);
    if (GetParam().code) {
        EXPECT_EQ(at, GetParam().bytes.size());
        EXPECT_EQ(NextCodePoint(text, at), U'z');
        EXPECT_TRUE(IsUtf8(text));
    } else {
        EXPECT_EQ(at, 0u);
        EXPECT_FALSE(IsUtf8(text));
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, Utf8DecodeTest,
                         ::testing::Values(DecodeCase{"Ascii", "A", U'A'}, DecodeCase{"Nul", std::string(1, '\0'), 0},
                                           DecodeCase{"TwoBytesSmallest", "\xC2\x80", 0x80},
                                           DecodeCase{"TwoBytes", "\xC3\xA9", 0xE9},
                                           DecodeCase{"ThreeBytesSmallest", "\xE0\xA0\x80", 0x800},
                                           DecodeCase{"ThreeBytes", "\xE2\x82\xAC", 0x20AC},
                                           DecodeCase{"BelowSurrogates", "\xED\x9F\xBF", 0xD7FF},
                                           DecodeCase{"AboveSurrogates", "\xEE\x80\x80", 0xE000},
                                           DecodeCase{"FourBytes", "\xF0\x9D\x84\x9E", 0x1D11E},
                                           DecodeCase{"Largest", "\xF4\x8F\xBF\xBF", 0x10FFFF},
                                           DecodeCase{"OverlongTwo", "\xC0\x80", std::nullopt},
                                           DecodeCase{"OverlongTwoC1", "\xC1\xBF", std::nullopt},
                                           DecodeCase{"OverlongThree", "\xE0\x9F\xBF", std::nullopt},
                                           DecodeCase{"OverlongFour", "\xF0\x8F\xBF\xBF", std::nullopt},
                                           DecodeCase{"Surrogate", "\xED\xA0\x80", std::nullopt},
                                           DecodeCase{"AboveLargest", "\xF4\x90\x80\x80", std::nullopt},
                                           DecodeCase{"LeadF5", "\xF5\x80\x80\x80", std::nullopt},
                                           DecodeCase{"LeadF8", "\xF8\x88\x80\x80\x80", std::nullopt},
                                           DecodeCase{"StrayContinuation", "\x80", std::nullopt},
                                           DecodeCase{"ContinuationMissing", "\xE2\x28\xA1", std::nullopt},
                                           DecodeCase{"CutShort", "\xE2\x82", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8, CutShortAtTheEndOfTheTextIsRefused) {
    const std::string text = "ab\xF0\x9D\x84";
    std::size_t at = 2;
    EXPECT_EQ(NextCodePoint(text, at), std::nullopt);
    EXPECT_EQ(at, 2u);
    EXPECT_FALSE(IsUtf8(text));
    at = text.size();
    EXPECT_EQ(NextCodePoint(text, at), std::nullopt) << "nothing is read past the end";
    EXPECT_TRUE(IsUtf8(""));
}

// Every scalar value's encoding decodes back to it: the writer and the reader
// agree on every length boundary.
TEST(Utf8, EveryScalarValueRoundTrips) {
    for (char32_t code = 0; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        std::string bytes;
        AppendUtf8(bytes, code);
        std::size_t at = 0;
        ASSERT_EQ(NextCodePoint(bytes, at), code) << std::hex << static_cast<unsigned>(code);
        ASSERT_EQ(at, bytes.size());
    }
}

}  // namespace
}  // namespace vrexa
