#include "workflow/WorkSupport.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "manifest/ChunkChecksum.h"
#include "file/Filesystem.h"
#include "manifest/ChunkSha256.h"
#include "manifest/FileManifest.h"
#include "manifest/PackageManifest.h"
#include "transfer/TransferFileExceptionData.h"
#include "transfer/TransferStatusData.h"
#include "transfer/TransferWorkInterface.h"
#include "work/Work.h"

namespace vrexa {

WorkStatus TransferErrorStatus(WorkResult result, TransferError error, std::string message) {
    return WorkStatus(result, std::make_shared<TransferErrorData>(error, std::move(message)));
}

WorkStatus FileFailureStatus(std::exception_ptr exception) {
    auto data = std::make_shared<TransferFileExceptionData>(std::move(exception));
    return WorkStatus(data->retryable ? WorkResult::RetryableError : WorkResult::FatalError, data);
}

bool IsProgramFile(TransferWorkInterface& transfer, const std::string& path) {
    const std::shared_ptr<PackageManifest> package = transfer.GetPackage();
    if (package && !package->GetRun().empty() && path == package->GetRun()) {
        return true;
    }
    return transfer.GetBehavior().filesystem->IsExecutable(transfer.GetParams().destPath, path);
}

std::optional<ChunkBounds> ChunkAt(const FileManifest& manifest, std::uint64_t fileSize, std::uint64_t index) {
    const std::uint64_t chunkSize = manifest.GetChunkSize();
    const auto& checksums = manifest.GetChecksums();
    if (chunkSize == 0 || fileSize == 0 || index >= checksums.size() || index > (fileSize - 1) / chunkSize) {
        return std::nullopt;
    }
    const std::uint64_t lower = index * chunkSize;
    ChunkBounds bounds{lower, lower + std::min(chunkSize - 1, fileSize - 1 - lower), checksums[index], std::nullopt};
    if (const auto& sha256s = manifest.GetSha256s(); index < sha256s.size()) {
        bounds.sha256 = sha256s[index];
    }
    return bounds;
}

std::string HexText(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

namespace {

// A digest of `length` zero bytes, computed once per length and kept. A file
// has at most two chunk lengths (the chunk size and its last chunk), so the
// table stays tiny; it is capped all the same.
template <typename Digest, typename Compute>
Digest KeptZeroDigest(std::uint64_t length, Compute&& compute) {
    static std::mutex mutex;
    static std::map<std::uint64_t, Digest> known;
    {
        const std::lock_guard lock(mutex);
        if (const auto found = known.find(length); found != known.end()) {
            return found->second;
        }
    }
    static const std::array<std::uint8_t, 65536> zeros{};
    const Digest digest = compute([&](auto&& feed) {
        for (std::uint64_t left = length; left > 0;) {
            const std::size_t piece = left < zeros.size() ? static_cast<std::size_t>(left) : zeros.size();
            feed(zeros.data(), piece);
            left -= piece;
        }
    });
    const std::lock_guard lock(mutex);
    if (known.size() < 64) {
        known.emplace(length, digest);
    }
    return digest;
}

}  // namespace

std::uint32_t ZeroChecksum(std::uint64_t length) {
    return KeptZeroDigest<std::uint32_t>(length, [](auto&& zeros) {
        std::uint32_t checksum = 0;
        zeros([&](const std::uint8_t* data, std::size_t size) { checksum = ChunkChecksum(data, size, checksum); });
        return checksum;
    });
}

Sha256Digest ZeroSha256(std::uint64_t length) {
    return KeptZeroDigest<Sha256Digest>(length, [](auto&& zeros) {
        ChunkSha256 hash;
        zeros([&](const std::uint8_t* data, std::size_t size) { hash.Update(data, size); });
        return hash.Finish();
    });
}

}  // namespace vrexa
