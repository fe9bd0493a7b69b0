#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "manifest/PackageManifest.h"
#include "manifest/Sha256Digest.h"

namespace vrexa::testing {

struct TestFile {
    std::string path;
    std::string bytes;
};

struct TestPackageOptions {
    std::string id = "k1";
    std::string partnerId = "p1";
    std::string versionId = "v1";
    std::string run;
    bool active = true;
    // "None", "Whitelist" or "Blacklist"; empty: no version block.
    std::string policy;
    std::vector<std::string> countries;
    std::uint32_t chunkSize = 1000;
    // Whether file entries carry the SHA-256 of every chunk.
    bool sha256 = false;
};

// The package manifest document describing files (chunk checksums of their
// bytes), as XML text a manifest host serves.
std::string PackageXml(const std::vector<TestFile>& files, const TestPackageOptions& options = {});

// The same document read as the engine reads a fetched one.
std::shared_ptr<PackageManifest> MakePackage(const std::vector<TestFile>& files,
                                             const TestPackageOptions& options = {});

// A package of files given only by path and size, of any size a manifest
// object can claim (no document could list the checksums of the largest), for
// checks that never look at file contents.
std::shared_ptr<PackageManifest> MakeSizedPackage(const std::vector<std::pair<std::string, std::uint64_t>>& files);

// A file given by its digests rather than its bytes: files too large to hold
// in memory, whose digests were taken as the bytes went by.
struct DigestFileEntry {
    std::string path;
    std::uint64_t size = 0;
    std::uint32_t chunkSize = 0;
    std::vector<std::uint32_t> checksums;
    std::vector<Sha256Digest> sha256s;
};
std::shared_ptr<PackageManifest> MakeDigestPackage(std::vector<DigestFileEntry> files);

}  // namespace vrexa::testing
