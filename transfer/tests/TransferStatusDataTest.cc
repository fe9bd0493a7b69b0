#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "transfer/TransferFileExceptionData.h"
#include "transfer/TransferStatusData.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;

std::vector<std::string> Keys(const ptree& tree) {
    std::vector<std::string> keys;
    for (const auto& [key, child] : tree)
        keys.push_back(key);
    return keys;
}

TEST(TransferErrorDataTest, DescribesTheErrorValueBeforeTheMessage) {
    const TransferErrorData data(TransferError::Unknown, "Transfer::OnInitialize called but nodelist is missing");
    EXPECT_EQ(data.ToTransferError(), TransferError::Unknown);
    ptree tree;
    data.Describe(tree);
    EXPECT_EQ(Keys(tree), (std::vector<std::string>{"transferError", "errorMessage"}));
    EXPECT_EQ(tree.get<std::string>("transferError"), "9");
    EXPECT_EQ(tree.get<std::string>("errorMessage"), "Transfer::OnInitialize called but nodelist is missing");
    EXPECT_EQ(data.ToString(), "error|9|Transfer::OnInitialize called but nodelist is missing");
}

TEST(TransferErrorDataTest, IsAlsoAWorkErrorThroughTheSharedBase) {
    const std::shared_ptr<WorkStatusData> data =
        std::make_shared<TransferErrorData>(TransferError::GeofenceBlocked, "blocked");
    const auto* transfer = dynamic_cast<const TransferStatusData*>(data.get());
    ASSERT_NE(transfer, nullptr);
    EXPECT_EQ(transfer->ToTransferError(), TransferError::GeofenceBlocked);
    const auto* work = dynamic_cast<const WorkErrorData*>(data.get());
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->GetErrorMessage(), "blocked");
    EXPECT_EQ(data->ToString(), "error|10|blocked");
}

TEST(TransferExceptionDataTest, DescribesTheErrorValueThenTheException) {
    const TransferExceptionData data(TransferError::FileWriteError,
                                     std::make_exception_ptr(std::runtime_error("disk gone")));
    EXPECT_EQ(data.ToTransferError(), TransferError::FileWriteError);
    ptree tree;
    data.Describe(tree);
    const auto keys = Keys(tree);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.front(), "transferError");
    EXPECT_EQ(tree.get<std::string>("transferError"), "7");
    EXPECT_NE(tree.get<std::string>("exception").find("runtime_error"), std::string::npos);
    EXPECT_EQ(tree.get<std::string>("what"), "disk gone");
    EXPECT_EQ(data.ToString(), "error|7|disk gone");
    EXPECT_THROW(data.Rethrow(), std::runtime_error);
}

TEST(TransferExceptionDataTest, SummarizesMissingAndNonStandardExceptionsAsUnknownType) {
    for (const std::exception_ptr& exception : {std::make_exception_ptr(42), std::exception_ptr()}) {
        const TransferExceptionData data(TransferError::Unknown, exception);
        EXPECT_EQ(data.ToString(), "error|9|Unknown exception type");
        ptree tree;
        data.Describe(tree);
        EXPECT_EQ(tree.get<std::string>("transferError"), "9");
        EXPECT_EQ(tree.get<std::string>("exception"), "Unknown exception type");
    }
}

struct ClassificationCase {
    const char* name;
    std::exception_ptr exception;
    TransferError error;
    bool retryable;
};

TEST(TransferFileExceptionDataTest, ClassifiesFileFailuresByTheirType) {
    const ClassificationCase cases[] = {
        {"bad path", std::make_exception_ptr(file::BadPathException()), TransferError::FileAccessError, false},
        {"not found", std::make_exception_ptr(file::NotFoundException()), TransferError::FileAccessError, false},
        {"in use", std::make_exception_ptr(file::InUseException()), TransferError::FileAccessError, true},
        {"inaccessible", std::make_exception_ptr(file::InaccessibleException()), TransferError::FileAccessError, true},
        {"insufficient space", std::make_exception_ptr(file::InsufficientSpaceException()),
         TransferError::InsufficientSpace, true},
        {"out of bounds", std::make_exception_ptr(file::OutOfBoundsException()), TransferError::Unknown, false},
        {"invalid map", std::make_exception_ptr(file::InvalidMapException()), TransferError::FileWriteError, false},
        {"unknown file failure", std::make_exception_ptr(file::UnknownException()), TransferError::FileWriteError,
         false},
        {"base file exception", std::make_exception_ptr(file::Exception()), TransferError::FileWriteError, false},
        {"file layer's bad allocation", std::make_exception_ptr(file::BadAllocation()), TransferError::OutOfMemory,
         false},
        {"bad_alloc", std::make_exception_ptr(std::bad_alloc()), TransferError::OutOfMemory, false},
        {"other standard exception", std::make_exception_ptr(std::runtime_error("x")), TransferError::Unknown, false},
        {"not a standard exception", std::make_exception_ptr(7), TransferError::Unknown, false},
        {"no exception", std::exception_ptr(), TransferError::Unknown, false},
    };
    for (const auto& c : cases) {
        const TransferFileExceptionData data(c.exception);
        EXPECT_EQ(data.ToTransferError(), c.error) << c.name;
        EXPECT_EQ(data.retryable, c.retryable) << c.name;
        EXPECT_EQ(data.GetException(), c.exception) << c.name;
    }
}

TEST(TransferFileExceptionDataTest, DescribesTheClassifiedErrorAndTheFileException) {
    const TransferFileExceptionData data(std::make_exception_ptr(file::InUseException()));
    ptree tree;
    data.Describe(tree);
    EXPECT_EQ(tree.get<std::string>("transferError"), "5");
    EXPECT_EQ(tree.get<std::string>("what"), file::InUseException().what());
    EXPECT_EQ(data.ToString(), std::string("error|5|") + file::InUseException().what());
}

}  // namespace
}  // namespace vrexa
