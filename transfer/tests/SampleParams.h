#pragma once

#include "transfer/TransferParams.h"

namespace vrexa::testing {

// Params with every identifier given, as a started transfer has them.
inline TransferParams SampleParams() {
    TransferParams params;
    params.transferId = "0123456789abcdef0123456789abcdef";
    params.partnerId = "N7";
    params.packageId = "P1";
    params.versionId = "42";
    params.destPath = "/data/demo";
    return params;
}

}  // namespace vrexa::testing
