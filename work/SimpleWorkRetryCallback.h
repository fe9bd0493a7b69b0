#pragma once

#include <memory>

namespace vrexa {

class SimpleWork;
class WorkStatus;

// Told when a simple work is about to run its task again at once after a
// RetryableError.
class SimpleWorkRetryCallback {
public:
    virtual ~SimpleWorkRetryCallback() = default;
    virtual void OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) = 0;
};

}  // namespace vrexa
