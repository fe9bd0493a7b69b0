#include "tools/publish/Publisher.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>

#include <boost/property_tree/xml_parser.hpp>

#include "file/posix/AtomicWrite.h"
#include "file/posix/UniqueDescriptor.h"
#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"
#include "manifest/ContainedPath.h"
#include "manifest/FileManifest.h"
#include "manifest/Minisign.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "manifest/TrustedComment.h"
#include "manifest/UrlParts.h"
#include "manifest/XmlDocument.h"
#include "text/Utf8.h"
#include "tools/publish/OutputTransaction.h"

namespace vrexa::publish {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;
using file::posix::UniqueDescriptor;

// Reads are bounded so that a chunk size of several GiB needs no buffer of
// that size.
constexpr std::size_t kCopyBufferSize = 1024 * 1024;

// The version id that names the current-version manifest.
constexpr std::string_view kCurrentName = "current";

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// Identifiers become folder names and segments of the URLs the engine builds
// by resolving them as relative references, so they may hold nothing that a
// path or a relative reference would read differently: no separator, no
// scheme, query or fragment delimiter, no percent escape, no dot segment.
void CheckIdentifier(std::string_view what, const std::string& value) {
    if (value.empty()) {
        throw PublishError(std::string(what) + " must not be empty");
    }
    if (value == "." || value == "..") {
        throw PublishError(std::string(what) + " " + Quoted(value) + " would name a folder outside its place");
    }
    for (char c : value) {
        if (IsControl(c) || std::strchr("/\\?#%:", c) != nullptr) {
            throw PublishError(std::string(what) + " " + Quoted(value) +
                               " holds a character that cannot be part of a download path "
                               "(\"/\", \"\\\", \"?\", \"#\", \"%\", \":\" or a control character)");
        }
    }
}

// A file path is appended to the client's destination folder and, segment by
// segment percent-encoded, to the node's URL: any character a file name may
// hold on the client is fine ("?", "#", "%", ":", spaces, letters of any
// script), but the text must be UTF-8 like every string of the engine, and a
// backslash would be a separator on the clients.
void CheckFilePath(const std::string& path) {
    for (std::size_t at = 0; at < path.size();) {
        const std::optional<char32_t> code = NextCodePoint(path, at);
        if (!code) {
            throw PublishError("the file " + Quoted(path) + " has a name that is not UTF-8 text");
        }
        if (*code < 0x20 || *code == 0x7F || *code == '\\') {
            throw PublishError("the file " + Quoted(path) +
                               " has a name that cannot be part of a download path "
                               "(\"\\\" or a control character)");
        }
    }
    // The clients' own rule decides: a path they refuse makes a package that
    // can never be downloaded.
    if (!IsContainedPath(path)) {
        throw PublishError("the file " + Quoted(path) +
                           " cannot be downloaded: the clients would write it outside the destination folder "
                           "or onto another drive (a \"..\" folder, or a name that begins like a drive, "
                           "such as \"x:\"); rename it");
    }
    if (!IsPackageFilePath(path)) {
        throw PublishError("the file " + Quoted(path) +
                           " cannot be downloaded: its path has an empty or \".\" folder name");
    }
}

// The path as a case-insensitive file system compares it: letters of every
// script in lower case where the C library knows how.
std::string FoldCase(const std::string& path) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    std::string folded;
    folded.reserve(path.size());
    for (std::size_t at = 0; at < path.size();) {
        const std::optional<char32_t> next = NextCodePoint(path, at);
        if (!next) {
            return path;  // refused by CheckFilePath
        }
        char32_t code = *next;
        if (code < 0x80) {
            code = (code >= 'A' && code <= 'Z') ? code | 0x20 : code;
        } else if (utf8 != static_cast<locale_t>(nullptr)) {
            code = static_cast<char32_t>(::towlower_l(static_cast<wint_t>(code), utf8));
        }
        AppendUtf8(folded, code);
    }
    return folded;
}

void CheckNodes(const std::vector<NodeSpec>& nodes, const std::vector<std::string>& removed) {
    std::set<std::string> ids;
    for (const auto& node : nodes) {
        if (node.id.empty() || node.host.empty()) {
            throw PublishError("a node needs an id and a host");
        }
        if (std::any_of(node.id.begin(), node.id.end(), IsControl)) {
            throw PublishError("the node id " + Quoted(node.id) + " holds a control character");
        }
        if (!ParseNodeHost(node.host)) {
            throw PublishError("the host of node " + Quoted(node.id) + ", " + Quoted(node.host) +
                               ", is not HOST[:PORT] or https://HOST[:PORT] (the clients would drop the node)");
        }
        if (node.path.empty() || node.path.front() != '/' || node.path.back() != '/') {
            throw PublishError("the path of node " + Quoted(node.id) + " must begin and end with \"/\"");
        }
        if (!IsNodePath(node.path)) {
            throw PublishError("the path of node " + Quoted(node.id) + ", " + Quoted(node.path) +
                               ", holds a \".\" or \"..\" folder (the clients would drop the node)");
        }
        if (!ids.insert(node.id).second) {
            throw PublishError("the node " + Quoted(node.id) + " is given more than once");
        }
    }
    for (const auto& id : removed) {
        if (ids.count(id) != 0) {
            throw PublishError("the node " + Quoted(id) + " is both given and to be removed");
        }
    }
}

std::vector<std::string> CheckCountries(const PublishOptions& options) {
    std::vector<std::string> codes;
    for (const auto& given : options.countries) {
        bool letters = given.size() == 2 && std::all_of(given.begin(), given.end(), [](char c) {
                           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
                       });
        if (!letters) {
            throw PublishError("the country code " + Quoted(given) + " is not two letters");
        }
        // Geolocation answers carry upper-case codes and the engine compares
        // exactly, so "se" would never match.
        std::string code = given;
        for (char& c : code) {
            c = static_cast<char>(c & ~0x20);
        }
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) {
            codes.push_back(code);
        }
    }
    if (options.policy == CountryPolicy::None && !codes.empty()) {
        throw PublishError("--country needs --policy Whitelist or Blacklist; with None every country may download");
    }
    if (options.policy != CountryPolicy::None && codes.empty()) {
        throw PublishError("--policy " + std::string(CountryPolicyName(options.policy)) +
                           " needs at least one --country");
    }
    return codes;
}

struct SourceFile {
    std::string path;  // manifest path
    fs::path source;
    std::uint64_t size = 0;
};

std::uint64_t ChunkCount(std::uint64_t size, std::uint32_t chunkSize) {
    return size / chunkSize + (size % chunkSize != 0 ? 1 : 0);
}

std::vector<SourceFile> ScanSource(const fs::path& root) {
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        throw PublishError("the source folder " + Describe(root) + " is not a folder");
    }
    std::vector<SourceFile> files;
    try {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const fs::path& path = entry.path();
            std::string relative = path.lexically_relative(root).generic_string();
            if (entry.is_symlink()) {
                // A linked file is published with its content; a linked folder is
                // not walked into, and leaving it out silently would publish less
                // than the folder shows.
                fs::file_status target = fs::status(path, error);
                if (error || !fs::is_regular_file(target)) {
                    throw PublishError("the link " + Quoted(relative) +
                                       " in the source folder does not lead to a file");
                }
            } else if (entry.is_directory()) {
                continue;
            } else if (!entry.is_regular_file()) {
                throw PublishError(Quoted(relative) + " in the source folder is not a file or a folder");
            }
            files.push_back({relative, path, static_cast<std::uint64_t>(fs::file_size(path))});
        }
    } catch (const fs::filesystem_error& failure) {
        throw PublishError("cannot read the source folder: " + std::string(failure.what()));
    }
    if (files.empty()) {
        throw PublishError("the source folder " + Describe(root) + " holds no files");
    }
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });

    // Clients may write to case-insensitive file systems, where two such files
    // would overwrite each other and never verify.
    std::map<std::string, std::string> folded;
    for (const auto& file : files) {
        CheckFilePath(file.path);
        auto [it, inserted] = folded.emplace(FoldCase(file.path), file.path);
        if (!inserted) {
            throw PublishError("the files " + Quoted(it->second) + " and " + Quoted(file.path) +
                               " differ only in case; they would overwrite each other on many clients");
        }
    }
    return files;
}

void CheckRun(const std::string& run, const std::vector<SourceFile>& files, const fs::path& source) {
    if (run.empty()) {
        return;
    }
    if (std::any_of(files.begin(), files.end(), [&](const SourceFile& f) { return f.path == run; })) {
        return;
    }
    throw PublishError("the run file " + Quoted(run) + " is not among the files under " + Describe(source) +
                       "; give its path under that folder with \"/\" separators, exactly as spelled");
}

void CheckChunkCounts(const std::vector<SourceFile>& files, std::uint32_t chunkSize) {
    for (const auto& file : files) {
        if (ChunkCount(file.size, chunkSize) > FileManifest::kMaxChunkCount) {
            const std::uint64_t smallest =
                std::max<std::uint64_t>(file.size / FileManifest::kMaxChunkCount + 1, FileManifest::kMinChunkSize);
            throw PublishError("the file " + Quoted(file.path) + " (" + std::to_string(file.size) +
                               " bytes) has more chunks than a manifest can hold at a chunk size of " +
                               std::to_string(chunkSize) + " bytes; use a chunk size of at least " +
                               std::to_string(smallest));
        }
        if (!FileManifest::IsChunkSizeAllowed(chunkSize, file.size)) {
            throw PublishError("the chunk size of " + std::to_string(chunkSize) + " bytes is too small for the file " +
                               Quoted(file.path) + " (" + std::to_string(file.size) +
                               " bytes): the clients refuse chunks under " +
                               std::to_string(FileManifest::kMinChunkSize) + " bytes in a file of that size");
        }
    }
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
    auto [end, _] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return end == outer.end();
}

fs::path Canonical(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path), error);
    return error ? fs::absolute(path).lexically_normal() : canonical;
}

void WriteAll(int fd, const char* data, std::size_t size, const fs::path& path) {
    if (const std::error_code error = file::posix::WriteAll(fd, data, size)) {
        throw PublishError("cannot write " + Describe(path) + ": " + error.message());
    }
}

UniqueDescriptor CreateFile(const fs::path& path) {
    UniqueDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        throw PublishError("cannot create " + Describe(path) + ": " + SystemMessage(errno));
    }
    return fd;
}

void FinishFile(UniqueDescriptor& fd, const fs::path& path) {
    if (fd.Close() != 0) {
        throw PublishError("cannot write " + Describe(path) + ": " + SystemMessage(errno));
    }
}

void WriteTextFile(const fs::path& path, const std::string& text) {
    UniqueDescriptor fd = CreateFile(path);
    WriteAll(fd.Get(), text.data(), text.size(), path);
    FinishFile(fd, path);
}

std::size_t ReadSome(int fd, char* buffer, std::size_t size, const fs::path& path) {
    while (true) {
        ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw PublishError("cannot read " + Describe(path) + ": " + SystemMessage(errno));
        }
    }
}

// Copies one file and computes its chunk checksums and hashes from the same
// bytes that are written.
PublishedFile CopyFile(const SourceFile& file, const fs::path& target, std::uint32_t chunkSize,
                       std::vector<char>& buffer) {
    // Non-blocking, so that a FIFO put in the file's place after the scan
    // cannot hold the open forever; the type is checked on what was opened.
    UniqueDescriptor in(::open(file.source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.Get() < 0) {
        throw PublishError("cannot open " + Describe(file.source) + ": " + SystemMessage(errno));
    }
    struct stat opened {};
    if (::fstat(in.Get(), &opened) != 0) {
        throw PublishError("cannot read " + Describe(file.source) + ": " + SystemMessage(errno));
    }
    if (!S_ISREG(opened.st_mode)) {
        throw PublishError("the file " + Describe(file.source) + " is no longer a regular file");
    }
    fs::create_directories(target.parent_path());
    UniqueDescriptor out = CreateFile(target);

    const std::string changed = "the file " + Describe(file.source) + " changed while it was being published";
    PublishedFile published{file.path, file.size, {}, {}};
    published.checksums.reserve(static_cast<std::size_t>(ChunkCount(file.size, chunkSize)));
    published.sha256s.reserve(published.checksums.capacity());
    ChunkSha256 hash;
    std::uint64_t offset = 0;
    while (offset < file.size) {
        std::uint64_t chunkEnd = std::min<std::uint64_t>(offset + chunkSize, file.size);
        std::uint32_t checksum = 0;
        while (offset < chunkEnd) {
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), chunkEnd - offset));
            std::size_t got = ReadSome(in.Get(), buffer.data(), want, file.source);
            if (got == 0) {
                throw PublishError(changed);
            }
            WriteAll(out.Get(), buffer.data(), got, target);
            checksum = ChunkChecksum(buffer.data(), got, checksum);
            hash.Update(buffer.data(), got);
            offset += got;
        }
        published.checksums.push_back(checksum);
        published.sha256s.push_back(hash.Finish());
    }
    if (ReadSome(in.Get(), buffer.data(), 1, file.source) != 0) {
        throw PublishError(changed);
    }
    FinishFile(out, target);
    return published;
}

ptree ReadXmlFile(const fs::path& path) {
    ptree tree;
    boost::property_tree::read_xml(path.string(), tree);
    return tree;
}

// The engine reads an attribute exactly like a child element of the same name
// and value, and so does the publisher when it reads a document back.
ptree ReadXmlFileAsTheEngine(const fs::path& path) {
    ptree tree = ReadXmlFile(path);
    LiftAttributes(tree);
    return tree;
}

// The engine reads what was staged before anything is moved into place: a
// document it would reject is never published.
void CheckPackageManifestReadsBack(const fs::path& path, const std::vector<PublishedFile>& files) {
    StandardPackageManifest manifest;
    try {
        manifest.Read(ReadXmlFileAsTheEngine(path));
    } catch (const std::exception&) {
        throw PublishError("the package manifest written to " + Describe(path) + " does not read back");
    }
    const auto& read = manifest.GetFiles();
    bool same = read.size() == files.size();
    for (std::size_t i = 0; same && i < files.size(); ++i) {
        same = read[i]->GetPath() == files[i].path && read[i]->GetSize() == files[i].size &&
               read[i]->GetChecksums() == files[i].checksums && read[i]->GetSha256s() == files[i].sha256s;
    }
    if (!same) {
        throw PublishError("the package manifest written to " + Describe(path) + " reads back different files");
    }
}

void CheckNodeListReadsBack(const fs::path& path) {
    StandardNodeListManifest nodes;
    try {
        nodes.Read(ReadXmlFileAsTheEngine(path));
    } catch (const std::exception&) {
        throw PublishError("the node list written to " + Describe(path) +
                           " does not read back; is the existing node list complete?");
    }
}

ptree ExistingNodeList(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        return {};
    }
    try {
        return ReadXmlFile(path);
    } catch (const std::exception& failure) {
        throw PublishError("the existing node list " + Describe(path) + " cannot be read (" + failure.what() +
                           "); fix or remove it");
    }
}

std::string NodeListText(const fs::path& existing, const std::vector<NodeSpec>& nodes,
                         const std::vector<std::string>& removed) {
    ptree document;
    try {
        document = NodeListTree(ExistingNodeList(existing), nodes);
    } catch (const PublishError&) {
        throw;
    } catch (const std::runtime_error& failure) {
        throw PublishError("the existing node list " + Describe(existing) + " is not a node list: " + failure.what());
    }
    const std::vector<std::string> missing = RemoveNodes(document, removed);
    if (!missing.empty()) {
        throw PublishError("the node " + Quoted(missing.front()) + " to remove is not in the node list " +
                           Describe(existing));
    }
    if (!removed.empty() && NodeCount(document) == 0) {
        throw PublishError("removing every node would leave the node list " + Describe(existing) +
                           " empty, and no client could download");
    }
    return XmlText(document);
}

constexpr std::string_view kSignatureSuffix = ".minisig";

fs::path SignatureOf(const fs::path& document) {
    fs::path signature = document;
    signature += std::string(kSignatureSuffix);
    return signature;
}

// Signs the documents of one run, all with the same serial and expiry. The
// key is read and opened before anything is written, so a wrong password or
// a damaged key changes nothing.
class Signer {
public:
    explicit Signer(const PublishOptions& options) {
        std::ifstream in(options.signKey, std::ios::binary);
        std::string text;
        char buffer[4096];
        while (in && text.size() <= kMaxMinisignFileBytes) {
            in.read(buffer, sizeof buffer);
            text.append(buffer, static_cast<std::size_t>(in.gcount()));
        }
        if (!in.eof()) {
            throw PublishError("cannot read the secret key " + Describe(options.signKey));
        }
        try {
            if (MinisignSecretKeyIsEncrypted(text) && options.signPassword.empty()) {
                throw PublishError("the secret key " + Describe(options.signKey) +
                                   " is encrypted: give its password in VREXA_SIGN_PASSWORD");
            }
            key_ = ParseMinisignSecretKey(text, options.signPassword);
        } catch (const MinisignFormatError& failure) {
            throw PublishError("the secret key " + Describe(options.signKey) + " cannot be used: " + failure.what());
        }
        const auto now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        serial_ = options.serial ? *options.serial : static_cast<std::uint64_t>(now);
        expires_ = now + static_cast<std::int64_t>(options.expiresDays) * 86400;
    }

    // Writes the signature of text, a package manifest (version given) or a
    // node list (version empty) of id, to path.
    void Write(const fs::path& path, const std::string& text, const std::string& id, const std::string& version) const {
        TrustedComment comment;
        comment.kind = version.empty() ? "nodes" : "package";
        comment.id = id;
        comment.version = version;
        comment.serial = serial_;
        comment.expires = expires_;
        WriteTextFile(path, SignMinisign(key_, text, FormatTrustedComment(comment), "signature from vrexa-publish"));
    }

private:
    MinisignSecretKey key_;
    std::uint64_t serial_ = 0;
    std::int64_t expires_ = 0;
};

// Without a key, a document that is signed now must not be replaced: its
// old signature would then stand beside another document, and every client
// that checks signatures would refuse it.
void CheckSignedReplaced(const std::optional<Signer>& signer, const fs::path& document) {
    std::error_code error;
    if (!signer && fs::exists(fs::symlink_status(SignatureOf(document), error))) {
        throw PublishError(Describe(document) + " is signed; give --sign-key to write it anew with a signature");
    }
}

void Notify(const StepObserver& observer, const std::string& step) {
    if (observer) {
        observer(step);
    }
}

// Moves a staged document, then its staged signature when signed, right
// after each other so that the two disagree for as short a time as the file
// system allows (a client that fetched in between fetches again).
void MoveSigned(Transaction& transaction, bool isSigned, const fs::path& staged, const fs::path& output,
                const fs::path& target, PublishResult& result, const StepObserver& observer) {
    transaction.Move(staged, output / target);
    result.written.push_back(target);
    if (isSigned) {
        transaction.Move(SignatureOf(staged), output / SignatureOf(target));
        result.written.push_back(SignatureOf(target));
    }
    Notify(observer, "moved " + target.string());
}

void PublishNodesOnly(const PublishOptions& options, const std::optional<Signer>& signer, PublishResult& result,
                      const StepObserver& observer) {
    const fs::path nodeList = fs::path("nodes") / (options.partnerId + ".xml");
    OutputFolder output(options.outputDir);
    std::string text = NodeListText(options.outputDir / nodeList, options.nodes, options.removeNodes);
    CheckSignedReplaced(signer, options.outputDir / nodeList);

    StagingFolder staging(options.outputDir);
    const fs::path staged = staging.path() / "nodes.xml";
    WriteTextFile(staged, text);
    CheckNodeListReadsBack(staged);
    if (signer) {
        signer->Write(SignatureOf(staged), text, options.partnerId, "");
    }
    SyncStaged(staging.path());
    Notify(observer, "staged");
    fs::create_directory(staging.path() / "backup");
    Transaction transaction(staging.path() / "backup");
    MoveSigned(transaction, signer.has_value(), staged, options.outputDir, nodeList, result, observer);
    transaction.Commit();
    output.Keep();
}

// Whether two files hold the same bytes.
bool SameContent(const fs::path& a, const fs::path& b, std::vector<char>& bufferA, std::vector<char>& bufferB) {
    UniqueDescriptor inA(::open(a.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    UniqueDescriptor inB(::open(b.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat statusA {
    }, statusB{};
    if (inA.Get() < 0 || inB.Get() < 0 || ::fstat(inA.Get(), &statusA) != 0 || ::fstat(inB.Get(), &statusB) != 0 ||
        !S_ISREG(statusA.st_mode) || !S_ISREG(statusB.st_mode) || statusA.st_size != statusB.st_size) {
        return false;
    }
    for (;;) {
        std::size_t gotA = ReadSome(inA.Get(), bufferA.data(), bufferA.size(), a);
        std::size_t filled = 0;
        while (filled < gotA) {
            std::size_t got = ReadSome(inB.Get(), bufferB.data() + filled, gotA - filled, b);
            if (got == 0) {
                return false;
            }
            filled += got;
        }
        if (gotA == 0) {
            return ReadSome(inB.Get(), bufferB.data(), 1, b) == 0;
        }
        if (std::memcmp(bufferA.data(), bufferB.data(), gotA) != 0) {
            return false;
        }
    }
}

// The relative paths of the regular files and links under root, sorted.
std::vector<std::string> FilesUnder(const fs::path& root) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_directory()) {
            paths.push_back(entry.path().lexically_relative(root).generic_string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The first file in which the two trees differ (one lacks it, or its bytes
// differ); empty when they hold the same files.
std::string FirstDifference(const fs::path& staged, const fs::path& published) {
    const std::vector<std::string> ours = FilesUnder(staged);
    const std::vector<std::string> theirs = FilesUnder(published);
    std::vector<std::string> differ;
    std::set_symmetric_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(), std::back_inserter(differ));
    if (!differ.empty()) {
        return differ.front();
    }
    std::vector<char> bufferA(kCopyBufferSize), bufferB(kCopyBufferSize);
    for (const auto& path : ours) {
        if (!SameContent(staged / path, published / path, bufferA, bufferB)) {
            return path;
        }
    }
    return {};
}

// The version id the current manifest names; empty when there is none or it
// cannot be read.
std::string CurrentVersion(const fs::path& currentManifest) {
    std::error_code error;
    if (!fs::exists(currentManifest, error)) {
        return {};
    }
    try {
        StandardPackageManifest manifest;
        manifest.Read(ReadXmlFileAsTheEngine(currentManifest));
        return manifest.GetVersionId();
    } catch (const std::exception&) {
        return {};
    }
}

struct VersionPaths {
    VersionPaths(const PublishOptions& options, const std::string& versionId)
        : folder(fs::path("packages") / options.partnerId / options.packageId / versionId),
          manifest(fs::path("manifests") / options.packageId / (versionId + ".xml")),
          current(fs::path("manifests") / options.packageId / (std::string(kCurrentName) + ".xml")),
          nodeList(fs::path("nodes") / (options.partnerId + ".xml")) {}

    fs::path folder;
    fs::path manifest;
    fs::path current;
    fs::path nodeList;
};

void PublishVersion(const PublishOptions& options, const std::optional<Signer>& signer, PublishResult& result,
                    const StepObserver& observer) {
    std::vector<SourceFile> sources = ScanSource(options.sourceDir);
    CheckRun(options.run, sources, options.sourceDir);
    CheckChunkCounts(sources, options.chunkSize);
    const VersionPaths paths(options, options.versionId);

    const fs::path source = Canonical(options.sourceDir);
    const fs::path output = Canonical(options.outputDir);
    if (IsWithin(output, source)) {
        throw PublishError("the output folder " + Describe(options.outputDir) + " lies inside the source folder " +
                           Describe(options.sourceDir) + "; the package would publish itself");
    }
    if (IsWithin(source, output / paths.folder)) {
        throw PublishError("the source folder lies inside the published version it would replace");
    }
    Notify(observer, "scanned");

    OutputFolder outputFolder(options.outputDir);
    // A version counts as published once a manifest names it. Its folder
    // alone is what a run killed before moving the manifest left behind: no
    // client knows of it, so it is simply published anew.
    std::error_code error;
    const bool folderExists = fs::exists(options.outputDir / paths.folder, error);
    const bool published = fs::exists(options.outputDir / paths.manifest, error) ||
                           (folderExists && CurrentVersion(options.outputDir / paths.current) == options.versionId);
    if (published && !options.replace) {
        throw PublishError("version " + Quoted(options.versionId) + " of package " + Quoted(options.packageId) +
                           " is already published in " + Describe(options.outputDir) +
                           "; --replace rewrites its manifests when its files are the same");
    }
    std::string nodeListText;
    if (!options.nodes.empty() || !options.removeNodes.empty()) {
        nodeListText = NodeListText(options.outputDir / paths.nodeList, options.nodes, options.removeNodes);
        CheckSignedReplaced(signer, options.outputDir / paths.nodeList);
    }
    CheckSignedReplaced(signer, options.outputDir / paths.manifest);
    if (options.writeCurrent) {
        CheckSignedReplaced(signer, options.outputDir / paths.current);
    }

    StagingFolder staging(options.outputDir);
    const fs::path stagedFiles = staging.path() / "files";
    fs::create_directory(stagedFiles);
    std::vector<char> buffer(std::min<std::size_t>(kCopyBufferSize, options.chunkSize));
    for (const auto& file : sources) {
        result.files.push_back(CopyFile(file, stagedFiles / file.path, options.chunkSize, buffer));
        result.totalBytes += file.size;
    }

    const fs::path stagedManifest = staging.path() / "manifest.xml";
    const std::string manifestText = XmlText(PackageManifestTree(options, result.files));
    WriteTextFile(stagedManifest, manifestText);
    CheckPackageManifestReadsBack(stagedManifest, result.files);
    const fs::path stagedCurrent = staging.path() / "current.xml";
    if (options.writeCurrent) {
        WriteTextFile(stagedCurrent, manifestText);
    }
    const fs::path stagedNodes = staging.path() / "nodes.xml";
    if (!nodeListText.empty()) {
        WriteTextFile(stagedNodes, nodeListText);
        CheckNodeListReadsBack(stagedNodes);
    }
    if (signer) {
        signer->Write(SignatureOf(stagedManifest), manifestText, options.packageId, options.versionId);
        if (options.writeCurrent) {
            signer->Write(SignatureOf(stagedCurrent), manifestText, options.packageId, options.versionId);
        }
        if (!nodeListText.empty()) {
            signer->Write(SignatureOf(stagedNodes), nodeListText, options.partnerId, "");
        }
    }

    // Clients holding the published manifest may be fetching these very
    // files: they stay exactly as they are, and only manifests that describe
    // the same bytes may take the place of the old ones.
    const bool keepFiles = published && folderExists;
    if (keepFiles) {
        const std::string differs = FirstDifference(stagedFiles, options.outputDir / paths.folder);
        if (!differs.empty()) {
            throw PublishError("version " + Quoted(options.versionId) + " of package " + Quoted(options.packageId) +
                               " is already published with other files (" + Quoted(differs) +
                               " differs); clients may be downloading it, so a published version is never "
                               "changed: publish these files as a new version");
        }
    }
    SyncStaged(staging.path());
    Notify(observer, "staged");

    // Files before the manifests that name them; the current manifest last.
    fs::create_directory(staging.path() / "backup");
    Transaction transaction(staging.path() / "backup");
    if (!keepFiles) {
        if (folderExists) {
            fs::remove_all(options.outputDir / paths.folder);  // the leftover no manifest names
        }
        transaction.Move(stagedFiles, options.outputDir / paths.folder);
        result.written.push_back(paths.folder);
        Notify(observer, "moved " + paths.folder.string());
    }
    std::vector<std::pair<fs::path, fs::path>> moves = {{stagedManifest, paths.manifest}};
    if (!nodeListText.empty()) {
        moves.emplace_back(stagedNodes, paths.nodeList);
    }
    if (options.writeCurrent) {
        moves.emplace_back(stagedCurrent, paths.current);
    }
    for (const auto& [staged, target] : moves) {
        MoveSigned(transaction, signer.has_value(), staged, options.outputDir, target, result, observer);
    }
    transaction.Commit();
    outputFolder.Keep();
}

// Checks every file of a published version against its manifest: size and
// the checksum of every chunk.
void CheckPublishedFiles(const fs::path& folder, const PackageManifest& manifest, const std::string& versionId) {
    std::vector<char> buffer(kCopyBufferSize);
    for (const auto& file : manifest.GetFiles()) {
        const fs::path path = folder / file->GetPath();
        const std::string broken = "the published file " + Describe(path) + " does not match the manifest of version " +
                                   Quoted(versionId) + "; it cannot be made current";
        UniqueDescriptor in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (in.Get() < 0 || ::fstat(in.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
            static_cast<std::uint64_t>(status.st_size) != file->GetSize()) {
            throw PublishError(broken);
        }
        std::vector<std::uint32_t> checksums;
        std::vector<Sha256Digest> sha256s;
        ChunkSha256 hash;
        const std::uint64_t chunkSize = file->GetChunkSize();
        std::uint64_t offset = 0;
        while (offset < file->GetSize()) {
            const std::uint64_t chunkEnd = std::min<std::uint64_t>(offset + chunkSize, file->GetSize());
            std::uint32_t checksum = 0;
            while (offset < chunkEnd) {
                std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), chunkEnd - offset));
                std::size_t got = ReadSome(in.Get(), buffer.data(), want, path);
                if (got == 0) {
                    throw PublishError(broken);
                }
                checksum = ChunkChecksum(buffer.data(), got, checksum);
                hash.Update(buffer.data(), got);
                offset += got;
            }
            checksums.push_back(checksum);
            sha256s.push_back(hash.Finish());
        }
        // Versions published before strong hashes were written have none;
        // their CRC-32 list is all there is to compare.
        const bool strongMatches = file->GetSha256s().empty() || sha256s == file->GetSha256s();
        if (checksums != file->GetChecksums() || !strongMatches) {
            throw PublishError(broken);
        }
    }
}

// Points the current manifest at a version that is already published (a
// rollback, or a version published with --no-current), after checking that
// its files are all there as its manifest describes them.
void SetCurrent(const PublishOptions& options, const std::optional<Signer>& signer, PublishResult& result,
                const StepObserver& observer) {
    const VersionPaths paths(options, options.setCurrent);
    std::error_code error;
    if (!fs::is_directory(options.outputDir, error)) {
        throw PublishError("nothing is published in " + Describe(options.outputDir));
    }
    OutputFolder output(options.outputDir);
    const fs::path versionManifest = options.outputDir / paths.manifest;
    if (!fs::exists(versionManifest, error)) {
        throw PublishError("version " + Quoted(options.setCurrent) + " of package " + Quoted(options.packageId) +
                           " is not published in " + Describe(options.outputDir));
    }
    StandardPackageManifest manifest;
    try {
        manifest.Read(ReadXmlFileAsTheEngine(versionManifest));
    } catch (const std::exception&) {
        throw PublishError("the manifest " + Describe(versionManifest) + " cannot be read");
    }
    if (manifest.GetId() != options.packageId || manifest.GetPartnerId() != options.partnerId ||
        manifest.GetVersionId() != options.setCurrent) {
        throw PublishError("the manifest " + Describe(versionManifest) + " describes version " +
                           Quoted(manifest.GetVersionId()) + " of package " + Quoted(manifest.GetId()) +
                           " of partner " + Quoted(manifest.GetPartnerId()));
    }
    CheckPublishedFiles(options.outputDir / paths.folder, manifest, options.setCurrent);
    CheckSignedReplaced(signer, options.outputDir / paths.current);

    StagingFolder staging(options.outputDir);
    const fs::path stagedCurrent = staging.path() / "current.xml";
    std::ifstream in(versionManifest, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        throw PublishError("cannot read " + Describe(versionManifest));
    }
    WriteTextFile(stagedCurrent, text.str());
    if (signer) {
        // Signed anew with this run's serial: making an older version
        // current again is the publisher's decision, and clients accept it
        // only under a serial newer than what they have seen.
        signer->Write(SignatureOf(stagedCurrent), text.str(), options.packageId, options.setCurrent);
    }
    SyncStaged(staging.path());
    Notify(observer, "staged");
    fs::create_directory(staging.path() / "backup");
    Transaction transaction(staging.path() / "backup");
    MoveSigned(transaction, signer.has_value(), stagedCurrent, options.outputDir, paths.current, result, observer);
    transaction.Commit();
    output.Keep();
}

}  // namespace

PublishResult Publish(const PublishOptions& given, const StepObserver& observer) {
    PublishOptions options = given;
    if (options.outputDir.empty()) {
        throw PublishError("no output folder given");
    }
    CheckIdentifier("the partner id", options.partnerId);
    CheckNodes(options.nodes, options.removeNodes);

    PublishResult result;
    std::optional<Signer> signer;
    if (!options.signKey.empty()) {
        signer.emplace(options);
    }
    try {
        if (options.nodesOnly) {
            if (options.nodes.empty() && options.removeNodes.empty()) {
                throw PublishError("no node given for the node list");
            }
            PublishNodesOnly(options, signer, result, observer);
            return result;
        }
        CheckIdentifier("the package id", options.packageId);
        if (!options.setCurrent.empty()) {
            CheckIdentifier("the version id", options.setCurrent);
            SetCurrent(options, signer, result, observer);
            return result;
        }
        CheckIdentifier("the version id", options.versionId);
        if (options.versionId == kCurrentName) {
            throw PublishError("the version id \"current\" is reserved for the current-version manifest");
        }
        if (options.name.empty()) {
            throw PublishError("the package name must not be empty");
        }
        if (std::any_of(options.name.begin(), options.name.end(), IsControl)) {
            throw PublishError("the package name holds a control character");
        }
        if (options.chunkSize == 0) {
            throw PublishError("the chunk size must not be 0");
        }
        options.countries = CheckCountries(options);
        PublishVersion(options, signer, result, observer);
    } catch (const fs::filesystem_error& failure) {
        throw PublishError(failure.what());
    }
    return result;
}

}  // namespace vrexa::publish
