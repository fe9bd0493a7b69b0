#include "transfer/TransferStatusData.h"

#include <utility>

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

std::string TransferErrorText(TransferError error) { return std::to_string(static_cast<unsigned>(error)); }

TransferErrorData::TransferErrorData(TransferError error, std::string message)
    : WorkErrorData(std::move(message)), error_(error) {}

void TransferErrorData::Describe(boost::property_tree::ptree& tree) const {
    tree.put("transferError", TransferErrorText(error_));
    WorkErrorData::Describe(tree);
}

std::string TransferErrorData::ToString() const { return "error|" + TransferErrorText(error_) + "|" + errorMessage_; }

TransferExceptionData::TransferExceptionData(TransferError error, std::exception_ptr exception)
    : WorkExceptionData(std::move(exception)), error_(error) {}

void TransferExceptionData::Describe(boost::property_tree::ptree& tree) const {
    tree.put("transferError", TransferErrorText(error_));
    WorkExceptionData::Describe(tree);
}

std::string TransferExceptionData::ToString() const {
    // Summaries run on log and analytics threads: never throw from here.
    std::string text = "Unknown exception type";
    if (exception_) {
        try {
            std::rethrow_exception(exception_);
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
        }
    }
    return "error|" + TransferErrorText(error_) + "|" + text;
}

}  // namespace vrexa
