#pragma once

#include <memory>

#include "file/SharedFile.h"
#include "work/SimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class TransferSharedFileData;

// A simple step on one output file: describes itself with its name, the
// transfer's id and the file's keys, and logs completions on the route its
// table entry names.
class FileStepWork : public TransferWork, public SimpleWork {
public:
    FileStepWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedFileData> fileData,
                 const char* name, bool milestone);

    void Describe(boost::property_tree::ptree& tree) const override;
    void OnCancel() override {}

    const std::shared_ptr<TransferSharedFileData>& GetFileData() const { return fileData_; }

protected:
    const std::shared_ptr<TransferSharedFileData> fileData_;

private:
    const char* const name_;
};

// Opens the output file and gives it its final size, deciding what becomes
// of a file an earlier attempt left behind:
//
//   found on disk            preallocate             not preallocate
//   nothing                  created, extended       created empty
//   size equal               kept untouched          kept untouched
//   empty                    extended                kept
//   shorter, not empty       re-created, extended    kept (resumed)
//   longer                   re-created, extended    re-created empty
//
// A program this step opens for writing (the run file, or a file the platform
// takes for a program) is marked as not executable, when the settings allow
// execution at all, until every chunk of the package has passed its check.
class OpenAndAllocateFileWork : public FileStepWork {
public:
    OpenAndAllocateFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                            std::shared_ptr<TransferSharedFileData> fileData);
    WorkStatus ExecuteTask() override;

private:
    std::shared_ptr<file::SharedFile> Open(bool mayRecreate);
    // Whether the file is a program whose execution this transfer grants at
    // the end (and so may take away while writing it).
    bool IsProgram();
    void DenyExecute(file::SharedFile& file);
};

// Opens a file that must already exist with the manifest's size, for reading
// only: checking a package in place never changes a byte of it.
class OpenExistingFileWork : public FileStepWork {
public:
    OpenExistingFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                         std::shared_ptr<TransferSharedFileData> fileData);
    WorkStatus ExecuteTask() override;
};

// Lets go of the file; the handle closes with its last holder.
class CloseFileWork : public FileStepWork {
public:
    CloseFileWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedFileData> fileData);
    WorkStatus ExecuteTask() override;
};

// Decides whether output files are preallocated: not on a USB drive.
class CheckPreallocateWork : public TransferWork, public SimpleWork {
public:
    explicit CheckPreallocateWork(std::shared_ptr<TransferWorkInterface> transfer);

    // "name", "transferId", then "preallocate" ("true"/"false").
    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}
};

}  // namespace vrexa
