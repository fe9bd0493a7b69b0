#pragma once

#include "http/RequestStatus.h"
#include "http/State.h"
#include "transfer/TransferError.h"
#include "transfer/TransferStatus.h"

namespace vrexa {

// The transfer error an HTTP exchange that ended in state reports. Success and
// an abort are no error; states that cannot be a final outcome (Ready,
// Running) and values outside the table are Unknown.
TransferError TransferErrorFromState(http::State state);

// What a failed request tells a person: its URL, response code, and
// libcurl's result and words.
TransferErrorFacts RequestFacts(const http::RequestStatus& status);

}  // namespace vrexa
