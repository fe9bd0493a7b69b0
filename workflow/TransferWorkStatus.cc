#include "workflow/TransferWorkStatus.h"

#include <memory>

#include "transfer/TransferFileExceptionData.h"
#include "transfer/TransferStatusData.h"

namespace vrexa {

WorkStatus TransferErrorStatus(WorkResult result, TransferError error, std::string message) {
    return WorkStatus(result, std::make_shared<TransferErrorData>(error, std::move(message)));
}

WorkStatus FileFailureStatus(std::exception_ptr exception) {
    auto data = std::make_shared<TransferFileExceptionData>(std::move(exception));
    return WorkStatus(data->retryable ? WorkResult::RetryableError : WorkResult::FatalError, data);
}

}  // namespace vrexa
