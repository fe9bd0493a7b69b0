#include <gtest/gtest.h>

#include "transfer/RequestStateError.h"

namespace vrexa {
namespace {

using http::State;

TEST(RequestStateErrorTest, EveryStateMapsToItsTransferError) {
    const struct {
        int state;
        TransferError error;
    } cases[] = {
        {0, TransferError::Unknown},           // Ready: never a final outcome
        {1, TransferError::Unknown},           // Running
        {2, TransferError::None},              // Succeeded
        {3, TransferError::None},              // Aborted
        {4, TransferError::RequestFailed},     // InvalidRequest
        {5, TransferError::NetworkError},      // ResolveError
        {6, TransferError::NetworkError},      // ConnectError
        {7, TransferError::RequestRejected},   // ClientError
        {8, TransferError::NetworkError},      // ServerError
        {9, TransferError::NetworkError},      // TransmitError
        {10, TransferError::FileWriteError},   // WriteError
        {11, TransferError::RequestRejected},  // RangeError
        {12, TransferError::NetworkError},     // Timeout
        {13, TransferError::OutOfMemory},      // OutOfMemory
        {14, TransferError::RequestFailed},    // OtherError
        {15, TransferError::NetworkError},     // SecurityError
        {16, TransferError::Unknown},          // beyond the table
        {255, TransferError::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TransferErrorFromState(static_cast<State>(c.state)), c.error) << "state " << c.state;
    }
}

}  // namespace
}  // namespace vrexa
