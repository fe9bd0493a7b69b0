#include "transfer/TransferFileExceptionData.h"

#include <new>
#include <utility>

#include "file/Exception.h"

namespace vrexa {

TransferFileExceptionData::Classification TransferFileExceptionData::Classify(const std::exception_ptr& exception) {
    if (!exception) {
        return {TransferError::Unknown, false};
    }
    // The order matters: the first matching type wins.
    try {
        std::rethrow_exception(exception);
    } catch (const file::BadPathException&) {
        return {TransferError::FileAccessError, false};
    } catch (const file::NotFoundException&) {
        return {TransferError::FileAccessError, false};
    } catch (const file::InUseException&) {
        return {TransferError::FileAccessError, true};
    } catch (const file::InaccessibleException&) {
        return {TransferError::FileAccessError, true};
    } catch (const file::InsufficientSpaceException&) {
        return {TransferError::InsufficientSpace, true};
    } catch (const file::OutOfBoundsException&) {
        return {TransferError::Unknown, false};
    } catch (const file::Exception&) {
        return {TransferError::FileWriteError, false};
    } catch (const std::bad_alloc&) {
        return {TransferError::OutOfMemory, false};
    } catch (...) {
        return {TransferError::Unknown, false};
    }
}

TransferFileExceptionData::TransferFileExceptionData(std::exception_ptr exception)
    : TransferFileExceptionData(exception, Classify(exception)) {}

TransferFileExceptionData::TransferFileExceptionData(std::exception_ptr exception, Classification classification)
    : TransferExceptionData(classification.error, std::move(exception)), retryable(classification.retryable) {}

TransferErrorFacts TransferFileExceptionData::Facts() const {
    TransferErrorFacts facts;
    const std::exception_ptr exception = GetException();
    if (!exception) return facts;
    using Fault = TransferErrorFacts::FileFault;
    try {
        std::rethrow_exception(exception);
    } catch (const file::BadPathException&) {
        facts.fileFault = Fault::BadPath;
    } catch (const file::NotFoundException&) {
        facts.fileFault = Fault::Missing;
    } catch (const file::InUseException&) {
        facts.fileFault = Fault::Busy;
    } catch (const file::InaccessibleException&) {
        facts.fileFault = Fault::NoAccess;
    } catch (...) {
    }
    return facts;
}

}  // namespace vrexa
