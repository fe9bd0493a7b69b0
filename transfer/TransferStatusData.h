#pragma once

#include <exception>
#include <string>

#include <boost/property_tree/ptree_fwd.hpp>

#include "transfer/TransferError.h"
#include "transfer/TransferStatus.h"
#include "work/WorkStatusData.h"

namespace vrexa {

// Status data that knows which transfer error it stands for. The generic work
// data is a virtual base, so one object can be both a transfer error and a
// work error or exception.
class TransferStatusData : public virtual WorkStatusData {
public:
    virtual TransferError ToTransferError() const = 0;
    // What went wrong, for a person reading a status: the summary unless the
    // data can say more (which file, which chunk).
    virtual std::string Explain() const { return ToString(); }
    // The same, as separate facts (the URL, the HTTP status, the file), for a
    // program that words its own message; empty where the data has none.
    virtual TransferErrorFacts Facts() const { return {}; }
};

// A transfer error described by a message.
class TransferErrorData : public TransferStatusData, public WorkErrorData {
public:
    TransferErrorData(TransferError error, std::string message);

    TransferError ToTransferError() const override { return error_; }
    // "transferError" (decimal), then the message.
    void Describe(boost::property_tree::ptree& tree) const override;
    // "error|<value>|<message>".
    std::string ToString() const override;

private:
    TransferError error_;
};

// A transfer error carried as a caught exception.
class TransferExceptionData : public TransferStatusData, public WorkExceptionData {
public:
    TransferExceptionData(TransferError error, std::exception_ptr exception);

    TransferError ToTransferError() const override { return error_; }
    // "transferError" (decimal), then the exception's type name and text.
    void Describe(boost::property_tree::ptree& tree) const override;
    // "error|<value>|<the exception's text>".
    std::string ToString() const override;

private:
    TransferError error_;
};

// Decimal text of an error value, as descriptions and summaries write it.
std::string TransferErrorText(TransferError error);

}  // namespace vrexa
