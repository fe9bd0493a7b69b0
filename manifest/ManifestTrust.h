#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "manifest/ManifestException.h"
#include "manifest/Minisign.h"
#include "manifest/TrustedComment.h"

namespace vrexa {

class PackageManifest;

// A document refused because of its signature. Unlike the other manifest
// failures it carries a sentence: the user must learn why an update was
// refused ("signature by an untrusted key", "manifest expired on ...").
class ManifestSignatureException : public ManifestLocatorException {
public:
    explicit ManifestSignatureException(std::string reason) : reason_(std::move(reason)) {}
    const char* what() const noexcept override { return reason_.c_str(); }

private:
    std::string reason_;
};

// The highest serial accepted for each kind and id on this machine, kept in
// one small text file ("KIND ID SERIAL" lines) that is replaced atomically on
// every raise, under an advisory lock so that two processes never lose each
// other's raise.
class SignatureSerialStore {
public:
    explicit SignatureSerialStore(std::string path) : path_(std::move(path)) {}

    // 0 when none was accepted yet; ManifestSignatureException when the file
    // cannot be read or is damaged (refusing is safer than forgetting).
    std::uint64_t Highest(const std::string& kind, const std::string& id);
    // Keeps serial if it is higher than the one stored; returns the highest
    // serial now stored. ManifestSignatureException when it cannot be written.
    std::uint64_t Raise(const std::string& kind, const std::string& id, std::uint64_t serial);

    const std::string& GetPath() const { return path_; }

private:
    using Entries = std::vector<std::pair<std::string, std::uint64_t>>;
    Entries ReadEntries() const;
    void WriteEntries(const Entries& entries) const;

    const std::string path_;
    std::mutex mutex_;
};

// Which signatures the engine accepts. With no keys nothing is checked and
// documents need no signature; with at least one, every package manifest and
// node list must come with a signature by one of them whose trusted comment
// names that very document, is not expired, and is not older than one
// already accepted here.
class ManifestTrust {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Clocks of client machines drift; an expiry this close is still taken.
    static constexpr std::chrono::seconds kExpiryAllowance{600};

    // keys: the texts of public key files. One that is not a key still
    // enables the checks but makes every one of them fail with the reason:
    // a key meant to be required is never silently dropped. serialsPath: the
    // serial store's file.
    ManifestTrust(const std::vector<std::string>& keys, std::string serialsPath, Clock clock = nullptr);

    bool IsEnabled() const { return enabled_; }

    // Everything that can be checked before the document is parsed: the
    // signature by a trusted key, kind and id, expiry and serial. Returns the
    // comment; ManifestSignatureException with the reason otherwise. kind is
    // "package" or "nodes".
    TrustedComment Check(const std::string& kind, const std::string& id, const std::string& document,
                         const std::string& signatureText);
    // The package manifest read under comment must be of version versionId.
    static void CheckVersion(const TrustedComment& comment, const std::string& versionId);
    // A signature vouches for a file's bytes only through strong hashes: a
    // CRC-32 can be forged to match anything. Every file with content must
    // carry a SHA-256 per chunk.
    static void CheckStrongHashes(const PackageManifest& package);
    // Remembers the comment's serial as accepted.
    void Accept(const std::string& kind, const std::string& id, const TrustedComment& comment);

private:
    std::vector<MinisignPublicKey> keys_;
    std::string keyFailure_;
    bool enabled_ = false;
    SignatureSerialStore serials_;
    Clock clock_;
};

}  // namespace vrexa
