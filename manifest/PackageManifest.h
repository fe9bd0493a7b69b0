#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "manifest/FileManifest.h"
#include "manifest/InputManifest.h"

namespace vrexa {

// One version of a package: its identifiers, its files, the file to run and the
// countries it may be downloaded in. Read-only once it has been read.
class PackageManifest : public InputManifest {
public:
    using Files = std::vector<std::shared_ptr<FileManifest>>;

    virtual const std::string& GetId() const = 0;
    virtual const std::string& GetName() const = 0;
    virtual const std::string& GetPartnerId() const = 0;
    virtual const std::string& GetVersionId() const = 0;
    virtual bool IsActive() const = 0;
    // Every file, in document order.
    virtual const Files& GetFiles() const = 0;
    // The files whose path equals GetRun(), and all the others, each in document order.
    virtual const Files& GetRunFiles() const = 0;
    virtual const Files& GetOtherFiles() const = 0;
    virtual const std::string& GetRun() const = 0;
    // The (last) file whose path equals GetRun(); null when GetRun() is empty.
    virtual std::shared_ptr<FileManifest> GetRunFile() const = 0;
    virtual bool IsCountryAllowed(const std::string& countryCode) const = 0;

    // The sum of the sizes of every file.
    std::uint64_t GetTotalSize() const;
};

}  // namespace vrexa
