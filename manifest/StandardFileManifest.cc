#include "manifest/StandardFileManifest.h"

#include <limits>
#include <string_view>
#include <utility>

#include "manifest/ContainedPath.h"
#include "manifest/ManifestReading.h"

namespace vrexa {

namespace {

constexpr std::size_t kGroupLength = 8;

}  // namespace

StandardFileManifest::StandardFileManifest(std::string path, std::uint32_t chunkSize, std::uint64_t size,
                                           std::vector<std::uint32_t> checksums, std::vector<Sha256Digest> sha256s)
    : path_(std::move(path)),
      chunkSize_(chunkSize),
      size_(size),
      checksums_(std::move(checksums)),
      sha256s_(std::move(sha256s)) {}

void StandardFileManifest::Read(const boost::property_tree::ptree& tree) {
    using namespace reading;
    Guarded([&] {
        path_ = RequiredText(tree, "path");
        chunkSize_ =
            static_cast<std::uint32_t>(RequiredNumber(tree, "chunksize", std::numeric_limits<std::uint32_t>::max()));
        size_ = RequiredNumber(tree, "size", std::numeric_limits<std::uint64_t>::max());
        checksums_.clear();
        const std::uint32_t count = GetChunkCount();
        const std::string_view text = RequiredText(tree, "checksums");
        // The length is checked first: an empty file must not carry checksums
        // either, and room is reserved only once the text proves the count, so
        // a document claiming a huge file cannot make us allocate for it.
        if (text.size() != kGroupLength * static_cast<std::size_t>(count)) Reject();
        checksums_.reserve(count);
        for (std::size_t at = 0; at < text.size(); at += kGroupLength) {
            const auto value = ParseHexGroup(text.substr(at, kGroupLength));
            if (!value) Reject();
            checksums_.push_back(*value);
        }
        // Strong hashes are optional, but once present they must describe
        // every chunk: a short or garbled list would leave chunks with only
        // the forgeable check while the entry looks protected.
        sha256s_.clear();
        if (const ptree* strong = FindChild(tree, "sha256")) {
            const std::string_view hashes = strong->data();
            if (hashes.size() != kSha256TextLength * static_cast<std::size_t>(count)) Reject();
            sha256s_.reserve(count);
            for (std::size_t at = 0; at < hashes.size(); at += kSha256TextLength) {
                const auto digest = ParseSha256Text(hashes.substr(at, kSha256TextLength));
                if (!digest) Reject();
                sha256s_.push_back(*digest);
            }
        }
        if (path_.empty() || !IsChunkSizeAllowed(chunkSize_, size_)) Reject();
        // The path decides where the file is written and which URL it is
        // fetched from: it must stay inside the destination folder and name
        // the file one way only.
        if (!IsPackageFilePath(path_)) Reject();
    });
}

}  // namespace vrexa
