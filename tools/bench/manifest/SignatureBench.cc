// What checking a signed document costs: the signature over a package
// manifest of 100 000 files (about 15 MB) in the pre-hashed form the
// publisher writes and the legacy form, and the comment and key parsing
// around it. Compare with `minisign -V` on the same file (see README).
#include <sodium.h>

#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "manifest/Minisign.h"
#include "manifest/TrustedComment.h"

namespace {

struct Signed {
    std::string document;
    std::vector<vrexa::MinisignPublicKey> keys;
    vrexa::MinisignSignature prehashed;
    vrexa::MinisignSignature legacy;
};

const Signed& Fixture() {
    static const Signed fixture = [] {
        if (sodium_init() < 0) std::abort();
        Signed made;
        std::mt19937_64 engine(1);
        made.document.resize(15'000'000);
        for (auto& c : made.document)
            c = static_cast<char>(engine());
        vrexa::MinisignSecretKey secret;
        vrexa::MinisignPublicKey key;
        crypto_sign_keypair(key.key.data(), secret.key.data());
        secret.keyId.fill(9);
        key.keyId = secret.keyId;
        made.keys = {key};
        const std::string comment = "kind=package id=k1 version=v1 serial=1796974773 expires=1804750773";
        made.prehashed = vrexa::ParseMinisignSignature(vrexa::SignMinisign(secret, made.document, comment, ""));
        // The legacy form signs the document itself.
        made.legacy = made.prehashed;
        made.legacy.prehashed = false;
        crypto_sign_detached(made.legacy.signature.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(made.document.data()), made.document.size(),
                             secret.key.data());
        std::string global(made.legacy.signature.begin(), made.legacy.signature.end());
        global += comment;
        crypto_sign_detached(made.legacy.globalSignature.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(global.data()), global.size(), secret.key.data());
        return made;
    }();
    return fixture;
}

void BM_VerifyManifest15MB(benchmark::State& state) {
    const Signed& fixture = Fixture();
    const vrexa::MinisignSignature& signature = state.range(0) != 0 ? fixture.prehashed : fixture.legacy;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&vrexa::VerifyMinisign(fixture.keys, fixture.document, signature));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fixture.document.size()));
    state.SetLabel(state.range(0) != 0 ? "ED (BLAKE2b-512 first)" : "Ed (legacy)");
}
BENCHMARK(BM_VerifyManifest15MB)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ParseSignatureAndComment(benchmark::State& state) {
    const vrexa::MinisignSignature& signature = Fixture().prehashed;
    std::string text = "untrusted comment: x\n";
    std::uint8_t raw[74] = {'E', 'D'};
    text += vrexa::EncodeBase64(raw, sizeof raw) + "\ntrusted comment: " + signature.trustedComment + "\n" +
            vrexa::EncodeBase64(signature.globalSignature.data(), 64) + "\n";
    for (auto _ : state) {
        const auto parsed = vrexa::ParseMinisignSignature(text);
        benchmark::DoNotOptimize(vrexa::ParseTrustedComment(parsed.trustedComment).serial);
    }
}
BENCHMARK(BM_ParseSignatureAndComment);

}  // namespace

BENCHMARK_MAIN();
