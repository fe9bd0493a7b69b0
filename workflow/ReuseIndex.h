#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "manifest/PackageManifest.h"
#include "manifest/Sha256Digest.h"
#include "transfer/TransferWorkInterface.h"

namespace vrexa {

namespace file {
class ReadOnlyFile;
}  // namespace file

// Where the chunks of a new package version already exist on this machine, at
// any byte offset of any old file: an update then copies them instead of
// fetching them, even when an insertion moved every byte after it or a file
// was renamed.
//
// Built once per transfer before any output file is opened. Every distinct
// chunk of the package (length, CRC-32 and, where the manifest has one,
// SHA-256) is a key. Scan slides a window of each chunk size over an old file
// with a rolling CRC-32; a bitmap of the sought registers rejects almost every
// offset with one lookup, and a candidate counts only once its bytes, read
// again from the file, have the chunk's CRC-32 and SHA-256. A chunk with no
// SHA-256 has only 32 bits to go by, and among the millions of offsets of an
// old file some window would match by chance; such a chunk is taken only
// where it is anchored: at its own offset in the old file of the same path,
// or right next to the chunk that precedes or follows it in the new file.
// The last, shorter chunk of a file is sought at the end of every old file.
//
// Lookups (Find) are safe from many threads once the scan is over; what they
// return is a hint: the copy is checked again like a downloaded chunk.
class ReuseIndex : public ReusedContent {
public:
    // An old file: the folder it was found in and its path below it, and the
    // package path whose old content it is ("" when none), which anchors its
    // chunks at their own offsets.
    struct Source {
        std::string folder;
        std::string path;
        std::string packagePath;
    };
    struct Location {
        std::uint32_t source = 0;
        std::uint64_t offset = 0;
    };
    struct Figures {
        std::uint64_t scannedBytes = 0;
        std::uint64_t foundChunks = 0;
        std::uint64_t foundBytes = 0;
        std::uint64_t indexBytes = 0;
    };

    explicit ReuseIndex(const PackageManifest& package);
    ~ReuseIndex() override;

    // Looks for the chunks not found yet in the old file; returns its number.
    // A file that cannot be opened as a regular file beneath its folder, or
    // that shrinks during the scan, adds nothing.
    std::uint32_t Scan(const Source& source);
    // Every chunk of the package has been found: further files need no scan.
    bool AllFound() const { return unfound_ == 0; }
    // Whether the old file `source` already is the new version of its
    // package path: its size, and every chunk at its own offset.
    bool IsInPlace(std::uint32_t source) const;
    // The old file has been moved (kept aside while its path is rewritten).
    void Relocate(std::uint32_t source, const std::string& folder, const std::string& path);

    // Where a chunk with these digests was found; nullopt when nowhere.
    std::optional<Location> Find(std::uint64_t length, std::uint32_t checksum,
                                 const std::optional<Sha256Digest>& sha256) const;
    const Source& GetSource(std::uint32_t source) const { return sources_.at(source); }
    Figures GetFigures() const;

private:
    struct Ref {
        std::uint32_t file;
        std::uint32_t chunk;
    };
    struct Key;
    struct Window;

    std::uint64_t ChunkLength(const Ref& ref) const;
    const Sha256Digest* ChunkSha(const Ref& ref) const;
    std::uint32_t ChunkCrc(const Ref& ref) const;
    // A candidate for keys[key] at offset of file; true when it counts.
    bool Accept(std::uint32_t key, const file::ReadOnlyFile& file, std::uint32_t source, std::uint64_t offset);
    bool RangeHas(const file::ReadOnlyFile& file, std::uint64_t offset, std::uint64_t length, std::uint32_t crc,
                  const Sha256Digest* sha) const;
    // The keys with this length and CRC-32, as [first, last).
    std::pair<std::size_t, std::size_t> KeysOf(std::uint64_t length, std::uint32_t checksum) const;
    // Rolls one window length over the file; false when the file faulted.
    bool Roll(Window& window, const file::ReadOnlyFile& file, std::uint32_t source);
    // Offers every key of window whose register is reg at offset.
    bool Offer(const Window& window, std::uint32_t reg, const file::ReadOnlyFile& file, std::uint32_t source,
               std::uint64_t offset);

    PackageManifest::Files files_;
    std::vector<Ref> refs_;
    std::vector<Key> keys_;
    std::vector<Window> windows_;
    // Lengths of the last, shorter chunks, sought at the end of each file.
    std::vector<std::uint64_t> tailLengths_;
    std::vector<Source> sources_;
    std::vector<bool> inPlace_;
    std::size_t unfound_ = 0;
    std::uint64_t scannedBytes_ = 0;
};

}  // namespace vrexa
