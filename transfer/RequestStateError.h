#pragma once

#include "http/State.h"
#include "transfer/TransferError.h"

namespace vrexa {

// The transfer error an HTTP exchange that ended in state reports. Success and
// an abort are no error; states that cannot be a final outcome (Ready,
// Running) and values outside the table are Unknown.
TransferError TransferErrorFromState(http::State state);

}  // namespace vrexa
