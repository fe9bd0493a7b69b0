// The status data the initialization hands to the transfer and writes to the
// logs: their descriptions and summaries are read by log tools and analytics,
// so their keys, order and texts are fixed.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/HttpManifestStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"
#include "workflow/tests/TestPackages.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Described(const WorkStatusData& data) {
    ptree tree;
    data.Describe(tree);
    Pairs pairs;
    for (const auto& [key, value] : tree)
        pairs.emplace_back(key, value.data());
    return pairs;
}

std::shared_ptr<GeolocationManifest> Geolocation(const std::string& ip, const std::string& country) {
    ptree tree;
    tree.put("ip", ip);
    tree.put("country_code", country);
    auto manifest = std::make_shared<StandardGeolocationManifest>();
    manifest->Read(tree);
    return manifest;
}

TEST(InitializeStatusDataTest, PackageDataNamesTheManifestOrSaysNull) {
    testing::TestPackageOptions options;
    options.id = "P1";
    options.partnerId = "N7";
    options.versionId = "42";
    const PackageStatusData present(testing::MakePackage({{"a.bin", "abc"}}, options));
    EXPECT_EQ(Described(present), (Pairs{{"packageId", "P1"}, {"partnerId", "N7"}, {"versionId", "42"}}));
    EXPECT_EQ(present.ToString(), "");
    EXPECT_EQ(present.ToTransferError(), TransferError::None);
    EXPECT_EQ(Described(PackageStatusData(nullptr)), (Pairs{{"package", "null"}}));
}

TEST(InitializeStatusDataTest, NodeListDataCountsTheNodesOrSaysNull) {
    ptree list;
    for (const char* host : {"a.example", "b.example", "c.example"}) {
        ptree node;
        node.put("NodeId", host);
        node.put("Host", host);
        list.add_child("NodeInfo", node);
    }
    ptree document;
    document.add_child("ArrayOfNodeInfo", list);
    auto nodes = std::make_shared<StandardNodeListManifest>();
    nodes->Read(document);
    EXPECT_EQ(Described(NodeListStatusData(nodes)), (Pairs{{"count", "3"}}));
    EXPECT_EQ(Described(NodeListStatusData(nullptr)), (Pairs{{"nodes", "null"}}));
}

TEST(InitializeStatusDataTest, GeolocationDataShowsTheCountryAndAlwaysStandsForABlockedCountry) {
    const struct {
        const char* name;
        std::shared_ptr<GeolocationManifest> geolocation;
        Pairs described;
        std::string summary;
    } cases[] = {
        {"known", Geolocation("192.0.2.7", "SE"), {{"ip", "192.0.2.7"}, {"country", "SE"}}, "error|10|SE"},
        {"unknown", std::make_shared<StandardGeolocationManifest>(), {{"geolocation", "null"}}, "error|10|"},
        {"none", nullptr, {{"geolocation", "null"}}, "error|10|null"},
    };
    for (const auto& c : cases) {
        const GeolocationStatusData data(c.geolocation);
        EXPECT_EQ(Described(data), c.described) << c.name;
        EXPECT_EQ(data.ToString(), c.summary) << c.name;
        EXPECT_EQ(data.ToTransferError(), TransferError::GeofenceBlocked) << c.name;
    }
}

TEST(InitializeStatusDataTest, HttpManifestDataDescribesTheRequestInOrderAndSummarizesOnlyAnError) {
    http::RequestStatus status;
    status.state = http::State::ClientError;
    status.responseCode = 404;
    status.totalTimeMs = 12;
    status.primaryIp = "127.0.0.1";
    status.errorMessage = "libcurl error 22 (HTTP 404)";
    status.errorDetail = "The requested URL returned error: 404";
    const HttpManifestStatusData rejected(TransferError::RequestRejected, status);
    EXPECT_EQ(Described(rejected), (Pairs{{"httpResult", "7"},
                                          {"httpResponseCode", "404"},
                                          {"requestTimeMs", "12"},
                                          {"ip", "127.0.0.1"},
                                          {"proxyConfig", ""},
                                          {"proxyUrl", ""},
                                          {"errorSummary", "libcurl error 22 (HTTP 404)"},
                                          {"errorDetails", "The requested URL returned error: 404"}}));
    EXPECT_EQ(rejected.ToTransferError(), TransferError::RequestRejected);

    const struct {
        TransferError error;
        std::string proxyConfig;
        std::string summary;
    } cases[] = {
        {TransferError::RequestRejected, "", "error|manifest|1|7|libcurl error 22 (HTTP 404)"},
        {TransferError::NetworkError, "proxy.example:3128", "error|manifest|proxy|2|7|libcurl error 22 (HTTP 404)"},
        {TransferError::None, "proxy.example:3128", ""},
    };
    for (const auto& c : cases) {
        http::RequestStatus copy = status;
        copy.proxyConfig = c.proxyConfig;
        EXPECT_EQ(HttpManifestStatusData(c.error, copy).ToString(), c.summary);
    }
}

}  // namespace
}  // namespace vrexa
