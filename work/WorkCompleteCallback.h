#pragma once

#include <memory>

namespace vrexa {

class Work;
class WorkStatus;

// Told of every outcome of a work, final or not. Called on the worker thread
// that produced the outcome, so implementations must be thread-safe.
class WorkCompleteCallback {
public:
    virtual ~WorkCompleteCallback() = default;
    virtual void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) = 0;
};

}  // namespace vrexa
