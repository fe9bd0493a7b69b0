#include "transfer/TransferStatus.h"

namespace vrexa {

bool TransferStatus::IsFinal() const {
    switch (state) {
        case TransferState::None:
        case TransferState::Suspended:
        case TransferState::Complete:
        case TransferState::Cancelled:
            return true;
        default:
            return error != TransferError::None && !retrying;
    }
}

}  // namespace vrexa
