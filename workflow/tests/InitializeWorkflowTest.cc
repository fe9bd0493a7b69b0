// The initialization of a download from a manifest host on 127.0.0.1 that
// fails in every way the engine tells apart: refused and broken documents,
// network failures, an unavailable geolocation and a blocked country.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestHttpServer.h"
#include "transfer/TransferStatusData.h"
#include "workflow/HttpManifestStatusData.h"
#include "workflow/TransferPackageWorkflowFactory.h"
#include "workflow/tests/WorkflowHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using testing::ErrorOf;
using testing::Message;
using testing::TestFile;
using testing::TestTransfer;
using testsupport::Fault;
using testsupport::TestHttpServer;

const std::vector<TestFile> kFiles = {{"setup", std::string(2500, 's')}, {"data/a.bin", std::string(1200, 'a')}};

class InitializeWorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tree_);
        fs::create_directories(dest_);
        server_ = std::make_unique<TestHttpServer>(tree_.string());
        server_->SetBody("/geo-location", R"({"ip": "192.0.2.7", "country_code": "SE"})");
        TransferSettings settings;
        settings.manifestRetryLimit = 2;
        harness_ =
            std::make_unique<testing::WorkflowHarness>(server_->Address(), server_->Url("/geo-location"), settings);
    }

    void Publish(const std::vector<std::string>& extra = {}) {
        testing::Publish(tree_, kFiles, "setup", 1000, {server_->Address()}, extra);
    }

    std::shared_ptr<TestTransfer> Run(const std::string& version = "?") {
        auto transfer = harness_->NewTransfer(version, dest_.string());
        workflow_ = harness_->Run(factory_, transfer);
        return transfer;
    }

    std::size_t RequestsTo(const std::string& path) {
        const auto requests = server_->Requests();
        return static_cast<std::size_t>(
            std::count_if(requests.begin(), requests.end(), [&](const auto& request) { return request.path == path; }));
    }

    // Nothing was created in the destination.
    bool DestinationEmpty() { return fs::is_empty(dest_); }

    testing::TempFolder temp_;
    fs::path tree_ = temp_.Path() / "tree";
    fs::path dest_ = temp_.Path() / "dest";
    std::unique_ptr<TestHttpServer> server_;
    std::unique_ptr<testing::WorkflowHarness> harness_;
    TransferPackageWorkflowFactory factory_;
    std::shared_ptr<Workflow> workflow_;
};

// The published package with its second file named path instead.
std::string PackageWithPath(const std::string& path) {
    testing::TestPackageOptions options;
    options.run = "setup";
    return testing::PackageXml({kFiles[0], {path, kFiles[1].bytes}}, options);
}

TEST_F(InitializeWorkflowTest, RefusedOrUnreadableDocumentsEndTheTransferAsRejected) {
    const struct {
        const char* name;
        std::string path;
        std::optional<int> status;  // answered with this code; otherwise with body
        std::string body;
        bool httpData;  // the outcome carries the failed request
    } cases[] = {
        {"package manifest 404", "/manifests/k1/current.xml", 404, "", true},
        {"node list 403", "/nodes/p1.xml", 403, "", true},
        {"package manifest cut short", "/manifests/k1/current.xml", std::nullopt, "<package><id>k1</id>", false},
        {"node list not XML", "/nodes/p1.xml", std::nullopt, "{\"nodes\": []}", false},
        // A file path with a "." or empty folder, and a node list with no
        // node a chunk URL can be built for, are refused when read: nothing is
        // created for them.
        {"package file path with a dot folder", "/manifests/k1/current.xml", std::nullopt,
         PackageWithPath("data/./a.bin"), false},
        {"package file path with an empty folder", "/manifests/k1/current.xml", std::nullopt,
         PackageWithPath("data//a.bin"), false},
        {"node list of unusable nodes", "/nodes/p1.xml", std::nullopt,
         "<ArrayOfNodeInfo><NodeInfo><NodeId>a</NodeId><Host>user@127.0.0.1</Host></NodeInfo>"
         "<NodeInfo><NodeId>b</NodeId><Host>127.0.0.1</Host><Path>/x/../</Path></NodeInfo></ArrayOfNodeInfo>",
         false},
    };
    Publish();
    for (const auto& c : cases) {
        server_->ClearFaults();
        server_->SetBody("/geo-location", R"({"ip": "192.0.2.7", "country_code": "SE"})");
        if (c.status) {
            server_->SetFault(c.path, Fault().Status(*c.status));
        } else {
            server_->SetBody(c.path, c.body);
        }
        const auto transfer = Run();
        const std::optional<WorkStatus> outcome = transfer->Outcome();
        ASSERT_TRUE(outcome) << c.name;
        EXPECT_EQ(outcome->result, WorkResult::FatalError) << c.name;
        EXPECT_EQ(ErrorOf(*outcome), TransferError::RequestRejected) << c.name;
        auto http = std::dynamic_pointer_cast<HttpManifestStatusData>(outcome->data);
        EXPECT_EQ(http != nullptr, c.httpData) << c.name;
        if (http && c.status) {
            EXPECT_EQ(http->GetRequestStatus().responseCode, *c.status) << c.name;
        }
        // The initialization reported its end with the same failure.
        ASSERT_TRUE(transfer->Initialized()) << c.name;
        EXPECT_EQ(transfer->Initialized()->result, WorkResult::FatalError) << c.name;
        EXPECT_TRUE(DestinationEmpty()) << c.name;
    }
}

TEST_F(InitializeWorkflowTest, DisabledPackageIsRejected) {
    Publish({"--inactive"});
    const auto transfer = Run();
    ASSERT_TRUE(transfer->Outcome());
    EXPECT_EQ(transfer->Outcome()->result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::RequestRejected);
    EXPECT_EQ(Message(*transfer->Outcome()), "GetPackageManifestWork::ExecuteTask acquired a disabled manifest");
}

TEST_F(InitializeWorkflowTest, FixedVersionAnsweredWithAnotherVersionIsRejected) {
    Publish();
    server_->SetBody("/manifests/k1/v2.xml", testing::ReadFile(tree_ / "manifests/k1/v1.xml"));
    const auto transfer = Run("v2");
    // Refused as it arrives: the initialization fails and no file is made.
    ASSERT_TRUE(transfer->Initialized());
    EXPECT_EQ(transfer->Initialized()->result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(*transfer->Initialized()), TransferError::RequestRejected);
    ASSERT_TRUE(transfer->Outcome());
    EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::RequestRejected);
    EXPECT_TRUE(DestinationEmpty());
}

TEST_F(InitializeWorkflowTest, NetworkFailureOfAManifestIsRetriedInPlaceThenSuspendsTheTransfer) {
    Publish();
    server_->SetFault("/manifests/k1/current.xml", Fault().Status(503));
    const auto transfer = Run();
    const std::optional<WorkStatus> suspension = transfer->Suspension();
    ASSERT_TRUE(suspension);
    EXPECT_FALSE(transfer->Outcome());
    EXPECT_EQ(suspension->result, WorkResult::RetryableError);
    EXPECT_EQ(ErrorOf(*suspension), TransferError::NetworkError);
    auto http = std::dynamic_pointer_cast<HttpManifestStatusData>(suspension->data);
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(http->GetRequestStatus().responseCode, 503);
    // The first attempt and manifestRetryLimit (2) immediate retries.
    EXPECT_EQ(RequestsTo("/manifests/k1/current.xml"), 3u);
    EXPECT_TRUE(workflow_->IsSuspended());
}

TEST_F(InitializeWorkflowTest, AttemptsAtADocumentEndWithinItsTime) {
    Publish();
    TransferSettings settings;
    settings.manifestRetryLimit = 4;
    settings.manifestDocumentTimeout = 1;
    harness_ = std::make_unique<testing::WorkflowHarness>(server_->Address(), server_->Url("/geo-location"), settings);
    // Each answer would come long after the document's time (and before the
    // per-attempt limit of 30 s).
    server_->SetFault("/manifests/k1/current.xml", Fault().Delay(20));
    const auto transfer = Run();
    const std::optional<WorkStatus> suspension = transfer->Suspension();
    ASSERT_TRUE(suspension);
    EXPECT_EQ(ErrorOf(*suspension), TransferError::NetworkError);
    auto http = std::dynamic_pointer_cast<HttpManifestStatusData>(suspension->data);
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(http->GetRequestStatus().state, http::State::Timeout);
    // One attempt spent the whole time; the four retries it had left are not made.
    EXPECT_EQ(RequestsTo("/manifests/k1/current.xml"), 1u);
}

// A host that accepts and never answers is given up on once the time for a
// first byte is spent, well before the document's own time; one that has
// answered an attempt keeps the document's whole time for its retries.
TEST_F(InitializeWorkflowTest, SilenceEndsTheAttemptsEarlierThanAnAnsweringServer) {
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        bool initialized;
        std::size_t requests;
    };
    const Case cases[] = {
        {"silent", {Fault().Delay(20)}, false, 1},
        {"answered, then slow", {Fault().Status(503).Times(1), Fault().Delay(3).Times(1)}, true, 2},
    };
    Publish();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_->ClearFaults();
        server_->ClearRequests();
        server_->SetBody("/geo-location", R"({"ip": "192.0.2.7", "country_code": "SE"})");
        TransferSettings settings;
        settings.manifestRetryLimit = 4;
        settings.manifestDocumentTimeout = 60;
        settings.manifestFirstByteTimeout = 1;
        settings.manifestLowSpeedTime = 0;
        harness_ =
            std::make_unique<testing::WorkflowHarness>(server_->Address(), server_->Url("/geo-location"), settings);
        for (const auto& fault : c.faults)
            server_->SetFault("/manifests/k1/current.xml", fault);
        const auto transfer = Run();
        if (c.initialized) {
            ASSERT_TRUE(transfer->Initialized());
            EXPECT_EQ(transfer->Initialized()->result, WorkResult::Success);
        } else {
            const std::optional<WorkStatus> suspension = transfer->Suspension();
            ASSERT_TRUE(suspension);
            EXPECT_EQ(ErrorOf(*suspension), TransferError::NetworkError);
            auto http = std::dynamic_pointer_cast<HttpManifestStatusData>(suspension->data);
            ASSERT_NE(http, nullptr);
            EXPECT_EQ(http->GetRequestStatus().state, http::State::Timeout);
        }
        EXPECT_EQ(RequestsTo("/manifests/k1/current.xml"), c.requests);
    }
}

TEST_F(InitializeWorkflowTest, VersionAskedForNamesTheManifestFetched) {
    Publish();
    const struct {
        const char* version;
        const char* path;
    } cases[] = {{"?", "/manifests/k1/current.xml"}, {"v1", "/manifests/k1/v1.xml"}};
    for (const auto& c : cases) {
        server_->ClearRequests();
        const auto transfer = Run(c.version);
        EXPECT_EQ(RequestsTo(c.path), 1u) << c.version;
        ASSERT_TRUE(transfer->Initialized()) << c.version;
        EXPECT_EQ(transfer->Initialized()->result, WorkResult::Success) << c.version;
        EXPECT_EQ(transfer->GetParams().versionId, "v1") << c.version;
    }
}

TEST_F(InitializeWorkflowTest, UnavailableGeolocationCountsAsNoCountry) {
    const struct {
        const char* name;
        std::optional<int> status;
        std::string body;
        std::size_t requests;  // with the default limit of one retry
    } failures[] = {
        {"server error", 503, "", 2},
        {"not found", 404, "", 1},
        {"unreadable answer", std::nullopt, "<html>", 1},
        {"answer without country", std::nullopt, R"({"ip": "192.0.2.7", "country_code": ""})", 1},
    };
    const struct {
        const char* policy;
        bool blocked;
    } policies[] = {{"Whitelist", true}, {"Blacklist", false}};
    for (const auto& policy : policies) {
        Publish({"--replace", "--policy", policy.policy, "--country", "SE"});
        for (const auto& failure : failures) {
            const std::string label = std::string(policy.policy) + ", " + failure.name;
            server_->ClearFaults();
            server_->ClearRequests();
            if (failure.status) {
                server_->SetFault("/geo-location", Fault().Status(*failure.status));
            } else {
                server_->SetBody("/geo-location", failure.body);
            }
            const auto transfer = Run();
            EXPECT_EQ(RequestsTo("/geo-location"), failure.requests) << label;
            ASSERT_FALSE(transfer->GeolocationStatuses().empty()) << label;
            EXPECT_EQ(transfer->GeolocationStatuses().back().result, WorkResult::Success) << label;
            ASSERT_TRUE(transfer->Initialized()) << label;
            if (policy.blocked) {
                EXPECT_EQ(transfer->Initialized()->result, WorkResult::FatalError) << label;
                EXPECT_EQ(ErrorOf(*transfer->Initialized()), TransferError::GeofenceBlocked) << label;
                EXPECT_EQ(Message(*transfer->Initialized()), "Geofence|") << label;
            } else {
                EXPECT_EQ(transfer->Initialized()->result, WorkResult::Success) << label;
            }
        }
    }
}

TEST_F(InitializeWorkflowTest, BlockedCountryEndsTheTransferBeforeAnyFileIsTouched) {
    Publish({"--policy", "Whitelist", "--country", "NO", "--country", "DK"});
    const auto transfer = Run();
    ASSERT_TRUE(transfer->Outcome());
    EXPECT_EQ(transfer->Outcome()->result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::GeofenceBlocked);
    EXPECT_EQ(Message(*transfer->Outcome()), "Geofence|SE");
    EXPECT_TRUE(DestinationEmpty());
}

TEST_F(InitializeWorkflowTest, PackageNamingOneFileTwiceIsRefusedBeforeAnyFileIsTouched) {
    Publish();
    testing::TestPackageOptions options;
    options.run = "setup";
    server_->SetBody("/manifests/k1/current.xml",
                     testing::PackageXml({kFiles[0], kFiles[1], {"/data/a.bin", kFiles[1].bytes}}, options));
    const auto transfer = Run();
    ASSERT_TRUE(transfer->Outcome());
    EXPECT_EQ(transfer->Outcome()->result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(*transfer->Outcome()), TransferError::RequestRejected);
    EXPECT_EQ(Message(*transfer->Outcome()),
              "ConstructTransferFromPackageWork::ExecuteTask refused the package: one file is named twice, as "
              "/data/a.bin");
    EXPECT_TRUE(DestinationEmpty());
}

TEST_F(InitializeWorkflowTest, AnUnusableNodeIsLeftOutAndTheHealthyOneBesideItServesThePackage) {
    Publish();
    const std::string published = testing::ReadFile(tree_ / "nodes" / "p1.xml");
    const std::size_t firstNode = published.find("<NodeInfo");
    ASSERT_NE(firstNode, std::string::npos);
    const std::string address = server_->Address();
    const struct {
        std::string host;
        std::string path;
    } unusable[] = {
        {"user@" + address, "/packages/"}, {address + "/x", "/packages/"},  {address + "?x", "/packages/"},
        {address + "#x", "/packages/"},    {address + "\\x", "/packages/"}, {address, "/x/../packages/"},
    };
    for (const auto& node : unusable) {
        fs::remove_all(dest_);
        fs::create_directories(dest_);
        std::string list = published;
        list.insert(firstNode, "<NodeInfo><NodeId>bad</NodeId><Host>" + node.host + "</Host><Path>" + node.path +
                                   "</Path><Weight>1000</Weight></NodeInfo>");
        server_->SetBody("/nodes/p1.xml", list);
        const auto transfer = Run();
        ASSERT_TRUE(transfer->Outcome()) << node.host;
        EXPECT_EQ(transfer->Outcome()->result, WorkResult::Success)
            << node.host << " " << node.path << ": "
            << (transfer->Outcome()->data ? transfer->Outcome()->data->ToString() : "");
        for (const auto& file : kFiles) {
            EXPECT_EQ(testing::ReadFile(dest_ / file.path), file.bytes) << node.host << " " << file.path;
        }
    }
}

TEST_F(InitializeWorkflowTest, CancelAbortsAManifestFetchUnderWay) {
    Publish();
    server_->SetFault("/manifests/k1/current.xml", Fault().Delay(120));
    auto transfer = harness_->NewTransfer("?", dest_.string());
    auto workflow = factory_.CreateWorkflow(transfer);
    workflow->Start();
    // Cancel only once the request is on its way, so that the abort has a
    // request to stop.
    for (int i = 0; i < 300 && RequestsTo("/manifests/k1/current.xml") == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(RequestsTo("/manifests/k1/current.xml"), 1u);
    workflow->Cancel(WorkStatus(WorkResult::Cancelled, nullptr));
    EXPECT_TRUE(transfer->WaitForPackageResult(WorkResult::Cancelled));
}

}  // namespace
}  // namespace vrexa
