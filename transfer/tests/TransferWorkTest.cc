#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "transfer/TransferWorkInterface.h"
#include "transfer/tests/SampleParams.h"
#include "work/TransferWork.h"

namespace vrexa {
namespace {

// Answers only what a description reads; counts the locked reads, so the
// test sees that works never touch the params without the transfer's lock.
class ParamsOnlyTransfer : public TransferWorkInterface {
public:
    explicit ParamsOnlyTransfer(TransferParams params) : params(std::move(params)) {}

    TransferParams GetParams() override {
        ++lockedReads;
        return params;
    }
    TransferParams& Params() override { return Unused<TransferParams&>(); }
    const TransferParams& Params() const override { return Unused<const TransferParams&>(); }
    TransferBehavior& GetBehavior() override { return Unused<TransferBehavior&>(); }
    std::shared_ptr<PackageManifest> GetPackage() override { return nullptr; }
    std::shared_ptr<NodeListManifest> GetNodeList() override { return nullptr; }
    std::shared_ptr<GeolocationManifest> GetGeolocation() override { return nullptr; }
    std::shared_ptr<TransferProgressUpdater> GetProgress() override { return nullptr; }
    std::shared_ptr<http::Session> GetSession() override { return nullptr; }
    WorkCompleteCallback& GetWorkCompleteCallback() override { return Unused<WorkCompleteCallback&>(); }
    WorkCompleteCallback& GetPackageAcquireCallback() override { return Unused<WorkCompleteCallback&>(); }
    WorkCompleteCallback& GetNodeListAcquireCallback() override { return Unused<WorkCompleteCallback&>(); }
    WorkCompleteCallback& GetGeolocationCallback() override { return Unused<WorkCompleteCallback&>(); }
    WorkCompleteCallback& GetInitializeCallback() override { return Unused<WorkCompleteCallback&>(); }
    WorkflowRetryableErrorCallback& GetRetryableErrorCallback() override {
        return Unused<WorkflowRetryableErrorCallback&>();
    }
    void AddOutputFile(const std::string&) override { Unused<void>(); }

    int lockedReads = 0;

private:
    template <typename T>
    [[noreturn]] static T Unused() {
        throw std::logic_error("ParamsOnlyTransfer: a description read more than the params");
    }

    TransferParams params;
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
        auto transfer = std::make_shared<ParamsOnlyTransfer>(testing::SampleParams());
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
