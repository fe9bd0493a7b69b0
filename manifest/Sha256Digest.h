#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrexa {

// The SHA-256 of one chunk. A chunk is accepted only when it matches this as
// well as its CRC-32: anyone can give content a chosen CRC-32 by changing four
// bytes, not a chosen SHA-256.
using Sha256Digest = std::array<std::uint8_t, 32>;

// The 64 hexadecimal characters of one digest.
constexpr std::size_t kSha256TextLength = 64;

// A digest as 64 lower-case hexadecimal characters.
std::string Sha256Text(const Sha256Digest& digest);

// Digests concatenated in order, as a manifest entry carries them.
std::string Sha256ListText(const std::vector<Sha256Digest>& digests);

// Reads exactly 64 hexadecimal characters (either case); nullopt for anything
// else, whitespace and prefixes included.
std::optional<Sha256Digest> ParseSha256Text(std::string_view text);

}  // namespace vrexa
