#pragma once

#include <exception>

#include "transfer/TransferStatusData.h"

namespace vrexa {

// A failure caught in a file work, classified into the transfer error the
// user sees and whether the file work may try again (a busy or locked file,
// a full disk) rather than give up.
class TransferFileExceptionData : public TransferExceptionData {
public:
    struct Classification {
        TransferError error;
        bool retryable;
    };
    static Classification Classify(const std::exception_ptr& exception);

    explicit TransferFileExceptionData(std::exception_ptr exception);

    // What kind of trouble the file met (the file itself is not known here).
    TransferErrorFacts Facts() const override;

    const bool retryable;

private:
    TransferFileExceptionData(std::exception_ptr exception, Classification classification);
};

}  // namespace vrexa
