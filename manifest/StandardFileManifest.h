#pragma once

#include "manifest/FileManifest.h"

namespace vrexa {

// A "file" entry of a package manifest: "path", "chunksize", "size" and
// "checksums" (eight hexadecimal digits per chunk), and optionally "sha256"
// (64 hexadecimal digits per chunk).
class StandardFileManifest : public FileManifest {
public:
    StandardFileManifest() = default;
    StandardFileManifest(std::string path, std::uint32_t chunkSize, std::uint64_t size,
                         std::vector<std::uint32_t> checksums, std::vector<Sha256Digest> sha256s = {});

    void Read(const boost::property_tree::ptree& tree) override;

    const std::string& GetPath() const override { return path_; }
    std::uint32_t GetChunkSize() const override { return chunkSize_; }
    std::uint64_t GetSize() const override { return size_; }
    const std::vector<std::uint32_t>& GetChecksums() const override { return checksums_; }
    const std::vector<Sha256Digest>& GetSha256s() const override { return sha256s_; }

private:
    std::string path_;
    std::uint32_t chunkSize_ = 0;
    std::uint64_t size_ = 0;
    std::vector<std::uint32_t> checksums_;
    std::vector<Sha256Digest> sha256s_;
};

}  // namespace vrexa
