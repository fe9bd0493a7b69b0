#pragma once

#include <string>

#include "transfer/ManifestStoreImpl.h"

namespace vrexa {

namespace file {
class Filesystem;
}  // namespace file

// One file per id, named FileName(id), in folder under the temporary-files
// folder. Stored files are small records: one larger than the stored-transfer
// limit is refused when read.
//
// A file is created whole or not at all: Store writes a temporary file beside
// it, syncs it and links it to its name, so a crash or a full disk never
// leaves a truncated record that could neither be read nor written again.
// The link fails when the name exists, so the first writer of an id wins.
//
// The store has no lock: different ids use different files, and creating a
// file by linking is atomic.
class TempFileManifestStoreImpl : public ManifestStoreImpl {
public:
    TempFileManifestStoreImpl(std::string folder, file::Filesystem& filesystem);

    // The whole file into stream; ManifestStreamException when it cannot be
    // read, and ManifestLocatorException for an id that is not a transfer id
    // or without a temporary-files folder.
    void Fetch(const std::string& id, std::iostream& stream) override;
    // The whole stream into a new file; ManifestStreamException when the file
    // exists or cannot be written, ManifestLocatorException as for Fetch.
    void Store(std::iostream& stream, const std::string& id) override;
    // Removes the file and prunes the folders left empty; false when there
    // was nothing to remove or it failed.
    bool Remove(const std::string& id);

    virtual std::string FileName(const std::string& id) = 0;

    const std::string& GetFolder() const { return folder_; }

private:
    // The temporary-files folder, never empty: an empty one would make every
    // path relative to the working directory.
    std::string TempFolder();
    // folder joined with FileName(id), for a valid id only.
    std::string RelativePath(const std::string& id);
    void WriteNewFile(const std::string& base, const std::string& relative, const std::string& content);

    const std::string folder_;
    file::Filesystem& filesystem_;
};

}  // namespace vrexa
