#include "workflow/tests/TestPackages.h"

#include <algorithm>
#include <cstdio>

#include <sstream>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"
#include "manifest/StandardPackageManifest.h"

namespace vrexa::testing {

namespace {

using boost::property_tree::ptree;

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

ptree FileEntry(const std::string& path, std::uint32_t chunkSize, std::uint64_t size, const std::string& checksums) {
    ptree file;
    file.put("path", path);
    file.put("chunksize", chunkSize);
    file.put("size", size);
    file.put("checksums", checksums);
    return file;
}

ptree Document(const std::vector<TestFile>& files, const TestPackageOptions& options) {
    ptree package;
    package.put("id", options.id);
    package.put("name", "Test package");
    package.put("partnerId", options.partnerId);
    package.put("versionId", options.versionId);
    package.put("run", options.run);
    package.put("isActive", options.active ? "true" : "false");
    if (!options.policy.empty()) {
        ptree version;
        version.put("id", options.versionId);
        version.put("run", options.run);
        version.put("policy", options.policy);
        ptree codes;
        for (const std::string& code : options.countries)
            codes.add("countryCode", code);
        version.add_child("countryCodes", codes);
        package.add_child("version", version);
    }
    ptree entries;
    for (const TestFile& file : files) {
        std::string checksums;
        std::vector<Sha256Digest> sha256s;
        for (std::size_t at = 0; at < file.bytes.size(); at += options.chunkSize) {
            const std::size_t length = std::min<std::size_t>(options.chunkSize, file.bytes.size() - at);
            checksums += Hex(ChunkChecksum(file.bytes.data() + at, length));
            sha256s.push_back(ChunkSha256Of(file.bytes.data() + at, length));
        }
        ptree entry = FileEntry(file.path, options.chunkSize, file.bytes.size(), checksums);
        if (options.sha256) entry.put("sha256", Sha256ListText(sha256s));
        entries.add_child("file", entry);
    }
    package.add_child("files", entries);
    ptree document;
    document.add_child("package", package);
    return document;
}

}  // namespace

std::string PackageXml(const std::vector<TestFile>& files, const TestPackageOptions& options) {
    std::ostringstream text;
    boost::property_tree::write_xml(text, Document(files, options));
    return text.str();
}

std::shared_ptr<PackageManifest> MakePackage(const std::vector<TestFile>& files, const TestPackageOptions& options) {
    auto manifest = std::make_shared<StandardPackageManifest>();
    manifest->Read(Document(files, options));
    return manifest;
}

namespace {

// A file given by its size and digests alone, and a package of such files:
// for checks of files no document or memory could hold.
class DigestFile : public FileManifest {
public:
    explicit DigestFile(DigestFileEntry entry) : entry_(std::move(entry)) {}
    void Read(const ptree&) override {}
    const std::string& GetPath() const override { return entry_.path; }
    std::uint32_t GetChunkSize() const override { return entry_.chunkSize; }
    std::uint64_t GetSize() const override { return entry_.size; }
    const std::vector<std::uint32_t>& GetChecksums() const override { return entry_.checksums; }
    const std::vector<Sha256Digest>& GetSha256s() const override { return entry_.sha256s; }

private:
    DigestFileEntry entry_;
};

class DigestPackage : public PackageManifest {
public:
    void Read(const ptree&) override {}
    const std::string& GetId() const override { return text_; }
    const std::string& GetName() const override { return text_; }
    const std::string& GetPartnerId() const override { return text_; }
    const std::string& GetVersionId() const override { return text_; }
    bool IsActive() const override { return true; }
    const Files& GetFiles() const override { return files; }
    const Files& GetRunFiles() const override { return none_; }
    const Files& GetOtherFiles() const override { return files; }
    const std::string& GetRun() const override { return empty_; }
    std::shared_ptr<FileManifest> GetRunFile() const override { return nullptr; }
    bool IsCountryAllowed(const std::string&) const override { return true; }

    Files files;

private:
    std::string text_ = "sized";
    std::string empty_;
    Files none_;
};

}  // namespace

std::shared_ptr<PackageManifest> MakeSizedPackage(const std::vector<std::pair<std::string, std::uint64_t>>& files) {
    std::vector<DigestFileEntry> entries;
    for (const auto& [path, size] : files)
        entries.push_back({path, size, 0xFFFFFFFFu, {}, {}});
    return MakeDigestPackage(std::move(entries));
}

std::shared_ptr<PackageManifest> MakeDigestPackage(std::vector<DigestFileEntry> files) {
    auto package = std::make_shared<DigestPackage>();
    for (auto& file : files)
        package->files.push_back(std::make_shared<DigestFile>(std::move(file)));
    return package;
}

}  // namespace vrexa::testing
