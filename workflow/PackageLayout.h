#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vrexa {

class PackageManifest;
class TransferErrorData;

// A file path of a manifest as the file system will see it under the
// destination: leading "/" stripped, empty and "." segments dropped ("a//b",
// "./a/./b" and "/a/b" are all "a/b").
std::string NormalizeFilePath(std::string_view path);

// Why the package's files cannot be laid out in one destination folder, or
// nothing when they can. Two entries naming one file would be created and
// counted twice by works running at once; a path that is also the folder of
// another can never hold both; a path naming the destination folder itself is
// no file; and a total size that wraps 64 bits defeats every size check.
std::optional<std::string> FindLayoutConflict(const PackageManifest& package);

// What a construction step named by operation ("SomeWork::ExecuteTask")
// reports for a package with a layout conflict: the server sent a package
// that cannot be downloaded, so the request counts as rejected. Null when the
// layout is sound or there is no package (the step's own checks see to that).
std::shared_ptr<TransferErrorData> RefuseLayout(const std::shared_ptr<PackageManifest>& package,
                                                const std::string& operation);

}  // namespace vrexa
