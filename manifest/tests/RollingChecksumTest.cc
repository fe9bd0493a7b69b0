#include "manifest/RollingChecksum.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "manifest/ChunkChecksum.h"

namespace vrexa {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 engine(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(engine());
    return bytes;
}

// Slides the window over the whole buffer and compares, at every offset, the
// rolled checksum with the checksum of the window computed directly.
TEST(RollingChecksum, AgreesWithTheDirectChecksumAtEveryOffset) {
    const auto bytes = RandomBytes(20000, 7);
    for (const std::size_t window : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{8}, std::size_t{255},
                                     std::size_t{4096}, std::size_t{19999}, std::size_t{20000}}) {
        SCOPED_TRACE(window);
        const RollingChecksum rolling(window);
        std::uint32_t reg = rolling.ToRegister(ChunkChecksum(bytes.data(), window));
        for (std::size_t start = 0;; ++start) {
            ASSERT_EQ(rolling.ToChecksum(reg), ChunkChecksum(bytes.data() + start, window)) << "offset " << start;
            if (start + window == bytes.size()) break;
            reg = rolling.Roll(reg, bytes[start], bytes[start + window]);
        }
    }
}

TEST(RollingChecksum, ConvertsBetweenChecksumsAndRegistersBothWays) {
    // A window of zeros has register 0 whatever its length: the conversion
    // constant is the checksum of that many zeros, including windows far
    // larger than any buffer the test could hold.
    for (const std::uint64_t window :
         {std::uint64_t{1}, std::uint64_t{4096}, std::uint64_t{1} << 20, (std::uint64_t{1} << 32) + 5}) {
        SCOPED_TRACE(window);
        const RollingChecksum rolling(window);
        if (window <= (std::uint64_t{1} << 20)) {
            const std::vector<std::uint8_t> zeros(window, 0);
            EXPECT_EQ(rolling.ToRegister(ChunkChecksum(zeros.data(), zeros.size())), 0u);
        }
        EXPECT_EQ(rolling.ToRegister(rolling.ToChecksum(0x12345678u)), 0x12345678u);
    }
    EXPECT_THROW(RollingChecksum(0), std::invalid_argument);
}

}  // namespace
}  // namespace vrexa
