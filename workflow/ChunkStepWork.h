#pragma once

#include <memory>

#include "work/SimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class TransferSharedMapData;

// A step of a chunk's pipeline: a simple work on the chunk's map data that
// describes itself with its name, the transfer's id and the chunk's keys, and
// logs its completions on the ordinary route. An exception escaping the step
// becomes a classified file failure (retryable when it may heal).
class ChunkStepWork : public TransferWork, public SimpleWork {
public:
    ChunkStepWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedMapData> mapData,
                  const char* name);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() final;
    void OnCancel() override {}

    const std::shared_ptr<TransferSharedMapData>& GetMapData() const { return mapData_; }

protected:
    virtual WorkStatus Step() = 0;
    // FatalError, Unknown, "<name>::ExecuteTask has no <what>".
    WorkStatus Missing(const char* what) const;

    const std::shared_ptr<TransferSharedMapData> mapData_;

private:
    const char* const name_;
};

// Opens the chunk's window: a view when the file already reaches past the
// chunk, otherwise an in-order write cache.
class CreateChunkMapWork : public ChunkStepWork {
public:
    CreateChunkMapWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedMapData> mapData)
        : ChunkStepWork(std::move(transfer), std::move(mapData), "CreateChunkMapWork") {}

    // ceil((threads - 1) * (upper - lower) / rate) seconds, capped at
    // 0xFFFFFFFF: how long a write cache may wait for the chunks before it.
    static std::uint32_t WriteCacheWait(int transferThreads, std::uint64_t lower, std::uint64_t upper,
                                        int expectedWriteRate);

protected:
    WorkStatus Step() override;
};

// Brings the window into memory before it is checked. A chunk of a file the
// open step has just filled with zeros has nothing to bring in.
class PrefetchChunkWork : public ChunkStepWork {
public:
    PrefetchChunkWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedMapData> mapData)
        : ChunkStepWork(std::move(transfer), std::move(mapData), "PrefetchChunkWork") {}

protected:
    WorkStatus Step() override;
};

// Compares the window's checksum with the manifest's: Success settles the
// chunk's progress; Failure (with ChecksumStatusData) takes it back.
class VerifyChunkWork : public ChunkStepWork {
public:
    VerifyChunkWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedMapData> mapData)
        : ChunkStepWork(std::move(transfer), std::move(mapData), "VerifyChunkWork") {}

protected:
    WorkStatus Step() override;
};

// Writes the window back where needed and drops it. A write cache always
// writes its bytes (they exist nowhere else); a view is flushed only when the
// file is not preallocated, since its pages reach the file on unmapping.
class ReleaseChunkMapWork : public ChunkStepWork {
public:
    ReleaseChunkMapWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedMapData> mapData)
        : ChunkStepWork(std::move(transfer), std::move(mapData), "ReleaseChunkMapWork") {}

protected:
    WorkStatus Step() override;
};

}  // namespace vrexa
