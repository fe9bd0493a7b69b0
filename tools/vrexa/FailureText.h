#pragma once

#include <string>

#include "tools/vrexa/ExitCode.h"
#include "transfer/TransferStatus.h"

namespace vrexa::cli {

// What the user asked for, so that a failure can name it.
struct FailureContext {
    bool verify = false;
    std::string dest;  // the destination folder, when known
};

// A failure as a person reads it and a script tells it apart.
struct FailureReport {
    std::string sentence;  // one sentence, without "vrexa: " and the line end
    ExitCode exitCode = kExitFailed;
};

// The one table from the engine's error and its facts (URL, HTTP status,
// libcurl's result and words, the file and chunk) to the sentence the user
// reads and the exit code: "package "k1" has no version "v9" at
// http://h/manifests/k1/v9.xml (HTTP 404)", "cannot resolve host h".
// The engine's status text is not shown here: it is for logs and --verbose.
FailureReport DescribeFailure(const TransferStatus& status, const FailureContext& context);

// "[RequestRejected] error|manifest|1|7|libcurl error 22 (HTTP 404); libcurl
// error 22: The requested URL returned error: 404": the engine's own words, for
// --verbose.
std::string RawFailure(const TransferStatus& status);

}  // namespace vrexa::cli
