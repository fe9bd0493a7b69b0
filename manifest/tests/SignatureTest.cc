#include <sodium.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "manifest/ManifestTrust.h"
#include "manifest/Minisign.h"
#include "manifest/TrustedComment.h"
#include "tests/support/TestFolder.h"

namespace vrexa {
namespace {

using testing::HasSubstr;

// A key pair made here, in the file formats, so that the parsers and the
// signer meet the same bytes a vendor's files hold.
struct KeyPair {
    MinisignSecretKey secret;
    std::string publicText;
};

KeyPair MakeKeyPair(std::uint8_t idByte) {
    if (sodium_init() < 0) throw std::runtime_error("sodium_init");
    KeyPair pair;
    std::uint8_t publicKey[32];
    crypto_sign_keypair(publicKey, pair.secret.key.data());
    pair.secret.keyId.fill(idByte);
    std::uint8_t raw[42] = {'E', 'd'};
    std::memcpy(raw + 2, pair.secret.keyId.data(), 8);
    std::memcpy(raw + 10, publicKey, 32);
    pair.publicText = "untrusted comment: test key\n" + EncodeBase64(raw, sizeof raw) + "\n";
    return pair;
}

// The lines of a signature file.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

TEST(Base64Test, DecodesOnlyTheOneCanonicalSpelling) {
    const std::string bytes = "any carnal pleasure";
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        const std::string encoded = EncodeBase64(reinterpret_cast<const std::uint8_t*>(bytes.data()), size);
        const std::vector<std::uint8_t> decoded = DecodeBase64(encoded);
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), bytes.substr(0, size)) << encoded;
    }
    for (const char* bad : {"QQ", "QQ=", "Q===", "QR==", "QQ=A", "Q Q=", "QQ==QQ==", "QQ\n=", "@@@@"}) {
        EXPECT_THROW(DecodeBase64(bad), MinisignFormatError) << bad;
    }
}

TEST(MinisignTest, SignedDocumentsVerifyAndEveryChangeIsCaught) {
    const KeyPair vendor = MakeKeyPair(1);
    const KeyPair stranger = MakeKeyPair(2);
    const std::vector<MinisignPublicKey> trusted = {ParseMinisignPublicKey(vendor.publicText)};
    const std::string document = "<package/>\n";
    const std::string text = SignMinisign(vendor.secret, document, "kind=package id=a", "from a test");

    const MinisignSignature signature = ParseMinisignSignature(text);
    EXPECT_TRUE(signature.prehashed);
    EXPECT_EQ(signature.trustedComment, "kind=package id=a");
    EXPECT_EQ(&VerifyMinisign(trusted, document, signature), &trusted[0]);

    struct Case {
        const char* name;
        std::string document;
        std::string signatureText;
        const char* reason;
    };
    std::vector<std::string> lines = SplitLines(text);
    std::vector<std::string> otherComment = lines;
    otherComment[2] = "trusted comment: kind=package id=b";
    const std::vector<Case> cases = {
        {"changed document", document + " ", text, "the signature does not match the document"},
        {"changed trusted comment", document, JoinLines(otherComment),
         "the trusted comment's signature does not match"},
        {"other key", document, SignMinisign(stranger.secret, document, "kind=package id=a", ""),
         "signature by an untrusted key (key id 0202020202020202)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            VerifyMinisign(trusted, c.document, ParseMinisignSignature(c.signatureText));
            ADD_FAILURE() << "accepted";
        } catch (const MinisignVerifyError& refused) {
            EXPECT_STREQ(refused.what(), c.reason);
        }
    }
}

TEST(MinisignTest, MalformedFilesAreRefusedWithTheirReason) {
    const KeyPair vendor = MakeKeyPair(1);
    const std::vector<std::string> good = SplitLines(SignMinisign(vendor.secret, "x", "c", "u"));
    auto with = [&](std::size_t index, std::string line) {
        std::vector<std::string> lines = good;
        lines[index] = std::move(line);
        return JoinLines(lines);
    };
    std::vector<std::uint8_t> raw = DecodeBase64(good[1]);
    raw[1] = 'x';
    const std::string unknownAlgorithm = EncodeBase64(raw.data(), raw.size());
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"empty", "", "a signature file holds"},
        {"three lines", good[0] + "\n" + good[1] + "\n" + good[2] + "\n", "a signature file holds"},
        {"no untrusted comment", with(0, "comment: u"), "a signature file holds"},
        {"no trusted comment prefix", with(2, "trusted comment:c"), "a signature file holds"},
        {"short signature", with(1, good[1].substr(4)), "signature holds 71 bytes instead of 74"},
        {"unknown algorithm", with(1, unknownAlgorithm), "signature of an unknown algorithm"},
        {"global signature not base64", with(3, "!!!!"), "invalid base64 text"},
        {"larger than any signature", with(2, "trusted comment: " + std::string(kMaxMinisignFileBytes, 'a')),
         "signature file larger than"},
        {"a fifth line", JoinLines(good) + "more\n", "a signature file holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ParseMinisignSignature(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const MinisignFormatError& refused) {
            EXPECT_THAT(refused.what(), HasSubstr(c.reason));
        }
    }
    // Line ends written on another system are read the same.
    std::string crlf;
    for (const auto& line : good)
        crlf += line + "\r\n";
    EXPECT_EQ(ParseMinisignSignature(crlf).trustedComment, "c");
    // A public key may be given as its key line alone.
    const std::string keyLine = SplitLines(vendor.publicText)[1];
    EXPECT_EQ(ParseMinisignPublicKey(keyLine).keyId, vendor.secret.keyId);
    EXPECT_THROW(ParseMinisignPublicKey(keyLine + "\n" + keyLine), MinisignFormatError);
    EXPECT_THROW(ParseMinisignPublicKey("untrusted comment: k\n" + good[3]), MinisignFormatError);
}

TEST(TrustedCommentTest, ReadsKnownTokensAndIgnoresOthers) {
    const TrustedComment comment = ParseTrustedComment(
        "  channel=beta kind=package id=a/b  version=1.2 serial=18446744073709551615 note "
        "expires=-5 x=y=z");
    EXPECT_EQ(comment.kind, "package");
    EXPECT_EQ(comment.id, "a/b");
    EXPECT_EQ(comment.version, "1.2");
    EXPECT_EQ(comment.serial, 18446744073709551615ull);
    EXPECT_EQ(comment.expires, -5);
    EXPECT_EQ(FormatTrustedComment(comment), "kind=package id=a/b version=1.2 serial=18446744073709551615 expires=-5");

    for (const char* bad : {"serial=1 serial=2", "id=a id=a", "serial=", "serial=-1", "serial=+1", "serial=1e3",
                            "serial=18446744073709551616", "expires=soon", "kind=a kind=b"}) {
        EXPECT_THROW(ParseTrustedComment(bad), MinisignFormatError) << bad;
    }
    EXPECT_FALSE(ParseTrustedComment("").serial.has_value());
}

class ManifestTrustTest : public testing::Test {
protected:
    static constexpr std::int64_t kNow = 1'800'000'000;

    ManifestTrust MakeTrust(std::vector<std::string> keys = {}) {
        if (keys.empty()) keys = {vendor_.publicText};
        return ManifestTrust(keys, folder_ / "state/serials",
                             [] { return std::chrono::system_clock::time_point(std::chrono::seconds(kNow)); });
    }
    std::string Signed(const std::string& comment) { return SignMinisign(vendor_.secret, document_, comment, ""); }

    // The sentence a check refuses with; empty when accepted.
    static std::string Refusal(ManifestTrust& trust, const std::string& kind, const std::string& id,
                               const std::string& document, const std::string& signature) {
        try {
            trust.Check(kind, id, document, signature);
            return {};
        } catch (const ManifestSignatureException& refused) {
            return refused.what();
        }
    }

    KeyPair vendor_ = MakeKeyPair(7);
    testsupport::TestFolder folder_;
    std::string document_ = "<nodes/>";
};

TEST_F(ManifestTrustTest, ExpiryAllowsTheStatedClockSkewAndNoMore) {
    ManifestTrust trust = MakeTrust();
    const std::int64_t edge = kNow - ManifestTrust::kExpiryAllowance.count();
    EXPECT_EQ(
        Refusal(trust, "nodes", "p", document_, Signed("kind=nodes id=p serial=1 expires=" + std::to_string(edge))),
        "");
    EXPECT_EQ(
        Refusal(trust, "nodes", "p", document_, Signed("kind=nodes id=p serial=1 expires=" + std::to_string(edge - 1))),
        "node list expired on 2027-01-15 07:49:59 UTC");
}

TEST_F(ManifestTrustTest, CommentsThatSayTooLittleAreRefused) {
    ManifestTrust trust = MakeTrust();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"kind=nodes id=p expires=1900000000", "signature's trusted comment has no serial"},
        {"kind=nodes id=p serial=3", "signature's trusted comment has no expiry"},
        {"id=p serial=3 expires=1900000000", "signature is for a document of kind \"\", not \"nodes\""},
        {"kind=nodes serial=3 expires=1900000000", "signature is for \"\", not \"p\""},
        {"kind=nodes id=p serial=3 serial=4 expires=1900000000",
         "malformed signature: trusted comment: serial given twice"},
    };
    for (const auto& [comment, reason] : cases) {
        EXPECT_EQ(Refusal(trust, "nodes", "p", document_, Signed(comment)), reason) << comment;
    }
    // An id that could not be one word of a comment never matches one.
    EXPECT_THAT(Refusal(trust, "nodes", "p q", document_, Signed("kind=nodes id=p serial=3 expires=1900000000")),
                HasSubstr("not \"p q\""));
}

TEST_F(ManifestTrustTest, SerialsOnlyRiseAndOutliveTheProcess) {
    {
        ManifestTrust trust = MakeTrust();
        const TrustedComment comment =
            trust.Check("package", "a", document_, Signed("kind=package id=a version=1 serial=10 expires=1900000000"));
        trust.Accept("package", "a", comment);
        // Another kind and id keep serials of their own.
        EXPECT_EQ(Refusal(trust, "nodes", "a", document_, Signed("kind=nodes id=a serial=1 expires=1900000000")), "");
        TrustedComment lower = comment;
        lower.serial = 4;
        trust.Accept("package", "a", lower);  // never lowers what is kept
    }
    ManifestTrust later = MakeTrust();
    EXPECT_EQ(
        Refusal(later, "package", "a", document_, Signed("kind=package id=a version=1 serial=9 expires=1900000000")),
        "older than one already seen (serial 9 < 10)");
    EXPECT_EQ(
        Refusal(later, "package", "a", document_, Signed("kind=package id=a version=1 serial=10 expires=1900000000")),
        "");
    EXPECT_EQ(testsupport::TestFolder::Content(folder_ / "state/serials"), "package a 10\n");

    // A damaged store is not taken as an empty one.
    folder_.Put("state/serials", "package a ten\n");
    EXPECT_THAT(
        Refusal(later, "package", "a", document_, Signed("kind=package id=a version=1 serial=1 expires=1900000000")),
        HasSubstr("cannot read the signature serials in"));
}

TEST_F(ManifestTrustTest, AKeyThatCannotBeReadStillRequiresSignatures) {
    ManifestTrust trust = MakeTrust({vendor_.publicText, "not a key"});
    EXPECT_TRUE(trust.IsEnabled());
    EXPECT_THAT(Refusal(trust, "nodes", "p", document_, Signed("kind=nodes id=p serial=1 expires=1900000000")),
                HasSubstr("trusted key 2 is not a public key"));
    EXPECT_FALSE(ManifestTrust({}, "").IsEnabled());
    ManifestTrust nowhere({vendor_.publicText}, "");
    EXPECT_EQ(Refusal(nowhere, "nodes", "p", document_, Signed("kind=nodes id=p serial=1 expires=1900000000")),
              "there is no folder to keep the signature serials in");
}

TEST(MinisignSecretKeyTest, OpensPlainAndEncryptedKeysAndNamesAWrongPassword) {
    const KeyPair vendor = MakeKeyPair(3);
    // The file layout around the 104 sealed bytes, sealed with a password
    // (scrypt at its smallest cost) or left open.
    auto file = [&](const std::string& password) {
        std::vector<std::uint8_t> raw(2 + 2 + 2 + 32 + 8 + 8 + 104, 0);
        raw[0] = 'E', raw[1] = 'd', raw[4] = 'B', raw[5] = '2';
        std::uint8_t* sealed = &raw[54];
        std::memcpy(sealed, vendor.secret.keyId.data(), 8);
        std::memcpy(sealed + 8, vendor.secret.key.data(), 64);
        std::uint8_t checked[74] = {'E', 'd'};
        std::memcpy(checked + 2, sealed, 72);
        crypto_generichash(sealed + 72, 32, checked, sizeof checked, nullptr, 0);
        if (!password.empty()) {
            raw[2] = 'S', raw[3] = 'c';
            randombytes_buf(&raw[6], 32);
            const std::uint64_t ops = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_INTERACTIVE;
            const std::uint64_t mem = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_INTERACTIVE;
            for (int i = 0; i < 8; ++i)
                raw[38 + i] = static_cast<std::uint8_t>(ops >> (8 * i));
            for (int i = 0; i < 8; ++i)
                raw[46 + i] = static_cast<std::uint8_t>(mem >> (8 * i));
            std::uint8_t stream[104];
            EXPECT_EQ(crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(),
                                                         &raw[6], ops, mem),
                      0);
            for (int i = 0; i < 104; ++i)
                sealed[i] ^= stream[i];
        }
        return "untrusted comment: key\n" + EncodeBase64(raw.data(), raw.size()) + "\n";
    };
    const std::string plain = file("");
    const std::string sealed = file("secret");
    EXPECT_FALSE(MinisignSecretKeyIsEncrypted(plain));
    EXPECT_TRUE(MinisignSecretKeyIsEncrypted(sealed));
    EXPECT_EQ(ParseMinisignSecretKey(plain, "").key, vendor.secret.key);
    EXPECT_EQ(ParseMinisignSecretKey(sealed, "secret").key, vendor.secret.key);
    try {
        ParseMinisignSecretKey(sealed, "wrong");
        ADD_FAILURE() << "a wrong password opened the key";
    } catch (const MinisignFormatError& refused) {
        EXPECT_STREQ(refused.what(), "wrong password for the secret key");
    }
    EXPECT_THROW(ParseMinisignSecretKey(sealed, ""), MinisignFormatError);
}

}  // namespace
}  // namespace vrexa
