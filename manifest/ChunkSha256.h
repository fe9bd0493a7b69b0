#pragma once

#include <cstddef>
#include <memory>

#include "manifest/Sha256Digest.h"

struct evp_md_ctx_st;

namespace vrexa {

// The SHA-256 of a chunk's bytes fed in pieces as they arrive, so that the
// bytes are never read a second time to check them. Movable, not copyable.
class ChunkSha256 {
public:
    ChunkSha256();
    ~ChunkSha256();
    ChunkSha256(ChunkSha256&&) noexcept;
    ChunkSha256& operator=(ChunkSha256&&) noexcept;

    void Update(const void* data, std::size_t size);

    // The digest of everything fed since construction or the last Reset; the
    // object is reset afterwards.
    Sha256Digest Finish();

    // Starts over with no bytes.
    void Reset();

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};

// The SHA-256 of one buffer.
Sha256Digest ChunkSha256Of(const void* data, std::size_t size);

}  // namespace vrexa
