#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vrexa {

// The chunk checksum (ChunkChecksum) of a window of fixed length sliding over
// a stream of bytes, moved one byte at a time at constant cost: finding a
// chunk at any offset of an old file takes one step per byte instead of a
// checksum of the whole window per byte.
//
// The window is kept as a raw register (no initial value, no final
// exclusive-or), in which sliding is linear: the byte entering goes through
// the ordinary table and the byte leaving is cancelled with a second table
// that holds each byte's effect after it has travelled the whole window.
// Checksums convert to and from registers with one exclusive-or, so the
// checksums sought are converted once and compared as registers in the loop.
class RollingChecksum {
public:
    // A window of `window` bytes (at least 1).
    explicit RollingChecksum(std::uint64_t window);

    std::uint64_t GetWindow() const { return window_; }

    // The register of a window whose checksum is `checksum`, and back.
    std::uint32_t ToRegister(std::uint32_t checksum) const { return checksum ^ zeros_; }
    std::uint32_t ToChecksum(std::uint32_t reg) const { return reg ^ zeros_; }

    // The register after the window lost `out` (its first byte) and gained
    // `in` (the byte after its last).
    std::uint32_t Roll(std::uint32_t reg, std::uint8_t out, std::uint8_t in) const {
        return (reg >> 8) ^ Table()[(reg ^ in) & 0xFF] ^ out_[out];
    }

    // The byte table of the reflected polynomial.
    static const std::array<std::uint32_t, 256>& Table();
    // What a byte leaving the window contributes; for loops that inline Roll.
    const std::array<std::uint32_t, 256>& OutTable() const { return out_; }

private:
    std::uint64_t window_;
    // The checksum of `window_` zero bytes: the difference between a
    // window's checksum and its register.
    std::uint32_t zeros_;
    std::array<std::uint32_t, 256> out_;
};

}  // namespace vrexa
