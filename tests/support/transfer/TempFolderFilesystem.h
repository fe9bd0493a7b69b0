#pragma once

#include <string>
#include <utility>

#include "file/posix/FilesystemImpl.h"

namespace vrexa::testsupport {

// The real file system with its temporary-files folder moved into a test
// folder, so that stores and logs under it stay inside the test.
class TempFolderFilesystem : public file::posix::FilesystemImpl {
public:
    explicit TempFolderFilesystem(std::string tempFolder) : tempFolder_(std::move(tempFolder)) {}
    std::string GetTempFolder() override { return tempFolder_; }

private:
    std::string tempFolder_;
};

}  // namespace vrexa::testsupport
