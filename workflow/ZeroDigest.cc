#include "workflow/ZeroDigest.h"

#include <array>
#include <map>
#include <mutex>

#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"

namespace vrexa {

namespace {

// A digest of `length` zero bytes, computed once per length and kept. A file
// has at most two chunk lengths (the chunk size and its last chunk), so the
// table stays tiny; it is capped all the same.
template <typename Digest, typename Compute>
Digest KeptZeroDigest(std::uint64_t length, Compute&& compute) {
    static std::mutex mutex;
    static std::map<std::uint64_t, Digest> known;
    {
        const std::lock_guard lock(mutex);
        if (const auto found = known.find(length); found != known.end()) {
            return found->second;
        }
    }
    static const std::array<std::uint8_t, 65536> zeros{};
    const Digest digest = compute([&](auto&& feed) {
        for (std::uint64_t left = length; left > 0;) {
            const std::size_t piece = left < zeros.size() ? static_cast<std::size_t>(left) : zeros.size();
            feed(zeros.data(), piece);
            left -= piece;
        }
    });
    const std::lock_guard lock(mutex);
    if (known.size() < 64) {
        known.emplace(length, digest);
    }
    return digest;
}

}  // namespace

std::uint32_t ZeroChecksum(std::uint64_t length) {
    return KeptZeroDigest<std::uint32_t>(length, [](auto&& zeros) {
        std::uint32_t checksum = 0;
        zeros([&](const std::uint8_t* data, std::size_t size) { checksum = ChunkChecksum(data, size, checksum); });
        return checksum;
    });
}

Sha256Digest ZeroSha256(std::uint64_t length) {
    return KeptZeroDigest<Sha256Digest>(length, [](auto&& zeros) {
        ChunkSha256 hash;
        zeros([&](const std::uint8_t* data, std::size_t size) { hash.Update(data, size); });
        return hash.Finish();
    });
}

}  // namespace vrexa
