#include "workflow/FileWorks.h"

#include <boost/property_tree/ptree.hpp>

#include "file/Exception.h"
#include "file/Filesystem.h"
#include "manifest/PackageManifest.h"
#include "transfer/TransferFileExceptionData.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/LogRoutes.h"
#include "workflow/ProgramFile.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferWorkStatus.h"

namespace vrexa {

namespace {

// Status data as the file works report it, with the facts that name the file
// added; the status strings logs and analytics know stay as they are.
template <typename Base>
class WithFileFacts : public Base {
public:
    template <typename... Args>
    explicit WithFileFacts(TransferErrorFacts facts, Args&&... args)
        : Base(std::forward<Args>(args)...), facts_(std::move(facts)) {}
    TransferErrorFacts Facts() const override { return facts_; }

private:
    TransferErrorFacts facts_;
};

}  // namespace

FileStepWork::FileStepWork(std::shared_ptr<TransferWorkInterface> transfer,
                           std::shared_ptr<TransferSharedFileData> fileData, const char* name, bool milestone)
    : TransferWork(std::move(transfer)), fileData_(std::move(fileData)), name_(name) {
    AddLogCompleteRoute(*this, this->transfer_->GetBehavior(), milestone);
}

void FileStepWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", name_);
    DescribeTransfer(tree, true);
    fileData_->Describe(tree);
}

OpenAndAllocateFileWork::OpenAndAllocateFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                 std::shared_ptr<TransferSharedFileData> fileData)
    : FileStepWork(std::move(transfer), std::move(fileData), "OpenAndAllocateFileWork", true) {}

WorkStatus OpenAndAllocateFileWork::ExecuteTask() {
    try {
        fileData_->SetFile(Open(true));
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        return FileFailureStatus(std::current_exception());
    }
}

bool OpenAndAllocateFileWork::IsProgram() {
    try {
        return transfer_->GetBehavior().allowExecute && IsProgramFile(*transfer_, fileData_->filePath);
    } catch (...) {
        return false;
    }
}

void OpenAndAllocateFileWork::DenyExecute(file::SharedFile& file) {
    try {
        if (IsProgram()) {
            file.DenyExecute();
        }
    } catch (...) {
        // The mark is a precaution; a file that cannot carry it still downloads.
    }
}

std::shared_ptr<file::SharedFile> OpenAndAllocateFileWork::Open(bool mayRecreate) {
    const TransferParams params = transfer_->GetParams();
    file::Filesystem& filesystem = *transfer_->GetBehavior().filesystem;
    const std::uint64_t size = fileData_->fileSize;
    const std::uint64_t upper = size == 0 ? 0 : size - 1;
    std::shared_ptr<file::SharedFile> file =
        filesystem.OpenSharedFile(params.destPath, fileData_->filePath, file::OpenMode::OpenOrCreate, true, 0, upper);
    const std::uint64_t current = file->GetSize();
    if (current == size) {
        fileData_->SetZeroFilled(false);
        // Kept as found, and untouched if every chunk is right; but a
        // program that is about to be rewritten must not run half old, half
        // new: execution goes before the first chunk request writes into it.
        if (IsProgram()) {
            fileData_->DenyExecuteBeforeWriting();
        }
        return file;
    }
    if (params.preallocate) {
        if (file->Preallocate(size)) {
            fileData_->SetZeroFilled(true);
            DenyExecute(*file);
            return file;
        }
    } else if (current == 0) {
        // Every chunk lies beyond the end: its write cache starts as zeros.
        fileData_->SetZeroFilled(true);
        DenyExecute(*file);
        return file;
    } else if (current < size) {
        // Resumed: it grows from here, so a program stops being runnable now.
        fileData_->SetZeroFilled(false);
        DenyExecute(*file);
        return file;
    }
    file.reset();
    if (!mayRecreate) {
        throw file::InUseException();
    }
    filesystem.RemoveAndPrune(params.destPath, fileData_->filePath, true);
    return Open(false);
}

OpenExistingFileWork::OpenExistingFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                                           std::shared_ptr<TransferSharedFileData> fileData)
    : FileStepWork(std::move(transfer), std::move(fileData), "OpenExistingFileWork", true) {
    fileData_->SetReadOnly(true);
}

WorkStatus OpenExistingFileWork::ExecuteTask() {
    std::exception_ptr notMatching;
    TransferErrorFacts::FileFault fault = TransferErrorFacts::FileFault::Unreadable;
    try {
        const std::uint64_t size = fileData_->fileSize;
        std::shared_ptr<file::SharedFile> file = transfer_->GetBehavior().filesystem->OpenSharedFile(
            transfer_->GetParams().destPath, fileData_->filePath, file::OpenMode::OpenExistingReadOnly, true, 0,
            size == 0 ? 0 : size - 1);
        if (const std::uint64_t found = file->GetSize(); found != size) {
            TransferErrorFacts facts;
            facts.fileFault = TransferErrorFacts::FileFault::WrongSize;
            facts.file = fileData_->filePath;
            facts.fileSize = found;
            facts.expectedSize = size;
            return WorkStatus(WorkResult::FatalError, std::make_shared<WithFileFacts<TransferErrorData>>(
                                                          std::move(facts), TransferError::ChecksumMismatch,
                                                          "OpenExistingFileWork::ExecuteTask: size mismatch"));
        }
        fileData_->SetZeroFilled(false);
        fileData_->SetFile(std::move(file));
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (const file::BadPathException&) {
        notMatching = std::current_exception();
    } catch (const file::NotFoundException&) {
        notMatching = std::current_exception();
        fault = TransferErrorFacts::FileFault::Missing;
    } catch (const file::InaccessibleException&) {
        notMatching = std::current_exception();
    } catch (const file::InsufficientSpaceException&) {
        notMatching = std::current_exception();
    } catch (...) {
        return FileFailureStatus(std::current_exception());
    }
    // A file that cannot be found or opened does not match the package.
    TransferErrorFacts facts;
    facts.fileFault = fault;
    facts.file = fileData_->filePath;
    return WorkStatus(WorkResult::FatalError, std::make_shared<WithFileFacts<TransferExceptionData>>(
                                                  std::move(facts), TransferError::ChecksumMismatch, notMatching));
}

CloseFileWork::CloseFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                             std::shared_ptr<TransferSharedFileData> fileData)
    : FileStepWork(std::move(transfer), std::move(fileData), "CloseFileWork", false) {}

WorkStatus CloseFileWork::ExecuteTask() {
    fileData_->ResetFile();
    return WorkStatus(WorkResult::Success, nullptr);
}

CheckPreallocateWork::CheckPreallocateWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(std::move(transfer)) {
    AddLogCompleteRoute(*this, this->transfer_->GetBehavior(), true);
}

void CheckPreallocateWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "CheckPreallocateWork");
    DescribeTransfer(tree, true);
    tree.put("preallocate", transfer_->GetParams().preallocate ? "true" : "false");
}

WorkStatus CheckPreallocateWork::ExecuteTask() {
    try {
        const std::shared_ptr<file::Volume> volume =
            transfer_->GetBehavior().filesystem->GetVolume(transfer_->GetParams().destPath);
        bool usb = false;
        try {
            usb = volume->IsUsb();
        } catch (const file::InaccessibleException&) {
            // Unknown bus: preallocate, as on any fixed disk, and note it.
            transfer_->SetPreallocate(true);
            return TransferErrorStatus(WorkResult::Success, TransferError::None, "Volume::IsUsb threw an exception");
        }
        transfer_->SetPreallocate(!usb);
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        return FileFailureStatus(std::current_exception());
    }
}

}  // namespace vrexa
