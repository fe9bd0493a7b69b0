#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vrexa {

// Detached Ed25519 signatures in the text formats vendors already use to sign
// releases by hand, so that their keys and tools keep working and a signature
// can be checked without this program.
//
// A public key file: a comment line, then base64 of "Ed", an 8-byte key id
// and the 32-byte public key. A signature file: a comment line, base64 of the
// algorithm ("Ed": the document itself is signed; "ED": its 64-byte BLAKE2b
// hash is), the key id and the 64-byte signature, a "trusted comment: " line,
// and base64 of a second signature over the first one followed by the trusted
// comment, so that the comment cannot be changed or moved to another document.

using MinisignKeyId = std::array<std::uint8_t, 8>;

// A file that is not in the format, or a key that cannot be used; the text
// says what is wrong and is meant for the user.
class MinisignFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A signature that does not hold; the text says why.
class MinisignVerifyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MinisignPublicKey {
    MinisignKeyId keyId{};
    std::array<std::uint8_t, 32> key{};
};

struct MinisignSignature {
    // "ED": the signed message is the BLAKE2b-512 of the document.
    bool prehashed = false;
    MinisignKeyId keyId{};
    std::array<std::uint8_t, 64> signature{};
    std::string trustedComment;
    std::array<std::uint8_t, 64> globalSignature{};
};

struct MinisignSecretKey {
    MinisignKeyId keyId{};
    // Seed followed by the public key, as the signing primitive takes it.
    std::array<std::uint8_t, 64> key{};
};

// Signature files and key files are a few hundred bytes; anything larger is
// refused before it is read further.
inline constexpr std::size_t kMaxMinisignFileBytes = 16 * 1024;

// The key id as the tools print it: 16 upper-case hexadecimal digits, most
// significant byte (the last one stored) first.
std::string FormatKeyId(const MinisignKeyId& keyId);

// A public key file, or its base64 line alone.
MinisignPublicKey ParseMinisignPublicKey(std::string_view text);
MinisignSignature ParseMinisignSignature(std::string_view text);
// An unencrypted secret key when password is empty; otherwise decrypted with
// password. A wrong password shows as a checksum mismatch.
MinisignSecretKey ParseMinisignSecretKey(std::string_view text, std::string_view password);
// Whether the secret key file needs a password.
bool MinisignSecretKeyIsEncrypted(std::string_view text);

// Checks signature over document against the key of the same id among keys
// and returns that key; MinisignVerifyError when no key has its id ("signature
// by an untrusted key"), when the document does not match, or when the
// trusted comment does not.
const MinisignPublicKey& VerifyMinisign(const std::vector<MinisignPublicKey>& keys, std::string_view document,
                                        const MinisignSignature& signature);

// A signature file over document (pre-hashed) with the given comments; a
// trusted comment may not hold a line break.
std::string SignMinisign(const MinisignSecretKey& key, std::string_view document, std::string_view trustedComment,
                         std::string_view untrustedComment);

// Strict standard base64 with padding; MinisignFormatError otherwise.
std::vector<std::uint8_t> DecodeBase64(std::string_view text);
std::string EncodeBase64(const std::uint8_t* data, std::size_t size);

}  // namespace vrexa
