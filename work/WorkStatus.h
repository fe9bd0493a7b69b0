#pragma once

#include <memory>

#include "work/WorkDescriptor.h"
#include "work/WorkResult.h"
#include "work/WorkStatusData.h"

namespace vrexa {

// The outcome of one run of a work. The default value, (FatalError, no data),
// stands for an outcome not reached yet, so that forgetting to set one is
// never mistaken for success.
class WorkStatus : public WorkDescriptor {
public:
    WorkStatus() = default;
    WorkStatus(WorkResult result, std::shared_ptr<WorkStatusData> data) : result(result), data(std::move(data)) {}

    WorkStatus(const WorkStatus&) = default;
    WorkStatus(WorkStatus&&) = default;
    WorkStatus& operator=(const WorkStatus&) = default;
    WorkStatus& operator=(WorkStatus&&) = default;

    // Neither Cancelled nor RetryableError.
    bool IsFinal() const { return IsFinalResult(result); }

    // "result" (decimal), "retry" ("true"/"false") and, only when there is
    // data, the child object "data".
    void Describe(boost::property_tree::ptree& tree) const override;

    WorkResult result = WorkResult::FatalError;
    // True when the work that produced this status is being run again in place.
    bool retry = false;
    std::shared_ptr<WorkStatusData> data;
};

}  // namespace vrexa
