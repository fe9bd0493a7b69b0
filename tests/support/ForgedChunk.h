#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vrexa::testsupport {

// Bytes of the same size as `original` that differ from it yet have the same
// CRC-32: the first byte is changed and the last four are chosen to bring the
// checksum back. This is what a hostile node can serve for any chunk of at
// least five bytes, and what only a cryptographic hash tells apart.
inline std::string CrcForgedChunk(const std::string& original) {
    if (original.size() < 5) throw std::invalid_argument("a chunk of at least five bytes is needed");
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    // The register after `size` bytes of `data`, starting from `reg`.
    const auto run = [&](std::uint32_t reg, const std::string& data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            reg = (reg >> 8) ^ table[(reg ^ static_cast<unsigned char>(data[i])) & 0xFF];
        return reg;
    };
    const std::uint32_t target = run(0xFFFFFFFFu, original, original.size());

    std::string forged = original;
    forged[0] = static_cast<char>(forged[0] ^ 0x5A);
    const std::size_t tail = forged.size() - 4;
    const std::uint32_t before = run(0xFFFFFFFFu, forged, tail);
    // Walk the register back from the target through four unknown bytes: the
    // top byte of each table entry is distinct, so each step has one answer.
    std::uint32_t reg = target;
    for (int step = 0; step < 4; ++step) {
        std::uint32_t index = 0;
        while ((table[index] >> 24) != (reg >> 24))
            ++index;
        reg = ((reg ^ table[index]) << 8) | index;
    }
    const std::uint32_t bytes = reg ^ before;
    for (int i = 0; i < 4; ++i)
        forged[tail + static_cast<std::size_t>(i)] = static_cast<char>((bytes >> (8 * i)) & 0xFF);
    if (run(0xFFFFFFFFu, forged, forged.size()) != target || forged == original) {
        throw std::logic_error("the forged chunk does not keep the checksum");
    }
    return forged;
}

// A whole file served that way: every chunk of chunkSize bytes forged.
inline std::string CrcForgedChunks(const std::string& content, std::size_t chunkSize) {
    std::string forged;
    forged.reserve(content.size());
    for (std::size_t at = 0; at < content.size(); at += chunkSize)
        forged += CrcForgedChunk(content.substr(at, chunkSize));
    return forged;
}

}  // namespace vrexa::testsupport
