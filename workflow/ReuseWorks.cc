#include "workflow/ReuseWorks.h"

#include <algorithm>
#include <exception>
#include <unordered_set>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "file/Exception.h"
#include "file/Filesystem.h"
#include "file/MemoryMappedData.h"
#include "file/ReadOnlyFile.h"
#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"
#include "manifest/FileManifest.h"
#include "manifest/PackageManifest.h"
#include "manifest/UrlParts.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"
#include "work/NoOpWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/ReuseIndex.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/TransferWorkStatus.h"

namespace vrexa {
namespace {

constexpr std::size_t kCopyBlock = std::size_t{1} << 20;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Whether any package path lies in the old-content folder: then the folder
// cannot be ours, and old files are not moved there.
bool PackageUsesOldContentFolder(const PackageManifest& package) {
    const std::string root = std::string(kOldContentFolder) + "/";
    return std::any_of(package.GetFiles().begin(), package.GetFiles().end(), [&](const auto& file) {
        return file->GetPath() == kOldContentFolder || StartsWith(file->GetPath(), root);
    });
}

std::vector<std::string> ListOrNothing(const std::string& folder) {
    try {
        return file::ListRegularFilesBeneath(folder);
    } catch (const file::Exception&) {
        // A missing or unreadable folder holds nothing to reuse.
        return {};
    }
}

}  // namespace

IndexReuseWork::IndexReuseWork(std::shared_ptr<TransferWorkInterface> transfer) : TransferWork(std::move(transfer)) {
    AddLogCompleteRoute(*this, this->transfer_->GetBehavior(), true);
}

void IndexReuseWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "IndexReuseWork");
    DescribeTransfer(tree, true);
    tree.put("scannedBytes", scannedBytes_.load());
    tree.put("reusableChunks", reusableChunks_.load());
    tree.put("reusableBytes", reusableBytes_.load());
    tree.put("indexBytes", indexBytes_.load());
}

WorkStatus IndexReuseWork::ExecuteTask() {
    transfer_->StoreReusedContent(nullptr);
    const TransferBehavior& behavior = transfer_->GetBehavior();
    const std::shared_ptr<PackageManifest> package = transfer_->GetPackage();
    if (!behavior.reuseOldContent || !package) {
        return WorkStatus(WorkResult::Success, nullptr);
    }
    try {
        const TransferParams params = transfer_->GetParams();
        const std::string& destination = params.destPath;
        auto index = std::make_shared<ReuseIndex>(*package);

        const bool keepAside = !PackageUsesOldContentFolder(*package);
        const std::string oldRoot = std::string(kOldContentFolder) + "/";
        const std::string oldFolder =
            oldRoot + (IsPlainSegment(params.versionId) && params.versionId != "?" ? params.versionId : "current") +
            "/";
        std::unordered_set<std::string> packagePaths;
        for (const auto& file : package->GetFiles())
            packagePaths.insert(file->GetPath());

        const std::vector<std::string> found = ListOrNothing(destination);
        const std::unordered_set<std::string> present(found.begin(), found.end());
        std::vector<std::string> keptAside;
        std::vector<std::string> others;
        for (const std::string& path : found) {
            if (keepAside && StartsWith(path, oldRoot)) {
                keptAside.push_back(path);
            } else if (packagePaths.count(path) == 0) {
                others.push_back(path);
            } else if (keepAside && present.count(oldFolder + path) != 0) {
                // Moved aside by an earlier attempt at this version: what is
                // at the path now is that attempt's new content, which its
                // chunk checks keep where it is right.
                continue;
            } else {
                const std::uint32_t source = index->Scan({destination, path, path});
                if (!keepAside || index->IsInPlace(source)) continue;
                file::MoveBeneath(destination, path, oldFolder + path);
                index->Relocate(source, destination, oldFolder + path);
            }
        }
        for (const std::string& path : keptAside) {
            // The old content of the package path it was moved from: its
            // chunks are anchored at their own offsets, as in place.
            const std::string rest = path.substr(oldRoot.size());
            const auto slash = rest.find('/');
            const std::string packagePath = slash == std::string::npos ? "" : rest.substr(slash + 1);
            index->Scan({destination, path, packagePaths.count(packagePath) ? packagePath : ""});
        }
        for (const std::string& path : others) {
            if (index->AllFound()) break;
            index->Scan({destination, path, ""});
        }
        for (const std::string& folder : behavior.reuseFrom) {
            if (index->AllFound()) break;
            if (behavior.filesystem && behavior.filesystem->IsSamePath(folder, destination)) continue;
            for (const std::string& path : ListOrNothing(folder)) {
                if (index->AllFound()) break;
                index->Scan({folder, path, ""});
            }
        }
        const ReuseIndex::Figures figures = index->GetFigures();
        scannedBytes_ = figures.scannedBytes;
        reusableChunks_ = figures.foundChunks;
        reusableBytes_ = figures.foundBytes;
        indexBytes_ = figures.indexBytes;
        transfer_->StoreReusedContent(std::move(index));
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        // Chiefly a file that could not be moved aside: rewriting it in
        // place would destroy the old version before the new one exists.
        return FileFailureStatus(std::current_exception());
    }
}

RemoveOldContentWork::RemoveOldContentWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(std::move(transfer)) {
    AddLogCompleteRoute(*this, this->transfer_->GetBehavior(), false);
}

void RemoveOldContentWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "RemoveOldContentWork");
    DescribeTransfer(tree, true);
}

WorkStatus RemoveOldContentWork::ExecuteTask() {
    const std::shared_ptr<PackageManifest> package = transfer_->GetPackage();
    file::Filesystem* filesystem = transfer_->GetBehavior().filesystem;
    if (!package || !filesystem || PackageUsesOldContentFolder(*package)) {
        return WorkStatus(WorkResult::Success, nullptr);
    }
    try {
        filesystem->Remove(transfer_->GetParams().destPath, kOldContentFolder, true, false);
    } catch (...) {
        return TransferErrorStatus(WorkResult::Success, TransferError::None,
                                   "RemoveOldContentWork could not remove the old content");
    }
    return WorkStatus(WorkResult::Success, nullptr);
}

WorkStatus ReuseChunkWork::Step() {
    const auto window = mapData_->GetWindow();
    if (!window) {
        return Missing("shared map");
    }
    const auto index = std::dynamic_pointer_cast<ReuseIndex>(transfer_->GetReusedContent());
    const auto location =
        index ? index->Find(mapData_->GetLength(), mapData_->expectedChecksum, mapData_->expectedSha256) : std::nullopt;
    if (!location) {
        return WorkStatus(WorkResult::Failure, nullptr);
    }
    const ReuseIndex::Source& source = index->GetSource(location->source);
    std::unique_ptr<file::ReadOnlyFile> old;
    try {
        old = file::ReadOnlyFile::OpenBeneath(source.folder, source.path);
    } catch (const file::Exception&) {
        return WorkStatus(WorkResult::Failure, nullptr);
    }
    if (!old) {
        return WorkStatus(WorkResult::Failure, nullptr);
    }
    if (mapData_->fileData) {
        mapData_->fileData->MarkChunkWritten(mapData_->lowerBound);
    }
    mapData_->ResetProgress(*window);
    const std::uint64_t length = mapData_->GetLength();
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyBlock)));
    ChunkDigests copied;
    std::optional<ChunkSha256> hash;
    if (mapData_->expectedSha256) hash.emplace();
    bool complete = true;
    for (std::uint64_t done = 0; done < length && complete;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - done));
        try {
            complete = old->ReadAt(block.data(), piece, location->offset + done);
        } catch (const file::Exception&) {
            complete = false;
        }
        if (!complete) break;
        if (window->Write(block.data(), piece) != piece) {
            complete = false;
            break;
        }
        copied.checksum = ChunkChecksum(block.data(), piece, copied.checksum);
        if (hash) hash->Update(block.data(), piece);
        done += piece;
    }
    if (hash) copied.sha256 = hash->Finish();
    // The same test a downloaded chunk passes, on the bytes as written.
    if (complete && mapData_->Matches(copied)) {
        mapData_->SettleProgress();
        if (mapData_->progress) mapData_->progress->AddReused(length);
        return WorkStatus(WorkResult::Success, nullptr);
    }
    mapData_->ResetProgress(*window);
    return WorkStatus(WorkResult::Failure, nullptr);
}

ReuseOrDownloadChunkWork::ReuseOrDownloadChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                   std::shared_ptr<TransferSharedMapData> mapData,
                                                   std::shared_ptr<Work> download)
    : TransferWork(transfer), mapData_(mapData) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
    SetCondition(std::make_shared<ReuseChunkWork>(transfer, mapData));
    SetOnSuccess(std::make_shared<NoOpWork>());
    SetOnFailure(std::move(download));
}

void ReuseOrDownloadChunkWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "ReuseOrDownloadChunkWork");
    DescribeTransfer(tree, true);
    mapData_->Describe(tree);
}

}  // namespace vrexa
