#include "work/WorkStatusData.h"

#include <stdexcept>
#include <typeinfo>

#include <boost/core/demangle.hpp>
#include <boost/property_tree/ptree.hpp>

namespace vrexa {

namespace {
constexpr const char* kUnknownExceptionType = "Unknown exception type";
}  // namespace

std::string WorkStatusData::ToString() const { return std::string(); }

WorkErrorData::WorkErrorData(std::string errorMessage) : errorMessage_(std::move(errorMessage)) {}

void WorkErrorData::Describe(boost::property_tree::ptree& tree) const { tree.put("errorMessage", errorMessage_); }

std::string WorkErrorData::ToString() const { return errorMessage_; }

std::string ExceptionTypeName(const std::exception& e) { return boost::core::demangle(typeid(e).name()); }

WorkExceptionData::WorkExceptionData(std::exception_ptr exception) : exception_(std::move(exception)) {}

void WorkExceptionData::Rethrow() const {
    if (!exception_) {
        throw std::logic_error("WorkExceptionData::Rethrow called with no exception_ptr");
    }
    std::rethrow_exception(exception_);
}

void WorkExceptionData::Describe(boost::property_tree::ptree& tree) const {
    // An empty holder describes itself like any exception of unknown type
    // rather than throwing out of a log or analytics writer.
    if (!exception_) {
        tree.put("exception", kUnknownExceptionType);
        return;
    }
    try {
        std::rethrow_exception(exception_);
    } catch (const std::exception& e) {
        tree.put("exception", ExceptionTypeName(e));
        tree.put("what", e.what());
    } catch (...) {
        tree.put("exception", kUnknownExceptionType);
    }
}

std::string WorkExceptionData::ToString() const {
    if (!exception_) {
        return kUnknownExceptionType;
    }
    try {
        std::rethrow_exception(exception_);
    } catch (const std::exception& e) {
        return ExceptionTypeName(e);
    } catch (...) {
        return kUnknownExceptionType;
    }
}

}  // namespace vrexa
