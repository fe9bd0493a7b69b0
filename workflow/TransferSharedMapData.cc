#include "workflow/TransferSharedMapData.h"

#include <boost/property_tree/ptree.hpp>

#include "file/MemoryMappedData.h"
#include "manifest/ChunkChecksum.h"
#include "text/HexText.h"
#include "transfer/TransferProgressUpdater.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/ZeroDigest.h"

namespace vrexa {

TransferSharedMapData::TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                                             std::uint64_t upperBound, std::uint32_t expectedChecksum,
                                             std::shared_ptr<TransferProgressUpdater> progress,
                                             std::optional<Sha256Digest> expectedSha256)
    : fileData(std::move(fileData)),
      expectedChecksum(expectedChecksum),
      expectedSha256(expectedSha256),
      progress(std::move(progress)) {
    this->lowerBound = lowerBound;
    this->upperBound = upperBound;
    if (this->expectedSha256) {
        writtenHash_.emplace();
    }
}

void TransferSharedMapData::Describe(boost::property_tree::ptree& tree) const {
    if (fileData) {
        fileData->Describe(tree);
    }
    tree.put("lowerBound", std::to_string(lowerBound));
    tree.put("upperBound", std::to_string(upperBound));
    tree.put("expectedChecksum", HexText(expectedChecksum));
    if (expectedSha256) {
        tree.put("expectedSha256", Sha256Text(*expectedSha256));
    }
    tree.put("fileProgressBytes", std::to_string(fileProgressBytes.load()));
}

std::string TransferSharedMapData::GetFilePath() const { return fileData ? fileData->filePath : std::string(); }

std::shared_ptr<file::MemoryMappedData> TransferSharedMapData::GetWindow() const {
    const std::lock_guard lock(mutex_);
    return window_;
}

void TransferSharedMapData::SetWindow(std::shared_ptr<file::MemoryMappedData> window) {
    const std::lock_guard lock(mutex_);
    window_ = std::move(window);
}

std::shared_ptr<file::MemoryMappedData> TransferSharedMapData::TakeWindow() {
    const std::lock_guard lock(mutex_);
    return std::move(window_);
}

void TransferSharedMapData::AddWritten(const void* data, std::uint64_t bytes) {
    writtenChecksum_ = ChunkChecksum(data, static_cast<std::size_t>(bytes), writtenChecksum_);
    if (writtenHash_) {
        writtenHash_->Update(data, static_cast<std::size_t>(bytes));
    }
    fileProgressBytes.fetch_add(bytes);
    if (progress) {
        progress->AddCompleted(bytes);
        progress->AddDownloaded(bytes);
    }
}

std::optional<ChunkDigests> TransferSharedMapData::WrittenDigests() {
    if (fileProgressBytes.load() != GetLength()) {
        return std::nullopt;
    }
    if (writtenHash_ && !writtenSha256_) {
        writtenSha256_ = writtenHash_->Finish();
    }
    return ChunkDigests{writtenChecksum_, writtenSha256_};
}

ChunkDigests TransferSharedMapData::ReadDigests(file::MemoryMappedData& window) const {
    ChunkDigests digests;
    std::optional<ChunkSha256> hash;
    if (expectedSha256) {
        hash.emplace();
    }
    window.Visit([&](const std::uint8_t* data, std::size_t size) {
        digests.checksum = ChunkChecksum(data, size, digests.checksum);
        if (hash) {
            hash->Update(data, size);
        }
    });
    if (hash) {
        digests.sha256 = hash->Finish();
    }
    return digests;
}

ChunkDigests TransferSharedMapData::ZeroDigests() const {
    ChunkDigests digests{ZeroChecksum(GetLength()), std::nullopt};
    if (expectedSha256) {
        digests.sha256 = ZeroSha256(GetLength());
    }
    return digests;
}

bool TransferSharedMapData::Matches(const ChunkDigests& actual) const {
    return actual.checksum == expectedChecksum && (!expectedSha256 || actual.sha256 == expectedSha256);
}

void TransferSharedMapData::ResetProgress(file::MemoryMappedData& window) {
    window.Seek(lowerBound);
    writtenChecksum_ = 0;
    if (writtenHash_) {
        writtenHash_->Reset();
    }
    writtenSha256_.reset();
    const std::uint64_t counted = fileProgressBytes.exchange(0);
    if (counted != 0 && progress) {
        progress->SubtractCompleted(counted);
    }
}

void TransferSharedMapData::SettleProgress() {
    const std::uint64_t length = GetLength();
    const std::uint64_t counted = fileProgressBytes.exchange(length);
    if (!progress) {
        return;
    }
    if (counted < length) {
        progress->AddCompleted(length - counted);
    } else if (counted > length) {
        progress->SubtractCompleted(counted - length);
    }
    progress->AddVerified(length);
}

}  // namespace vrexa
