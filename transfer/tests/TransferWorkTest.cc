#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "tests/support/transfer/FakeTransferWorkInterface.h"
#include "transfer/tests/SampleParams.h"
#include "work/TransferWork.h"

namespace vrexa {
namespace {

// Counts the copies a description takes, so the test sees that works read
// the params only through the locked copy.
class CountingTransfer : public testsupport::FakeTransferWorkInterface {
public:
    using FakeTransferWorkInterface::FakeTransferWorkInterface;

    TransferParams GetParams() override {
        ++lockedReads;
        return FakeTransferWorkInterface::GetParams();
    }

    int lockedReads = 0;
};

class DescribedWork : public TransferWork {
public:
    using TransferWork::TransferWork;
};

TEST(TransferWorkTest, FullDescriptionWritesEveryIdentifierBriefOnlyTheTransferId) {
    const struct {
        bool brief;
        std::vector<std::pair<std::string, std::string>> expected;
    } cases[] = {
        {false,
         {{"name", "SomeWork"},
          {"transferId", "0123456789abcdef0123456789abcdef"},
          {"partnerId", "N7"},
          {"packageId", "P1"},
          {"versionId", "42"},
          {"destPath", "/data/demo"}}},
        {true, {{"name", "SomeWork"}, {"transferId", "0123456789abcdef0123456789abcdef"}}},
    };
    for (const auto& c : cases) {
        auto transfer = std::make_shared<CountingTransfer>(testing::SampleParams());
        const DescribedWork work(transfer);
        boost::property_tree::ptree tree;
        tree.put("name", "SomeWork");
        work.DescribeTransfer(tree, c.brief);

        std::vector<std::pair<std::string, std::string>> written;
        for (const auto& [key, child] : tree)
            written.emplace_back(key, child.data());
        EXPECT_EQ(written, c.expected) << "brief " << c.brief;
        EXPECT_EQ(transfer->lockedReads, 1);
    }
}

TEST(TransferWorkTest, WorkWithoutATransferDescribesNothingOfIt) {
    const DescribedWork work(nullptr);
    boost::property_tree::ptree tree;
    work.DescribeTransfer(tree, false);
    work.DescribeTransfer(tree, true);
    EXPECT_TRUE(tree.empty());
}

}  // namespace
}  // namespace vrexa
