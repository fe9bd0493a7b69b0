#pragma once

#include <string>

#include "work/WorkStatusData.h"

namespace vrexa {

// An error told in words. Messages of the engine's own logic errors name the
// class and operation that failed ("AllowExecuteWork::ExecuteTask has no package").
class WorkErrorData : public virtual WorkStatusData {
public:
    explicit WorkErrorData(std::string errorMessage);

    const std::string& GetErrorMessage() const { return errorMessage_; }

    // "errorMessage" = the message.
    void Describe(boost::property_tree::ptree& tree) const override;
    std::string ToString() const override;

protected:
    std::string errorMessage_;
};

}  // namespace vrexa
