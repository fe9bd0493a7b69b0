#include "manifest/ManifestTrust.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "file/posix/AtomicWrite.h"
#include "file/posix/UniqueDescriptor.h"
#include "manifest/FileManifest.h"
#include "manifest/PackageManifest.h"

namespace vrexa {

namespace {

// The store names a few packages and partners.
constexpr std::size_t kMaxStoreBytes = 1 << 20;

using file::posix::UniqueDescriptor;

[[noreturn]] void StoreFailure(const std::string& what, const std::string& path, int error) {
    throw ManifestSignatureException("cannot " + what + " the signature serials in " + path + ": " +
                                     std::strerror(error));
}

// Holds the store's advisory lock between processes.
class StoreLock {
public:
    explicit StoreLock(const std::string& path) : fd_(Open(path)) {
        while (::flock(fd_.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) StoreFailure("lock", path, errno);
        }
    }

private:
    static int Open(const std::string& path) {
        if (path.empty()) throw ManifestSignatureException("there is no folder to keep the signature serials in");
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) StoreFailure("lock", path, errno);
        return fd;
    }
    UniqueDescriptor fd_;
};

std::string EntryKey(const std::string& kind, const std::string& id) { return kind + " " + id; }

std::string UtcText(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64];
    if (::gmtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0) {
        return std::to_string(seconds);
    }
    return text;
}

// Ids become words of the store's lines and of the comment; anything that
// could split or end a word cannot be named there.
bool IsWord(const std::string& text) {
    return !text.empty() && std::none_of(text.begin(), text.end(),
                                         [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; });
}

}  // namespace

SignatureSerialStore::Entries SignatureSerialStore::ReadEntries() const {
    Entries entries;
    const UniqueDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.Get() < 0) {
        if (errno == ENOENT) return entries;
        StoreFailure("read", path_, errno);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) StoreFailure("read", path_, errno);
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kMaxStoreBytes) StoreFailure("read", path_, EFBIG);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) StoreFailure("read", path_, EILSEQ);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t last = line.rfind(' ');
        std::uint64_t serial = 0;
        const char* numberEnd = line.data() + line.size();
        if (last == std::string::npos || std::from_chars(line.data() + last + 1, numberEnd, serial).ptr != numberEnd ||
            last + 1 == line.size()) {
            StoreFailure("read", path_, EILSEQ);
        }
        entries.emplace_back(line.substr(0, last), serial);
    }
    return entries;
}

void SignatureSerialStore::WriteEntries(const Entries& entries) const {
    std::string text;
    for (const auto& [key, serial] : entries)
        text += key + " " + std::to_string(serial) + "\n";
    // A crash leaves the old serials or the new ones whole, never a short
    // file that would forget what was seen.
    if (const std::error_code error = file::posix::WriteFileAtomically(path_, text, file::posix::FileAccess::Private)) {
        StoreFailure("write", path_, error.value());
    }
}

std::uint64_t SignatureSerialStore::Highest(const std::string& kind, const std::string& id) {
    std::lock_guard guard(mutex_);
    StoreLock lock(path_);
    const std::string key = EntryKey(kind, id);
    for (const auto& [name, serial] : ReadEntries()) {
        if (name == key) return serial;
    }
    return 0;
}

std::uint64_t SignatureSerialStore::Raise(const std::string& kind, const std::string& id, std::uint64_t serial) {
    std::lock_guard guard(mutex_);
    StoreLock lock(path_);
    const std::string key = EntryKey(kind, id);
    Entries entries = ReadEntries();
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; });
    if (found != entries.end() && found->second >= serial) return found->second;
    if (found != entries.end()) {
        found->second = serial;
    } else {
        entries.emplace_back(key, serial);
    }
    // In a fixed order, so the file reads the same whoever raised first.
    std::sort(entries.begin(), entries.end());
    WriteEntries(entries);
    return serial;
}

ManifestTrust::ManifestTrust(const std::vector<std::string>& keys, std::string serialsPath, Clock clock)
    : serials_(std::move(serialsPath)),
      clock_(clock ? std::move(clock) : [] { return std::chrono::system_clock::now(); }) {
    enabled_ = !keys.empty();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        try {
            keys_.push_back(ParseMinisignPublicKey(keys[i]));
        } catch (const MinisignFormatError& bad) {
            if (keyFailure_.empty()) {
                keyFailure_ = "trusted key " + std::to_string(i + 1) + " is not a public key: " + bad.what();
            }
        }
    }
}

TrustedComment ManifestTrust::Check(const std::string& kind, const std::string& id, const std::string& document,
                                    const std::string& signatureText) {
    if (!keyFailure_.empty()) throw ManifestSignatureException(keyFailure_);
    const std::string what = kind == "nodes" ? "node list" : "manifest";
    TrustedComment comment;
    try {
        const MinisignSignature signature = ParseMinisignSignature(signatureText);
        VerifyMinisign(keys_, document, signature);
        // Read only once it is known to be the signer's own words.
        comment = ParseTrustedComment(signature.trustedComment);
    } catch (const MinisignFormatError& e) {
        throw ManifestSignatureException(std::string("malformed signature: ") + e.what());
    } catch (const MinisignVerifyError& e) {
        throw ManifestSignatureException(e.what());
    }
    if (comment.kind != kind) {
        throw ManifestSignatureException("signature is for a document of kind \"" + comment.kind + "\", not \"" + kind +
                                         "\"");
    }
    if (!IsWord(id) || comment.id != id) {
        throw ManifestSignatureException("signature is for \"" + comment.id + "\", not \"" + id + "\"");
    }
    if (!comment.serial) throw ManifestSignatureException("signature's trusted comment has no serial");
    if (!comment.expires) throw ManifestSignatureException("signature's trusted comment has no expiry");
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
    if (*comment.expires < now - kExpiryAllowance.count()) {
        throw ManifestSignatureException(what + " expired on " + UtcText(*comment.expires));
    }
    const std::uint64_t highest = serials_.Highest(kind, id);
    if (*comment.serial < highest) {
        throw ManifestSignatureException("older than one already seen (serial " + std::to_string(*comment.serial) +
                                         " < " + std::to_string(highest) + ")");
    }
    return comment;
}

void ManifestTrust::CheckVersion(const TrustedComment& comment, const std::string& versionId) {
    if (comment.version != versionId) {
        throw ManifestSignatureException("signature is for version \"" + comment.version + "\", not \"" + versionId +
                                         "\"");
    }
}

void ManifestTrust::CheckStrongHashes(const PackageManifest& package) {
    for (const auto& file : package.GetFiles()) {
        if (file->GetChunkCount() > 0 && file->GetSha256s().empty()) {
            throw ManifestSignatureException("the signed manifest gives no SHA-256s for \"" + file->GetPath() + "\"");
        }
    }
}

void ManifestTrust::Accept(const std::string& kind, const std::string& id, const TrustedComment& comment) {
    if (comment.serial) serials_.Raise(kind, id, *comment.serial);
}

}  // namespace vrexa
