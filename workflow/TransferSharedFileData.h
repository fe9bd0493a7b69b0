#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "work/WorkDescriptor.h"

namespace vrexa {

namespace file {
class SharedFile;
}  // namespace file

// What the works of one output file share: its path and size from the file
// manifest and, between the open and the close step, the open file. The file
// is set and dropped from different threads (the close step, the teardown of
// the file work), so it is reached only through the accessors.
class TransferSharedFileData : public WorkDescriptor {
public:
    TransferSharedFileData(std::string filePath, std::uint64_t fileSize);

    // "filePath", then "fileSize" (decimal).
    void Describe(boost::property_tree::ptree& tree) const override;

    std::shared_ptr<file::SharedFile> GetFile() const;
    void SetFile(std::shared_ptr<file::SharedFile> file);
    // Empties the pointer; the handle closes when its last holder lets go.
    void ResetFile();

    // Set by the open step when it has just created or extended the file, so
    // every byte of it is zero until a chunk request writes into it. Chunk
    // checks of such a file compare with the checksum of zeros instead of
    // reading pages that hold nothing.
    void SetZeroFilled(bool zeroFilled);
    // Whether the chunk starting at lowerBound still holds only the zeros the
    // open step left.
    bool IsChunkZero(std::uint64_t lowerBound) const;
    // A request is about to write the chunk starting at lowerBound. The
    // first such call denies execution when DenyExecuteBeforeWriting asked
    // for it; the others wait until that is done.
    void MarkChunkWritten(std::uint64_t lowerBound);
    // Set by the open step for a program it kept as found: nothing changes
    // if every chunk is right, but it is not runnable while it is rewritten.
    void DenyExecuteBeforeWriting();

    // Verification opens files read-only; its windows are read-only views.
    bool IsReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

    const std::string filePath;
    const std::uint64_t fileSize;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<file::SharedFile> file_;
    bool zeroFilled_ = false;
    std::unordered_set<std::uint64_t> written_;
    bool readOnly_ = false;
    bool denyExecuteBeforeWriting_ = false;
};

}  // namespace vrexa
