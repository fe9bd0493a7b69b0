#include "manifest/ChunkChecksum.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <boost/crc.hpp>
#include <gtest/gtest.h>

namespace vrexa {
namespace {

std::uint32_t Reference(const unsigned char* data, std::size_t size) {
    boost::crc_32_type crc;
    crc.process_bytes(data, size);
    return crc.checksum();
}

std::vector<unsigned char> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 engine(seed);
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(engine());
    return bytes;
}

TEST(ChunkChecksum, GivesStandardCheckValues) {
    const std::string check = "123456789";
    EXPECT_EQ(ChunkChecksum(check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(ChunkChecksum(nullptr, 0), 0u);
    const unsigned char zero = 0;
    EXPECT_EQ(ChunkChecksum(&zero, 1), 0xD202EF8Du);
}

TEST(ChunkChecksum, AgreesWithReferenceOverLengthsAndAlignments) {
    // Vectorised code paths switch on length and alignment; cover short tails,
    // every misalignment and the lengths around the block sizes.
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (std::size_t n : {511u, 512u, 513u, 1023u, 1024u, 4095u, 4096u, 4097u, 65535u, 65536u, 65537u, 1048576u + 3u}) {
        lengths.push_back(n);
    }
    const auto buffer = RandomBytes(1048576 + 3 + 64, 7);
    for (std::size_t alignment = 0; alignment < 16; ++alignment) {
        for (std::size_t length : lengths) {
            const unsigned char* data = buffer.data() + alignment;
            ASSERT_EQ(ChunkChecksum(data, length), Reference(data, length))
                << "length " << length << " alignment " << alignment;
        }
    }
}

TEST(ChunkChecksum, ContinuesFromPreviousChecksumAtAnySplit) {
    const auto bytes = RandomBytes(1000, 11);
    const std::uint32_t whole = Reference(bytes.data(), bytes.size());
    for (std::size_t split = 0; split <= bytes.size(); split += 37) {
        const std::uint32_t first = ChunkChecksum(bytes.data(), split);
        EXPECT_EQ(ChunkChecksum(bytes.data() + split, bytes.size() - split, first), whole) << "split " << split;
    }
    // Three pieces, one of them empty.
    std::uint32_t crc = ChunkChecksum(bytes.data(), 400);
    crc = ChunkChecksum(bytes.data() + 400, 0, crc);
    crc = ChunkChecksum(bytes.data() + 400, 600, crc);
    EXPECT_EQ(crc, whole);
}

}  // namespace
}  // namespace vrexa
