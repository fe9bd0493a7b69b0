#include "manifest/Minisign.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vrexa {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment:";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::size_t kSecretKeyBytes = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 64 + 32;

void InitSodium() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0) throw std::runtime_error("the cryptographic library cannot start");
    });
}

// The lines of text without their line ends; a last line without an end
// counts, empty lines at the end do not.
std::vector<std::string_view> Lines(std::string_view text, std::string_view what) {
    if (text.size() > kMaxMinisignFileBytes) {
        throw MinisignFormatError(std::string(what) + " larger than " + std::to_string(kMaxMinisignFileBytes) +
                                  " bytes");
    }
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::vector<std::uint8_t> DecodeField(std::string_view line, std::size_t size, std::string_view what) {
    std::vector<std::uint8_t> bytes = DecodeBase64(line);
    if (bytes.size() != size) {
        throw MinisignFormatError(std::string(what) + " holds " + std::to_string(bytes.size()) + " bytes instead of " +
                                  std::to_string(size));
    }
    return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> Take(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::array<std::uint8_t, N> out{};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, out.begin());
    return out;
}

std::uint64_t LoadLittleEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

}  // namespace

std::vector<std::uint8_t> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) throw MinisignFormatError("base64 text of a length that is not a multiple of 4");
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int j = 0; j < 4; ++j) {
            const char c = text[i + static_cast<std::size_t>(j)];
            if (c == '=' && last && j >= 2) {
                ++padding;
                values[j] = 0;
                continue;
            }
            // Padding is only ever at the very end.
            if (padding > 0 || (values[j] = Base64Value(c)) < 0) throw MinisignFormatError("invalid base64 text");
        }
        const std::uint32_t group = static_cast<std::uint32_t>(values[0]) << 18 |
                                    static_cast<std::uint32_t>(values[1]) << 12 |
                                    static_cast<std::uint32_t>(values[2]) << 6 | static_cast<std::uint32_t>(values[3]);
        // Bits below the last whole byte must be zero, so each text has
        // exactly one decoding.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            throw MinisignFormatError("invalid base64 text");
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) out.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1) out.push_back(static_cast<std::uint8_t>(group));
    }
    return out;
}

std::string EncodeBase64(const std::uint8_t* data, std::size_t size) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16;
        if (left > 1) group |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        if (left > 2) group |= data[i + 2];
        out += kAlphabet[group >> 18 & 63];
        out += kAlphabet[group >> 12 & 63];
        out += left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        out += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return out;
}

std::string FormatKeyId(const MinisignKeyId& keyId) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (auto it = keyId.rbegin(); it != keyId.rend(); ++it) {
        text += kHex[*it >> 4];
        text += kHex[*it & 15];
    }
    return text;
}

MinisignPublicKey ParseMinisignPublicKey(std::string_view text) {
    std::vector<std::string_view> lines = Lines(text, "public key file");
    if (!lines.empty() && StartsWith(lines.front(), kUntrustedPrefix)) lines.erase(lines.begin());
    if (lines.size() != 1) throw MinisignFormatError("a public key file holds one comment line and one key line");
    const std::vector<std::uint8_t> bytes = DecodeField(lines[0], 42, "public key");
    if (bytes[0] != 'E' || bytes[1] != 'd') throw MinisignFormatError("public key of an unknown algorithm");
    MinisignPublicKey key;
    key.keyId = Take<8>(bytes, 2);
    key.key = Take<32>(bytes, 10);
    return key;
}

MinisignSignature ParseMinisignSignature(std::string_view text) {
    const std::vector<std::string_view> lines = Lines(text, "signature file");
    if (lines.size() != 4 || !StartsWith(lines[0], kUntrustedPrefix) || !StartsWith(lines[2], kTrustedPrefix)) {
        throw MinisignFormatError(
            "a signature file holds an untrusted comment, a signature, a trusted comment and a global signature");
    }
    const std::vector<std::uint8_t> bytes = DecodeField(lines[1], 74, "signature");
    MinisignSignature signature;
    if (bytes[0] == 'E' && bytes[1] == 'd') {
        signature.prehashed = false;
    } else if (bytes[0] == 'E' && bytes[1] == 'D') {
        signature.prehashed = true;
    } else {
        throw MinisignFormatError("signature of an unknown algorithm");
    }
    signature.keyId = Take<8>(bytes, 2);
    signature.signature = Take<64>(bytes, 10);
    signature.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
    signature.globalSignature = Take<64>(DecodeField(lines[3], 64, "global signature"), 0);
    return signature;
}

bool MinisignSecretKeyIsEncrypted(std::string_view text) {
    const std::vector<std::string_view> lines = Lines(text, "secret key file");
    if (lines.size() != 2 || !StartsWith(lines[0], kUntrustedPrefix)) {
        throw MinisignFormatError("a secret key file holds one comment line and one key line");
    }
    const std::vector<std::uint8_t> bytes = DecodeField(lines[1], kSecretKeyBytes, "secret key");
    if (bytes[2] == 'S' && bytes[3] == 'c') return true;
    if (bytes[2] == 0 && bytes[3] == 0) return false;
    throw MinisignFormatError("secret key with an unknown key derivation");
}

MinisignSecretKey ParseMinisignSecretKey(std::string_view text, std::string_view password) {
    InitSodium();
    const bool encrypted = MinisignSecretKeyIsEncrypted(text);
    std::vector<std::uint8_t> bytes = DecodeField(Lines(text, "secret key file")[1], kSecretKeyBytes, "secret key");
    if (bytes[0] != 'E' || bytes[1] != 'd') throw MinisignFormatError("secret key of an unknown algorithm");
    if (bytes[4] != 'B' || bytes[5] != '2') throw MinisignFormatError("secret key with an unknown checksum");
    constexpr std::size_t kSalt = 6;
    constexpr std::size_t kOps = kSalt + 32;
    constexpr std::size_t kMem = kOps + 8;
    constexpr std::size_t kSealed = kMem + 8;
    constexpr std::size_t kSealedBytes = 8 + 64 + 32;
    if (encrypted) {
        if (password.empty()) throw MinisignFormatError("the secret key is encrypted and no password was given");
        const std::uint64_t opslimit = LoadLittleEndian64(&bytes[kOps]);
        const std::uint64_t memlimit = LoadLittleEndian64(&bytes[kMem]);
        // A hostile or damaged file must not make us spend unbounded memory
        // or time deriving the key.
        if (memlimit > (std::uint64_t{1} << 32) || opslimit > (std::uint64_t{1} << 32)) {
            throw MinisignFormatError("secret key asks for an unreasonable key derivation cost");
        }
        std::array<std::uint8_t, kSealedBytes> stream{};
        if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(), password.size(),
                                               &bytes[kSalt], opslimit, static_cast<std::size_t>(memlimit)) != 0) {
            throw MinisignFormatError("the secret key's password cannot be derived (out of memory?)");
        }
        for (std::size_t i = 0; i < kSealedBytes; ++i)
            bytes[kSealed + i] ^= stream[i];
        sodium_memzero(stream.data(), stream.size());
    }
    MinisignSecretKey key;
    key.keyId = Take<8>(bytes, kSealed);
    key.key = Take<64>(bytes, kSealed + 8);
    std::uint8_t checked[2 + 8 + 64];
    checked[0] = bytes[0];
    checked[1] = bytes[1];
    std::memcpy(checked + 2, key.keyId.data(), 8);
    std::memcpy(checked + 10, key.key.data(), 64);
    std::uint8_t checksum[32];
    crypto_generichash(checksum, sizeof checksum, checked, sizeof checked, nullptr, 0);
    // Unencrypted keys are written with the checksum left as zeros; the
    // public half must then still be the one the seed gives.
    static const std::uint8_t kNoChecksum[32] = {};
    const bool unchecked = !encrypted && std::memcmp(&bytes[kSealed + 72], kNoChecksum, 32) == 0;
    std::uint8_t publicKey[crypto_sign_PUBLICKEYBYTES];
    std::uint8_t secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secretKey, key.key.data());
    const bool intact = (unchecked || sodium_memcmp(checksum, &bytes[kSealed + 72], 32) == 0) &&
                        sodium_memcmp(publicKey, key.key.data() + 32, 32) == 0;
    sodium_memzero(secretKey, sizeof secretKey);
    sodium_memzero(checked, sizeof checked);
    sodium_memzero(bytes.data(), bytes.size());
    if (!intact) {
        throw MinisignFormatError(encrypted ? "wrong password for the secret key" : "the secret key is damaged");
    }
    return key;
}

const MinisignPublicKey& VerifyMinisign(const std::vector<MinisignPublicKey>& keys, std::string_view document,
                                        const MinisignSignature& signature) {
    InitSodium();
    const auto key =
        std::find_if(keys.begin(), keys.end(), [&](const MinisignPublicKey& k) { return k.keyId == signature.keyId; });
    if (key == keys.end()) {
        throw MinisignVerifyError("signature by an untrusted key (key id " + FormatKeyId(signature.keyId) + ")");
    }
    const auto* message = reinterpret_cast<const unsigned char*>(document.data());
    std::size_t messageSize = document.size();
    unsigned char hash[crypto_generichash_BYTES_MAX];
    if (signature.prehashed) {
        crypto_generichash(hash, sizeof hash, message, messageSize, nullptr, 0);
        message = hash;
        messageSize = sizeof hash;
    }
    if (crypto_sign_verify_detached(signature.signature.data(), message, messageSize, key->key.data()) != 0) {
        throw MinisignVerifyError("the signature does not match the document");
    }
    std::string global(signature.signature.begin(), signature.signature.end());
    global += signature.trustedComment;
    if (crypto_sign_verify_detached(signature.globalSignature.data(),
                                    reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                                    key->key.data()) != 0) {
        throw MinisignVerifyError("the trusted comment's signature does not match");
    }
    return *key;
}

std::string SignMinisign(const MinisignSecretKey& key, std::string_view document, std::string_view trustedComment,
                         std::string_view untrustedComment) {
    InitSodium();
    if (trustedComment.find_first_of("\r\n") != std::string_view::npos ||
        untrustedComment.find_first_of("\r\n") != std::string_view::npos) {
        throw MinisignFormatError("a comment may not hold a line break");
    }
    unsigned char hash[crypto_generichash_BYTES_MAX];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(document.data()), document.size(),
                       nullptr, 0);
    std::uint8_t signature[2 + 8 + 64] = {'E', 'D'};
    std::memcpy(signature + 2, key.keyId.data(), 8);
    crypto_sign_detached(signature + 10, nullptr, hash, sizeof hash, key.key.data());
    std::string global(reinterpret_cast<const char*>(signature + 10), 64);
    global += trustedComment;
    std::uint8_t globalSignature[64];
    crypto_sign_detached(globalSignature, nullptr, reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                         key.key.data());
    std::string text;
    text += kUntrustedPrefix;
    text += " ";
    text += untrustedComment;
    text += "\n" + EncodeBase64(signature, sizeof signature) + "\n";
    text += kTrustedPrefix;
    text += trustedComment;
    text += "\n" + EncodeBase64(globalSignature, sizeof globalSignature) + "\n";
    return text;
}

}  // namespace vrexa
