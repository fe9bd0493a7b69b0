#include "workflow/TransferSharedMapData.h"

#include <boost/property_tree/ptree.hpp>

#include "file/MemoryMappedData.h"
#include "manifest/ChunkChecksum.h"
#include "transfer/TransferProgressUpdater.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/WorkSupport.h"

namespace vrexa {

TransferSharedMapData::TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                                             std::uint64_t upperBound, std::uint32_t expectedChecksum,
                                             std::shared_ptr<TransferProgressUpdater> progress)
    : fileData(std::move(fileData)), expectedChecksum(expectedChecksum), progress(std::move(progress)) {
    this->lowerBound = lowerBound;
    this->upperBound = upperBound;
}

void TransferSharedMapData::Describe(boost::property_tree::ptree& tree) const {
    if (fileData) {
        fileData->Describe(tree);
    }
    tree.put("lowerBound", std::to_string(lowerBound));
    tree.put("upperBound", std::to_string(upperBound));
    tree.put("expectedChecksum", HexText(expectedChecksum));
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
    fileProgressBytes.fetch_add(bytes);
    if (progress) {
        progress->AddCompleted(bytes);
        progress->AddDownloaded(bytes);
    }
}

std::optional<std::uint32_t> TransferSharedMapData::WrittenChecksum() const {
    if (fileProgressBytes.load() != GetLength()) {
        return std::nullopt;
    }
    return writtenChecksum_;
}

void TransferSharedMapData::ResetProgress(file::MemoryMappedData& window) {
    window.Seek(lowerBound);
    writtenChecksum_ = 0;
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
