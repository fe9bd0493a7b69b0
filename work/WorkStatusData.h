#pragma once

#include <string>

#include "work/WorkDescriptor.h"

namespace vrexa {

// The payload attached to a work's outcome. Derived data inherits it
// virtually, so a transfer-specific kind can also be one of the generic kinds
// below without holding two bases.
class WorkStatusData : public WorkDescriptor {
public:
    // A one-line summary for analytics and logs.
    virtual std::string ToString() const;
};

}  // namespace vrexa

// Readers of status data nearly always look at the two generic kinds too.
#include "work/WorkErrorData.h"
#include "work/WorkExceptionData.h"
