#pragma once

#include <exception>
#include <string>

#include "work/WorkStatusData.h"

namespace vrexa {

// An error carried as the exception that escaped a task.
class WorkExceptionData : public virtual WorkStatusData {
public:
    explicit WorkExceptionData(std::exception_ptr exception);

    const std::exception_ptr& GetException() const { return exception_; }

    // Throws the stored exception; std::logic_error when there is none.
    [[noreturn]] void Rethrow() const;

    // "exception" = the exception's type name and "what" = its text; for an
    // exception that is not a std::exception only "exception" = "Unknown
    // exception type".
    void Describe(boost::property_tree::ptree& tree) const override;
    // The type name, or "Unknown exception type".
    std::string ToString() const override;

protected:
    std::exception_ptr exception_;
};

// The readable run-time type name of an exception object.
std::string ExceptionTypeName(const std::exception& e);

}  // namespace vrexa
