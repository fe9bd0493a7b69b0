#include "workflow/PackageLayout.h"

#include <cstdint>
#include <limits>
#include <unordered_set>
#include <vector>

#include "manifest/PackageManifest.h"
#include "transfer/TransferStatusData.h"

namespace vrexa {

std::string NormalizeFilePath(std::string_view path) {
    std::string normalized;
    normalized.reserve(path.size());
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (segment.empty() || segment == ".") {
            continue;
        }
        if (!normalized.empty()) {
            normalized += '/';
        }
        normalized += segment;
    }
    return normalized;
}

std::optional<std::string> FindLayoutConflict(const PackageManifest& package) {
    std::unordered_set<std::string> files;
    std::vector<std::string> ordered;
    std::uint64_t total = 0;
    for (const auto& file : package.GetFiles()) {
        std::string path = NormalizeFilePath(file->GetPath());
        if (path.empty()) {
            return "no file is named by " + file->GetPath();
        }
        if (!files.insert(path).second) {
            return "one file is named twice, as " + file->GetPath();
        }
        ordered.push_back(std::move(path));
        if (file->GetSize() > std::numeric_limits<std::uint64_t>::max() - total) {
            return "the total size exceeds 64 bits";
        }
        total += file->GetSize();
    }
    // Every folder on the way to a file must not be a file itself.
    for (const std::string& path : ordered) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            if (files.count(path.substr(0, slash)) != 0) {
                return "one path is both a file and a folder: " + path.substr(0, slash);
            }
        }
    }
    return std::nullopt;
}

std::shared_ptr<TransferErrorData> RefuseLayout(const std::shared_ptr<PackageManifest>& package,
                                                const std::string& operation) {
    if (!package) {
        return nullptr;
    }
    std::optional<std::string> conflict = FindLayoutConflict(*package);
    if (!conflict) {
        return nullptr;
    }
    return std::make_shared<TransferErrorData>(TransferError::RequestRejected,
                                               operation + " refused the package: " + *conflict);
}

}  // namespace vrexa
