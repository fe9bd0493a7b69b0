#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/publish/ManifestDocuments.h"
#include "tools/publish/PublishOptions.h"

namespace vrexa::publish {

// Input that cannot be published correctly, or a failure while publishing.
// The text is meant for the person running the publisher. Whenever it is
// thrown, the output folder is as it was before.
class PublishError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PublishResult {
    std::vector<PublishedFile> files;  // in manifest order
    std::uint64_t totalBytes = 0;
    // What was written or replaced, relative to the output folder.
    std::vector<std::filesystem::path> written;
};

// Called after each step that changes what is on the disk ("scanned",
// "staged", "moved <path>"), so that a test can stop or kill the publisher
// between any two of them.
using StepObserver = std::function<void(const std::string& step)>;

// Publishes one package version (or, with nodesOnly, a node list; with
// setCurrent, only a new current manifest) into options.outputDir.
// Everything is checked before anything is written, then staged in a
// temporary folder inside the output folder and moved into place one rename
// at a time: files before the manifests that name them, the current manifest
// last. Killed at any moment, the output folder holds only complete
// manifests naming complete files; a failure part way rolls back what was
// already moved. Files of a published version are never changed. One run at
// a time per output folder (a lock on the folder); the next run removes what
// a killed one left in its temporary folder.
PublishResult Publish(const PublishOptions& options, const StepObserver& observer = {});

}  // namespace vrexa::publish
