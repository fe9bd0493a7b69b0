#include "workflow/TransferSharedFileData.h"

#include <boost/property_tree/ptree.hpp>

#include "file/SharedFile.h"

namespace vrexa {

TransferSharedFileData::TransferSharedFileData(std::string filePath, std::uint64_t fileSize)
    : filePath(std::move(filePath)), fileSize(fileSize) {}

void TransferSharedFileData::Describe(boost::property_tree::ptree& tree) const {
    tree.put("filePath", filePath);
    tree.put("fileSize", std::to_string(fileSize));
}

std::shared_ptr<file::SharedFile> TransferSharedFileData::GetFile() const {
    const std::lock_guard lock(mutex_);
    return file_;
}

void TransferSharedFileData::SetFile(std::shared_ptr<file::SharedFile> file) {
    const std::lock_guard lock(mutex_);
    file_ = std::move(file);
}

void TransferSharedFileData::ResetFile() {
    std::shared_ptr<file::SharedFile> released;
    {
        const std::lock_guard lock(mutex_);
        released.swap(file_);
    }
    // The handle may close here, outside the lock.
}

void TransferSharedFileData::SetZeroFilled(bool zeroFilled) {
    const std::lock_guard lock(mutex_);
    zeroFilled_ = zeroFilled;
    written_.clear();
}

bool TransferSharedFileData::IsChunkZero(std::uint64_t lowerBound) const {
    const std::lock_guard lock(mutex_);
    return zeroFilled_ && !written_.contains(lowerBound);
}

void TransferSharedFileData::MarkChunkWritten(std::uint64_t lowerBound) {
    const std::lock_guard lock(mutex_);
    if (zeroFilled_) {
        written_.insert(lowerBound);
    }
    if (denyExecuteBeforeWriting_ && file_) {
        // Under the lock: no chunk of this file is written before it is done.
        denyExecuteBeforeWriting_ = false;
        try {
            file_->DenyExecute();
        } catch (...) {
            // A precaution, as when the file was created.
        }
    }
}

void TransferSharedFileData::DenyExecuteBeforeWriting() {
    const std::lock_guard lock(mutex_);
    denyExecuteBeforeWriting_ = true;
}

}  // namespace vrexa
