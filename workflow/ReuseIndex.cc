#include "workflow/ReuseIndex.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <array>
#include <functional>
#include <map>
#include <tuple>

#include "file/Exception.h"
#include "file/ReadOnlyFile.h"
#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"
#include "manifest/FileManifest.h"
#include "manifest/RollingChecksum.h"

namespace vrexa {
namespace {

// Old files are read in slices, so that a scan maps a bounded range at a time
// whatever the file's size.
constexpr std::uint64_t kSlice = std::uint64_t{16} << 20;
// Old files longer than this are rolled by two threads, each over one half.
constexpr std::uint64_t kSplitAbove = std::uint64_t{32} << 20;
// Confirmations read in blocks of this size, whatever the chunk size.
constexpr std::size_t kReadBlock = std::size_t{1} << 20;
// A package with more distinct chunk sizes than this is rolled over the most
// common ones only: each costs a pass over every old file.
constexpr std::size_t kMaxWindows = 4;

}  // namespace

// One distinct chunk: its refs are refs_[firstRef, firstRef + refCount).
struct ReuseIndex::Key {
    std::uint64_t length = 0;
    std::uint32_t crc = 0;
    std::uint32_t firstRef = 0;
    std::uint32_t refCount = 0;
    bool found = false;
    Location location;
};

// The keys of one chunk size, as the registers a rolling window shows for
// them: a bitmap that rejects almost every register at once, and the sorted
// registers with their keys for the rest.
struct ReuseIndex::Window {
    explicit Window(std::uint64_t length) : rolling(length) {}
    RollingChecksum rolling;
    std::vector<std::uint64_t> bitmap;
    std::uint32_t mask = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> registers;
    // Read by the rolling threads without the offer lock.
    std::atomic<std::size_t> unfound{0};

    bool MayHold(std::uint32_t reg) const { return (bitmap[(reg & mask) >> 6] >> (reg & 63)) & 1u; }
};

ReuseIndex::ReuseIndex(const PackageManifest& package) : files_(package.GetFiles()) {
    for (std::uint32_t f = 0; f < files_.size(); ++f) {
        const std::uint32_t count = files_[f]->GetChunkCount();
        for (std::uint32_t c = 0; c < count; ++c)
            refs_.push_back({f, c});
    }
    // Equal chunks side by side: same length, CRC-32 and SHA-256 (a chunk
    // without one sorts before those with one).
    const auto order = [this](const Ref& a, const Ref& b) {
        const Sha256Digest* shaA = ChunkSha(a);
        const Sha256Digest* shaB = ChunkSha(b);
        return std::make_tuple(ChunkLength(a), ChunkCrc(a), shaA != nullptr, shaA ? *shaA : Sha256Digest{}) <
               std::make_tuple(ChunkLength(b), ChunkCrc(b), shaB != nullptr, shaB ? *shaB : Sha256Digest{});
    };
    std::sort(refs_.begin(), refs_.end(), order);
    for (std::uint32_t i = 0; i < refs_.size(); ++i) {
        if (i == 0 || order(refs_[i - 1], refs_[i])) {
            Key key;
            key.length = ChunkLength(refs_[i]);
            key.crc = ChunkCrc(refs_[i]);
            key.firstRef = i;
            keys_.push_back(key);
        }
        ++keys_.back().refCount;
    }
    unfound_ = keys_.size();

    // The full chunk sizes by the bytes they cover, most first.
    std::map<std::uint64_t, std::uint64_t> bytesBySize;
    for (const auto& file : files_) {
        if (file->GetSize() >= file->GetChunkSize() && file->GetChunkSize() > 0) {
            bytesBySize[file->GetChunkSize()] += file->GetSize();
        }
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> sizes(bytesBySize.begin(), bytesBySize.end());
    std::sort(sizes.begin(), sizes.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (sizes.size() > kMaxWindows) sizes.resize(kMaxWindows);
    for (const auto& [length, bytes] : sizes) {
        (void)bytes;
        Window& window = windows_.emplace_back(length);
        for (std::uint32_t k = 0; k < keys_.size(); ++k) {
            if (keys_[k].length == length) window.registers.emplace_back(window.rolling.ToRegister(keys_[k].crc), k);
        }
        std::sort(window.registers.begin(), window.registers.end());
        window.unfound = window.registers.size();
        // About 64 bits per key, between 32 KiB (stays in the first-level
        // cache) and 8 MiB: a register not sought passes with a chance of
        // about 1 in 64.
        std::uint64_t bits = 1u << 18;
        while (bits < window.registers.size() * 64 && bits < (std::uint64_t{1} << 26))
            bits <<= 1;
        window.mask = static_cast<std::uint32_t>(bits - 1);
        window.bitmap.assign(bits / 64, 0);
        for (const auto& [reg, key] : window.registers) {
            (void)key;
            window.bitmap[(reg & window.mask) >> 6] |= std::uint64_t{1} << (reg & 63);
        }
    }
    for (const Key& key : keys_) {
        const bool rolled = std::any_of(windows_.begin(), windows_.end(),
                                        [&](const Window& w) { return w.rolling.GetWindow() == key.length; });
        if (!rolled && std::find(tailLengths_.begin(), tailLengths_.end(), key.length) == tailLengths_.end()) {
            tailLengths_.push_back(key.length);
        }
    }
}

ReuseIndex::~ReuseIndex() = default;

std::uint64_t ReuseIndex::ChunkLength(const Ref& ref) const {
    const FileManifest& file = *files_[ref.file];
    const std::uint64_t start = std::uint64_t{ref.chunk} * file.GetChunkSize();
    return std::min<std::uint64_t>(file.GetChunkSize(), file.GetSize() - start);
}

const Sha256Digest* ReuseIndex::ChunkSha(const Ref& ref) const {
    const auto& shas = files_[ref.file]->GetSha256s();
    return ref.chunk < shas.size() ? &shas[ref.chunk] : nullptr;
}

std::uint32_t ReuseIndex::ChunkCrc(const Ref& ref) const { return files_[ref.file]->GetChecksums()[ref.chunk]; }

std::pair<std::size_t, std::size_t> ReuseIndex::KeysOf(std::uint64_t length, std::uint32_t checksum) const {
    const auto lower = std::lower_bound(keys_.begin(), keys_.end(), std::make_pair(length, checksum),
                                        [](const Key& key, const std::pair<std::uint64_t, std::uint32_t>& value) {
                                            return std::make_pair(key.length, key.crc) < value;
                                        });
    auto upper = lower;
    while (upper != keys_.end() && upper->length == length && upper->crc == checksum)
        ++upper;
    return {static_cast<std::size_t>(lower - keys_.begin()), static_cast<std::size_t>(upper - keys_.begin())};
}

bool ReuseIndex::RangeHas(const file::ReadOnlyFile& file, std::uint64_t offset, std::uint64_t length, std::uint32_t crc,
                          const Sha256Digest* sha) const {
    if (offset > file.GetSize() || length > file.GetSize() - offset) {
        return false;
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(length, kReadBlock)));
    // The CRC-32 first: most candidates fail it, and it costs a fraction of
    // the hash, which is taken only of a range that passed.
    const auto pass = [&](const std::function<void(const std::uint8_t*, std::size_t)>& take) {
        for (std::uint64_t done = 0; done < length;) {
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - done));
            if (!file.ReadAt(block.data(), piece, offset + done)) return false;
            take(block.data(), piece);
            done += piece;
        }
        return true;
    };
    std::uint32_t actual = 0;
    if (!pass([&](const std::uint8_t* data, std::size_t size) { actual = ChunkChecksum(data, size, actual); }) ||
        actual != crc) {
        return false;
    }
    if (sha == nullptr) {
        return true;
    }
    ChunkSha256 hash;
    return pass([&](const std::uint8_t* data, std::size_t size) { hash.Update(data, size); }) && hash.Finish() == *sha;
}

bool ReuseIndex::Accept(std::uint32_t k, const file::ReadOnlyFile& file, std::uint32_t source, std::uint64_t offset) {
    Key& key = keys_[k];
    const Ref& first = refs_[key.firstRef];
    const Sha256Digest* sha = ChunkSha(first);
    if (!RangeHas(file, offset, key.length, key.crc, sha)) {
        return false;
    }
    bool anchored = sha != nullptr;
    for (std::uint32_t r = key.firstRef; !anchored && r < key.firstRef + key.refCount; ++r) {
        const Ref& ref = refs_[r];
        const FileManifest& manifest = *files_[ref.file];
        const std::uint64_t chunkSize = manifest.GetChunkSize();
        if (sources_[source].packagePath == manifest.GetPath() && offset == ref.chunk * chunkSize) {
            anchored = true;
        } else if (ref.chunk + 1 < manifest.GetChunkCount() &&
                   RangeHas(file, offset + key.length, ChunkLength({ref.file, ref.chunk + 1}),
                            ChunkCrc({ref.file, ref.chunk + 1}), nullptr)) {
            anchored = true;
        } else if (ref.chunk > 0 && offset >= chunkSize &&
                   RangeHas(file, offset - chunkSize, chunkSize, ChunkCrc({ref.file, ref.chunk - 1}), nullptr)) {
            anchored = true;
        }
    }
    if (!anchored) {
        return false;
    }
    if (!key.found) {
        key.found = true;
        key.location = {source, offset};
        --unfound_;
        for (Window& window : windows_) {
            if (window.rolling.GetWindow() == key.length) --window.unfound;
        }
    }
    return true;
}

bool ReuseIndex::Offer(const Window& window, std::uint32_t reg, const file::ReadOnlyFile& file, std::uint32_t source,
                       std::uint64_t offset) {
    auto it = std::lower_bound(window.registers.begin(), window.registers.end(), std::make_pair(reg, 0u));
    // Both halves of a large file may find a candidate at once; what is
    // found is recorded by one at a time.
    const std::lock_guard lock(offerMutex_);
    bool accepted = false;
    // A key found before is confirmed again all the same: equal registers
    // are only equal CRC-32s, which windows of other bytes have by chance
    // every few hundred megabytes, and stepping over such a window would
    // skip the chunks that start inside it.
    for (; it != window.registers.end() && it->first == reg && !accepted; ++it) {
        accepted = Accept(it->second, file, source, offset);
    }
    return accepted;
}

bool ReuseIndex::Roll(Window& window, const file::ReadOnlyFile& file, std::uint32_t source) {
    if (file.GetSize() < window.rolling.GetWindow()) {
        return true;
    }
    const std::uint64_t starts = file.GetSize() - window.rolling.GetWindow() + 1;
    std::uint64_t scanned = 0;
    bool whole = true;
    if (starts <= kSplitAbove || std::thread::hardware_concurrency() < 2) {
        whole = RollRange(window, file, source, 0, starts, scanned);
    } else {
        // The second half on a thread of its own: a scan of old content takes
        // about as long as checking it, which uses every core too.
        const std::uint64_t middle = starts / 2;
        std::uint64_t scannedThere = 0;
        bool wholeThere = true;
        std::exception_ptr failure;
        std::thread second([&] {
            try {
                wholeThere = RollRange(window, file, source, middle, starts, scannedThere);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            whole = RollRange(window, file, source, 0, middle, scanned);
        } catch (...) {
            second.join();
            throw;
        }
        second.join();
        if (failure) std::rethrow_exception(failure);
        scanned += scannedThere;
        whole = whole && wholeThere;
    }
    scannedBytes_ += scanned;
    return whole;
}

bool ReuseIndex::RollRange(Window& window, const file::ReadOnlyFile& file, std::uint32_t source, std::uint64_t first,
                           std::uint64_t end, std::uint64_t& scanned) {
    const std::uint64_t n = window.rolling.GetWindow();
    const auto& table = RollingChecksum::Table();
    const auto& out = window.rolling.OutTable();
    const auto roll = [&](std::uint32_t reg, const std::uint8_t* at) {
        return (reg >> 8) ^ table[(reg ^ at[n]) & 0xFF] ^ out[at[0]];
    };
    // The window starts of a slice are cut into lanes rolled side by side:
    // each step of one lane waits on the table lookup of its previous step,
    // so four independent lanes keep the processor busy four times over.
    constexpr std::size_t kLanes = 4;
    struct Lane {
        std::uint64_t s;    // next window start, relative to the slice
        std::uint64_t end;  // last window start of the lane
        std::uint32_t reg;
        bool active;
    };
    std::uint64_t start = first;
    while (start < end && window.unfound > 0) {
        const std::uint64_t lastStart = std::min(end - 1, start + kSlice - 1);
        const auto view = file.Map(start, static_cast<std::size_t>(lastStart - start + n));
        const std::uint8_t* data = view->Data();
        const std::uint64_t starts = lastStart - start + 1;
        const std::uint64_t share = (starts + kLanes - 1) / kLanes;
        std::array<Lane, kLanes> lanes{};
        std::size_t active = 0;
        for (std::size_t i = 0; i < kLanes; ++i) {
            Lane& lane = lanes[i];
            lane.s = i * share;
            lane.end = std::min(starts, (i + 1) * share) - 1;
            lane.active = lane.s < starts;
            if (lane.active) {
                lane.reg = window.rolling.ToRegister(ChunkChecksum(data + lane.s, static_cast<std::size_t>(n)));
                ++active;
            }
        }
        // A match in one lane that ends past the lane's end carries on into
        // the next lane; the overlap is rolled twice, which costs nothing but
        // time. The slice's own end is where the next slice starts.
        std::uint64_t reached = starts;
        while (active > 0 && window.unfound > 0) {
            if (active == kLanes) {
                std::uint64_t steps = ~std::uint64_t{0};
                for (const Lane& lane : lanes)
                    steps = std::min(steps, lane.end - lane.s);
                std::uint32_t r0 = lanes[0].reg, r1 = lanes[1].reg, r2 = lanes[2].reg, r3 = lanes[3].reg;
                const std::uint8_t* d0 = data + lanes[0].s;
                const std::uint8_t* d1 = data + lanes[1].s;
                const std::uint8_t* d2 = data + lanes[2].s;
                const std::uint8_t* d3 = data + lanes[3].s;
                std::uint64_t k = 0;
                for (; k < steps; ++k) {
                    // One test for the four lanes, without a branch per lane.
                    const int any = static_cast<int>(window.MayHold(r0)) | static_cast<int>(window.MayHold(r1)) |
                                    static_cast<int>(window.MayHold(r2)) | static_cast<int>(window.MayHold(r3));
                    if (any != 0) break;
                    r0 = roll(r0, d0 + k);
                    r1 = roll(r1, d1 + k);
                    r2 = roll(r2, d2 + k);
                    r3 = roll(r3, d3 + k);
                }
                lanes[0].reg = r0, lanes[1].reg = r1, lanes[2].reg = r2, lanes[3].reg = r3;
                for (Lane& lane : lanes)
                    lane.s += k;
            }
            // One careful step of every lane: its window checked, then a jump
            // past a match or a roll by one byte.
            for (Lane& lane : lanes) {
                if (!lane.active || window.unfound == 0) continue;
                if (window.MayHold(lane.reg) && Offer(window, lane.reg, file, source, start + lane.s)) {
                    lane.s += n;
                    if (lane.s > lane.end) {
                        lane.active = false;
                        --active;
                        if (lane.s > starts - 1 && lane.end == starts - 1) reached = lane.s;
                    } else {
                        lane.reg = window.rolling.ToRegister(ChunkChecksum(data + lane.s, static_cast<std::size_t>(n)));
                    }
                    continue;
                }
                if (lane.s == lane.end) {
                    lane.active = false;
                    --active;
                } else {
                    lane.reg = roll(lane.reg, data + lane.s);
                    ++lane.s;
                }
            }
        }
        if (view->Faulted()) {
            return false;
        }
        scanned += starts;
        start += reached;
    }
    return true;
}

std::uint32_t ReuseIndex::Scan(const Source& source) {
    const auto id = static_cast<std::uint32_t>(sources_.size());
    sources_.push_back(source);
    inPlace_.push_back(false);
    std::unique_ptr<file::ReadOnlyFile> file;
    try {
        file = file::ReadOnlyFile::OpenBeneath(source.folder, source.path);
    } catch (const file::Exception&) {
        return id;
    }
    if (!file) {
        return id;
    }
    try {
        // At their own offsets first: an old file that already is (mostly)
        // the new version is settled at the speed of a plain check.
        std::int64_t ownIndex = -1;
        for (std::uint32_t f = 0; f < files_.size(); ++f) {
            if (!source.packagePath.empty() && files_[f]->GetPath() == source.packagePath) ownIndex = f;
        }
        if (ownIndex >= 0) {
            const FileManifest& own = *files_[static_cast<std::size_t>(ownIndex)];
            std::uint32_t inPlace = 0;
            for (std::uint32_t c = 0; c < own.GetChunkCount(); ++c) {
                const Ref ref{static_cast<std::uint32_t>(ownIndex), c};
                const std::uint64_t offset = std::uint64_t{c} * own.GetChunkSize();
                const auto [first, last] = KeysOf(ChunkLength(ref), ChunkCrc(ref));
                for (std::size_t k = first; k < last; ++k) {
                    const Sha256Digest* sha = ChunkSha(refs_[keys_[k].firstRef]);
                    const Sha256Digest* mine = ChunkSha(ref);
                    if ((sha == nullptr) != (mine == nullptr) || (sha && *sha != *mine)) continue;
                    if (Accept(static_cast<std::uint32_t>(k), *file, id, offset)) ++inPlace;
                    break;
                }
            }
            inPlace_[id] = file->GetSize() == own.GetSize() && inPlace == own.GetChunkCount();
        }
        for (Window& window : windows_) {
            if (AllFound()) break;
            if (window.unfound > 0 && !Roll(window, *file, id)) break;
        }
        for (const std::uint64_t tail : tailLengths_) {
            if (tail > file->GetSize()) continue;
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(tail));
            const std::uint64_t offset = file->GetSize() - tail;
            if (!file->ReadAt(bytes.data(), bytes.size(), offset)) continue;
            const auto [first, last] = KeysOf(tail, ChunkChecksum(bytes.data(), bytes.size()));
            for (std::size_t k = first; k < last; ++k) {
                if (!keys_[k].found) Accept(static_cast<std::uint32_t>(k), *file, id, offset);
            }
        }
    } catch (const file::Exception&) {
        // An old file that fails to read only means less to reuse; what was
        // confirmed before the failure stays confirmed.
    }
    return id;
}

bool ReuseIndex::IsInPlace(std::uint32_t source) const { return inPlace_.at(source); }

void ReuseIndex::Relocate(std::uint32_t source, const std::string& folder, const std::string& path) {
    sources_.at(source).folder = folder;
    sources_.at(source).path = path;
}

std::optional<ReuseIndex::Location> ReuseIndex::Find(std::uint64_t length, std::uint32_t checksum,
                                                     const std::optional<Sha256Digest>& sha256) const {
    const auto [first, last] = KeysOf(length, checksum);
    for (std::size_t k = first; k < last; ++k) {
        const Sha256Digest* sha = ChunkSha(refs_[keys_[k].firstRef]);
        if ((sha == nullptr) != !sha256.has_value() || (sha && *sha != *sha256)) continue;
        if (keys_[k].found) return keys_[k].location;
    }
    return std::nullopt;
}

ReuseIndex::Figures ReuseIndex::GetFigures() const {
    Figures figures;
    figures.scannedBytes = scannedBytes_;
    for (const Key& key : keys_) {
        if (!key.found) continue;
        ++figures.foundChunks;
        figures.foundBytes += key.length;
    }
    figures.indexBytes =
        refs_.capacity() * sizeof(Ref) + keys_.capacity() * sizeof(Key) + sources_.capacity() * sizeof(Source);
    for (const Window& window : windows_) {
        figures.indexBytes += window.bitmap.capacity() * sizeof(std::uint64_t) +
                              window.registers.capacity() * sizeof(window.registers[0]);
    }
    return figures;
}

}  // namespace vrexa
