// Signature files, trusted comments and key files from anyone: each parser
// either refuses with its format error or gives fields that read back the
// same when written out again, and a check against a fixed key never trusts
// what it cannot verify.
#include <sodium.h>

#include <cstring>

#include "fuzz/FuzzInput.h"
#include "manifest/Minisign.h"
#include "manifest/TrustedComment.h"

namespace {

using namespace vrexa;

std::string SignatureText(const MinisignSignature& signature) {
    std::uint8_t raw[74] = {'E', static_cast<std::uint8_t>(signature.prehashed ? 'D' : 'd')};
    std::memcpy(raw + 2, signature.keyId.data(), 8);
    std::memcpy(raw + 10, signature.signature.data(), 64);
    return "untrusted comment: again\n" + EncodeBase64(raw, sizeof raw) +
           "\ntrusted comment: " + signature.trustedComment + "\n" +
           EncodeBase64(signature.globalSignature.data(), signature.globalSignature.size()) + "\n";
}

const MinisignPublicKey& FixedKey() {
    static const MinisignPublicKey key = [] {
        if (sodium_init() < 0) __builtin_trap();
        MinisignPublicKey made;
        std::uint8_t seed[32] = {};
        std::uint8_t secret[64];
        crypto_sign_seed_keypair(made.key.data(), secret, seed);
        return made;  // key id all zeros
    }();
    return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts = vrexa::fuzz::SplitArguments(data, size);
    parts.resize(5);
    const std::string& signatureText = parts[0];
    const std::string& commentText = parts[1];

    try {
        const MinisignSignature signature = ParseMinisignSignature(signatureText);
        const MinisignSignature again = ParseMinisignSignature(SignatureText(signature));
        VREXA_FUZZ_CHECK(again.prehashed == signature.prehashed && again.keyId == signature.keyId &&
                         again.signature == signature.signature && again.trustedComment == signature.trustedComment &&
                         again.globalSignature == signature.globalSignature);
        VREXA_FUZZ_CHECK(signature.trustedComment.find('\n') == std::string::npos);
        // Nobody holds the fixed key's secret but a seed of zeros: whatever
        // verifies was signed with it, and anything else is refused by type.
        try {
            VerifyMinisign({FixedKey()}, parts[4], signature);
            VREXA_FUZZ_CHECK(signature.keyId == FixedKey().keyId);
        } catch (const MinisignVerifyError&) {
        }
    } catch (const MinisignFormatError&) {
    }

    try {
        const TrustedComment comment = ParseTrustedComment(commentText);
        const TrustedComment again = ParseTrustedComment(FormatTrustedComment(comment));
        VREXA_FUZZ_CHECK(again.kind == comment.kind && again.id == comment.id && again.version == comment.version &&
                         again.serial == comment.serial && again.expires == comment.expires);
    } catch (const MinisignFormatError&) {
    }

    try {
        const MinisignPublicKey key = ParseMinisignPublicKey(parts[2]);
        std::uint8_t raw[42] = {'E', 'd'};
        std::memcpy(raw + 2, key.keyId.data(), 8);
        std::memcpy(raw + 10, key.key.data(), 32);
        VREXA_FUZZ_CHECK(ParseMinisignPublicKey(EncodeBase64(raw, sizeof raw)).key == key.key);
    } catch (const MinisignFormatError&) {
    }

    // Without a password an encrypted key is refused before any key
    // derivation, so the fuzzer never pays for one.
    try {
        ParseMinisignSecretKey(parts[3], "");
    } catch (const MinisignFormatError&) {
    }
    return 0;
}
