#include "manifest/ChunkSha256.h"

#include <new>
#include <stdexcept>

#include <openssl/evp.h>

namespace vrexa {

namespace {

void Check(int result) {
    // The digest functions fail only when memory or the library itself is
    // broken; nothing a caller could handle better than a failure.
    if (result != 1) throw std::runtime_error("SHA-256 computation failed");
}

}  // namespace

void ChunkSha256::Free::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

ChunkSha256::ChunkSha256() : context_(EVP_MD_CTX_new()) {
    if (!context_) throw std::bad_alloc();
    Reset();
}

ChunkSha256::~ChunkSha256() = default;
ChunkSha256::ChunkSha256(ChunkSha256&&) noexcept = default;
ChunkSha256& ChunkSha256::operator=(ChunkSha256&&) noexcept = default;

void ChunkSha256::Reset() { Check(EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr)); }

void ChunkSha256::Update(const void* data, std::size_t size) {
    if (size == 0) return;
    Check(EVP_DigestUpdate(context_.get(), data, size));
}

Sha256Digest ChunkSha256::Finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    Check(EVP_DigestFinal_ex(context_.get(), digest.data(), &length));
    if (length != digest.size()) throw std::runtime_error("SHA-256 computation failed");
    Reset();
    return digest;
}

Sha256Digest ChunkSha256Of(const void* data, std::size_t size) {
    ChunkSha256 hash;
    hash.Update(data, size);
    return hash.Finish();
}

}  // namespace vrexa
