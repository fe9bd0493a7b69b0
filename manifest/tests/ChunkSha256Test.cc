#include "manifest/ChunkSha256.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "manifest/Sha256Digest.h"

namespace vrexa {
namespace {

TEST(ChunkSha256, GivesStandardTestVectors) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256Text(ChunkSha256Of(c.input.data(), c.input.size())), c.digest) << c.input.size();
    }
}

TEST(ChunkSha256, PiecesGiveTheDigestOfTheWholeAndFinishStartsOver) {
    std::string bytes(70000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 + 7);
    const Sha256Digest whole = ChunkSha256Of(bytes.data(), bytes.size());
    // Pieces that cross the 64-byte block boundary at every phase.
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 4096u, 69999u}) {
        ChunkSha256 hash;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            hash.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(hash.Finish(), whole) << piece;
        // A finished hash is ready for the next chunk.
        hash.Update("abc", 3);
        EXPECT_EQ(hash.Finish(), ChunkSha256Of("abc", 3)) << piece;
    }
    ChunkSha256 reset;
    reset.Update(bytes.data(), 100);
    reset.Reset();
    EXPECT_EQ(reset.Finish(), ChunkSha256Of(nullptr, 0));
}

TEST(Sha256Text, ReadsExactlySixtyFourHexDigitsOfEitherCase) {
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const Sha256Digest abc = ChunkSha256Of("abc", 3);
    std::string upper = lower;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        const char* name;
        std::string text;
        bool valid;
    } cases[] = {
        {"Lower", lower, true},
        {"Upper", upper, true},
        {"OneShort", lower.substr(1), false},
        {"OneLong", lower + "0", false},
        {"Empty", "", false},
        {"NonHexLetter", "g" + lower.substr(1), false},
        {"NonHexAtEnd", lower.substr(0, 63) + "z", false},
        {"LeadingSpace", " " + lower.substr(1), false},
        {"Prefix", "0x" + lower.substr(2), false},
        {"Sign", "+" + lower.substr(1), false},
        {"ZeroByte", std::string(1, '\0') + lower.substr(1), false},
    };
    for (const auto& c : cases) {
        const auto digest = ParseSha256Text(c.text);
        ASSERT_EQ(digest.has_value(), c.valid) << c.name;
        if (c.valid) {
            EXPECT_EQ(*digest, abc) << c.name;
        }
    }
    EXPECT_EQ(Sha256Text(abc), lower);
    EXPECT_EQ(Sha256ListText({abc, ChunkSha256Of(nullptr, 0)}),
              lower + "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256ListText({}), "");
}

}  // namespace
}  // namespace vrexa
