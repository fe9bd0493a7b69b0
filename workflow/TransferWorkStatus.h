#pragma once

#include <exception>
#include <string>

#include "transfer/TransferError.h"
#include "work/WorkStatus.h"

namespace vrexa {

// The outcomes a transfer work reports, with the data that says what failed.

// result with a TransferErrorData(error, message).
WorkStatus TransferErrorStatus(WorkResult result, TransferError error, std::string message);

// A failure caught in a file or chunk step: RetryableError when the file
// layer's classification says it may heal (in use, inaccessible, full disk),
// FatalError otherwise; the data is a TransferFileExceptionData.
WorkStatus FileFailureStatus(std::exception_ptr exception);

}  // namespace vrexa
