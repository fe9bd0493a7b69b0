#pragma once

#include <cstdint>
#include <filesystem>
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

// Publishes one package version (or, with nodesOnly, a node list) into
// options.outputDir. Everything is checked before anything is written, then
// staged in a temporary folder inside the output folder and moved into place;
// the current manifest is moved last so that it never names files that are
// not there yet. A failure part way rolls back what was already moved.
PublishResult Publish(const PublishOptions& options);

}  // namespace vrexa::publish
