#include "transfer/RequestStateError.h"

#include <array>
#include <cstddef>

namespace vrexa {

namespace {

using http::State;

// Indexed by the state's value; a state added later falls outside and is
// Unknown until it is classified here.
constexpr std::array<TransferError, 16> kErrorByState = {
    TransferError::Unknown,          // Ready
    TransferError::Unknown,          // Running
    TransferError::None,             // Succeeded
    TransferError::None,             // Aborted
    TransferError::RequestFailed,    // InvalidRequest
    TransferError::NetworkError,     // ResolveError
    TransferError::NetworkError,     // ConnectError
    TransferError::RequestRejected,  // ClientError
    TransferError::NetworkError,     // ServerError
    TransferError::NetworkError,     // TransmitError
    TransferError::FileWriteError,   // WriteError
    TransferError::RequestRejected,  // RangeError
    TransferError::NetworkError,     // Timeout
    TransferError::OutOfMemory,      // OutOfMemory
    TransferError::RequestFailed,    // OtherError
    TransferError::NetworkError,     // SecurityError
};

static_assert(static_cast<std::size_t>(State::SecurityError) + 1 == kErrorByState.size());

}  // namespace

TransferError TransferErrorFromState(State state) {
    const auto index = static_cast<std::size_t>(state);
    return index < kErrorByState.size() ? kErrorByState[index] : TransferError::Unknown;
}

TransferErrorFacts RequestFacts(const http::RequestStatus& status) {
    TransferErrorFacts facts;
    facts.url = status.url;
    facts.httpStatus = status.responseCode;
    facts.curlCode = status.curlCode;
    facts.curlError = status.errorDetail;
    return facts;
}

}  // namespace vrexa
