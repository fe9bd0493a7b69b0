#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "transfer/TransferError.h"
#include "work/WorkStatus.h"

namespace vrexa {

class TransferWorkInterface;
class Work;

// FatalError with a TransferErrorData(error, message).
WorkStatus TransferErrorStatus(WorkResult result, TransferError error, std::string message);

// A failure caught in a file or chunk step: RetryableError when the file
// layer's classification says it may heal (in use, inaccessible, full disk),
// FatalError otherwise; the data is a TransferFileExceptionData.
WorkStatus FileFailureStatus(std::exception_ptr exception);

// Lower-case hexadecimal without prefix or leading zeros ("0" for zero).
std::string HexText(std::uint32_t value);

// The checksum of length zero bytes, computed once per length and kept.
std::uint32_t ZeroChecksum(std::uint64_t length);

}  // namespace vrexa
