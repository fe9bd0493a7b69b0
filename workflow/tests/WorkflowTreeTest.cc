// The shape of the download and verification trees as the factories build
// them and as their construction steps complete them: which works, in which
// order, and which describe the transfer in full or only by its id.
#include <memory>
#include <string>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "work/DeferredWork.h"
#include "work/LazyParallelWork.h"
#include "work/ParallelWork.h"
#include "work/SequentialWork.h"
#include "work/SimpleWork.h"
#include "workflow/TransferPackageWork.h"
#include "workflow/VerifyTransferWork.h"
#include "workflow/tests/TestPackages.h"
#include "workflow/tests/TestTransfer.h"

namespace vrexa {
namespace {

// One line per work, depth first: indentation, the described name, "full"
// when the description holds the transfer's parameters and "brief" when only
// its id, then the work's own keys past those.
void Outline(const std::shared_ptr<Work>& work, int depth, std::string& out) {
    boost::property_tree::ptree tree;
    work->Describe(tree);
    out += std::string(2 * depth, ' ') + tree.get<std::string>("name", "-");
    if (tree.count("packageId") != 0) {
        out += " full";
    } else if (tree.count("transferId") != 0) {
        out += " brief";
    }
    for (const char* key : {"filePath", "lowerBound"}) {
        if (tree.count(key) != 0) {
            out += std::string(" ") + key + "=" + tree.get<std::string>(key);
        }
    }
    out += "\n";
    std::vector<std::shared_ptr<Work>> children;
    if (auto sequential = std::dynamic_pointer_cast<SequentialWork>(work)) {
        children = sequential->GetChildren();
    } else if (auto parallel = std::dynamic_pointer_cast<ParallelWork>(work)) {
        children = parallel->GetChildren();
    } else if (auto deferred = std::dynamic_pointer_cast<DeferredWork>(work)) {
        if (auto child = deferred->GetChild()) {
            children.push_back(child);
        }
    } else if (auto lazy = std::dynamic_pointer_cast<LazyParallelWork>(work)) {
        // Only the first child it would make.
        if (auto child = lazy->CreateNextChild()) {
            children.push_back(child);
        }
    }
    for (const auto& child : children) {
        Outline(child, depth + 1, out);
    }
}

std::string Outline(const std::shared_ptr<Work>& root) {
    std::string out;
    Outline(root, 0, out);
    return out;
}

// The construction step is the last child of the initialization, itself the
// root's first child.
WorkStatus RunConstruction(const std::shared_ptr<SequentialWork>& root) {
    auto initialize = std::dynamic_pointer_cast<SequentialWork>(root->GetChildren().front());
    auto construction = std::dynamic_pointer_cast<SimpleWork>(initialize->GetChildren().back());
    return construction->Execute();
}

std::shared_ptr<testing::TestTransfer> NewTransfer(bool allowExecute) {
    auto transfer = std::make_shared<testing::TestTransfer>();
    transfer->GetBehavior().allowExecute = allowExecute;
    transfer->GetBehavior().parallelItems = 2;
    testing::TestPackageOptions options;
    options.run = "setup";
    transfer->SetPackage(testing::MakePackage({{"setup", std::string(2500, 's')}, {"empty", ""}}, options));
    return transfer;
}

TEST(WorkflowTreeTest, DownloadTreeBeforeAndAfterConstruction) {
    const std::string initialization =
        "  InitializeTransferWork full\n"
        "    GetManifestsWork full\n"
        "      GetPackageManifestWork full\n"
        "      GetNodeListWork full\n"
        "    GetGeolocationWork full\n"
        "    GeofenceWork full\n"
        "    ConstructTransferFromPackageWork full\n";
    const struct {
        bool allowExecute;
        std::string last;
    } cases[] = {{true, "  AllowExecuteWork brief\n"}, {false, ""}};
    for (const auto& c : cases) {
        auto root = std::make_shared<TransferPackageWork>(NewTransfer(c.allowExecute));
        EXPECT_EQ(Outline(root), "TransferPackageWork full\n" + initialization + "  -\n" + c.last) << c.allowExecute;
        ASSERT_EQ(RunConstruction(root).result, WorkResult::Success);
        const std::string outline = Outline(root);
        EXPECT_NE(outline.find("  -\n    TransferMultipleFilesWork brief\n      CheckPreallocateWork brief\n"),
                  std::string::npos)
            << outline;
        // The deferred slot takes its work once.
        const WorkStatus again = RunConstruction(root);
        EXPECT_EQ(again.result, WorkResult::FatalError);
        ASSERT_NE(again.data, nullptr);
        EXPECT_EQ(again.data->ToString(),
                  "error|9|ConstructTransferFromPackageWork::ExecuteTask failed; DeferredWork already assigned");
    }
}

TEST(WorkflowTreeTest, VerificationTreeBeforeAndAfterConstruction) {
    auto root = std::make_shared<VerifyTransferWork>(NewTransfer(true));
    const std::string built =
        "VerifyTransferWork full\n"
        "  InitializeVerifyWork full\n"
        "    GetManifestsWork full\n"
        "      GetPackageManifestWork full\n"
        "      GetNodeListWork full\n"
        "    GetGeolocationWork full\n"
        "    GeofenceWork full\n"
        "    ConstructVerifyFromPackageWork full\n"
        "  -\n";
    EXPECT_EQ(Outline(root), built);
    ASSERT_EQ(RunConstruction(root).result, WorkResult::Success);
    EXPECT_EQ(Outline(root), built +
                                 "    LazyParallelVerifyMultipleFilesWork brief\n"
                                 "      VerifySingleFileWork brief filePath=setup\n"
                                 "        OpenExistingFileWork brief filePath=setup\n"
                                 "        LazyParallelVerifyMultipleChunksWork brief filePath=setup\n"
                                 "          MapAndVerifyChunkWork brief filePath=setup lowerBound=0\n"
                                 "            CreateChunkMapWork brief filePath=setup lowerBound=0\n"
                                 "            PrefetchChunkWork brief filePath=setup lowerBound=0\n"
                                 "            VerifyChunkWork brief filePath=setup lowerBound=0\n"
                                 "            ReleaseChunkMapWork brief filePath=setup lowerBound=0\n"
                                 "        CloseFileWork brief filePath=setup\n");
}

}  // namespace
}  // namespace vrexa
