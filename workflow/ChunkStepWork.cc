#include "workflow/ChunkStepWork.h"

#include <cmath>
#include <exception>

#include <boost/property_tree/ptree.hpp>

#include "file/Exception.h"
#include "file/SequentialWriteCache.h"
#include "file/SharedFile.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/ChecksumStatusData.h"
#include "workflow/LogRoutes.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/TransferWorkStatus.h"

namespace vrexa {

ChunkStepWork::ChunkStepWork(std::shared_ptr<TransferWorkInterface> transfer,
                             std::shared_ptr<TransferSharedMapData> mapData, const char* name)
    : TransferWork(std::move(transfer)), mapData_(std::move(mapData)), name_(name) {
    AddLogCompleteRoute(*this, this->transfer_->GetBehavior(), false);
}

void ChunkStepWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", name_);
    DescribeTransfer(tree, true);
    mapData_->Describe(tree);
}

WorkStatus ChunkStepWork::Missing(const char* what) const {
    return TransferErrorStatus(WorkResult::FatalError, TransferError::Unknown,
                               std::string(name_) + "::ExecuteTask has no " + what);
}

WorkStatus ChunkStepWork::ExecuteTask() {
    try {
        return Step();
    } catch (const file::InvalidMapException&) {
        // A file verified in place that shrinks underneath its view does not
        // match the package; nothing was being written to it.
        if (mapData_->fileData && mapData_->fileData->IsReadOnly()) {
            return WorkStatus(WorkResult::FatalError, std::make_shared<TransferExceptionData>(
                                                          TransferError::ChecksumMismatch, std::current_exception()));
        }
        return FileFailureStatus(std::current_exception());
    } catch (...) {
        return FileFailureStatus(std::current_exception());
    }
}

std::uint32_t CreateChunkMapWork::WriteCacheWait(int transferThreads, std::uint64_t lower, std::uint64_t upper,
                                                 int expectedWriteRate) {
    constexpr double kMax = 4294967295.0;
    if (transferThreads <= 1 || upper <= lower) {
        return 0;
    }
    // A rate of zero or less is no estimate at all. Taken literally it would
    // hold a chunk behind a stalled one for ever; the default rate bounds it.
    if (expectedWriteRate <= 0) {
        expectedWriteRate = TransferBehavior::kDefaultExpectedWriteRate;
    }
    const double seconds = std::ceil(static_cast<double>(transferThreads - 1) * static_cast<double>(upper - lower) /
                                     static_cast<double>(expectedWriteRate));
    return seconds > kMax ? 0xFFFFFFFFu : static_cast<std::uint32_t>(seconds);
}

WorkStatus CreateChunkMapWork::Step() {
    const std::shared_ptr<file::SharedFile> file = mapData_->fileData ? mapData_->fileData->GetFile() : nullptr;
    if (!file) {
        return Missing("shared file");
    }
    const std::uint64_t lower = mapData_->lowerBound;
    const std::uint64_t upper = mapData_->upperBound;
    // A file being checked in place is only ever viewed: a write cache would
    // write its bytes back. One too short for the chunk fails to map, which
    // the step reports as a mismatch.
    if (file->GetSize() > upper || mapData_->fileData->IsReadOnly()) {
        mapData_->SetWindow(file->Map(lower, upper));
    } else {
        const TransferBehavior& behavior = transfer_->GetBehavior();
        mapData_->SetWindow(file->CreateWriteCache(
            lower, upper, WriteCacheWait(behavior.transferThreads, lower, upper, behavior.expectedWriteRate)));
    }
    return WorkStatus(WorkResult::Success, nullptr);
}

WorkStatus PrefetchChunkWork::Step() {
    const auto window = mapData_->GetWindow();
    if (!window) {
        return Missing("shared map");
    }
    if (!(mapData_->fileData && mapData_->fileData->IsChunkZero(mapData_->lowerBound))) {
        window->Fetch();
    }
    return WorkStatus(WorkResult::Success, nullptr);
}

WorkStatus VerifyChunkWork::Step() {
    const auto window = mapData_->GetWindow();
    if (!window) {
        return Missing("shared map");
    }
    ChunkDigests actual;
    if (mapData_->fileData && mapData_->fileData->IsChunkZero(mapData_->lowerBound)) {
        // Nothing has been written here since the open step zeroed the file:
        // the same answer as reading the pages, without touching them.
        actual = mapData_->ZeroDigests();
    } else if (const auto written = mapData_->WrittenDigests()) {
        // A request has just written every byte of the chunk: their digests
        // were taken on the way in.
        actual = *written;
    } else {
        actual = mapData_->ReadDigests(*window);
    }
    if (mapData_->Matches(actual)) {
        mapData_->SettleProgress();
        return WorkStatus(WorkResult::Success, nullptr);
    }
    mapData_->ResetProgress(*window);
    return WorkStatus(WorkResult::Failure,
                      std::make_shared<ChecksumStatusData>(transfer_->GetParams().transferId, mapData_, actual.checksum,
                                                           actual.sha256));
}

WorkStatus ReleaseChunkMapWork::Step() {
    const auto window = mapData_->GetWindow();
    if (!window) {
        return Missing("shared map");
    }
    const bool readOnly = mapData_->fileData && mapData_->fileData->IsReadOnly();
    const bool isCache = dynamic_cast<file::SequentialWriteCache*>(window.get()) != nullptr;
    if (isCache || (!readOnly && !transfer_->GetParams().preallocate)) {
        window->Flush();
    }
    mapData_->TakeWindow();
    return WorkStatus(WorkResult::Success, nullptr);
}

}  // namespace vrexa
