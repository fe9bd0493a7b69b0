#include <cstdint>
#include <string>
#include <variant>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferStatus.h"
#include "transfer/tests/SampleParams.h"
#include "vrexa/DeploymentValues.h"

namespace vrexa {
namespace {

using Setting = std::variant<int, std::uint32_t, bool, double, std::string>;

struct DefaultCase {
    const char* name;
    Setting actual;
    Setting expected;
};

TEST(TransferSettingsTest, DefaultConstructorGivesTheBuiltInDefaults) {
    const TransferSettings s;
    const DefaultCase cases[] = {
        {"manifestHost", s.manifestHost, std::string(deployment::kManifestHost)},
        {"transfersFolder", s.transfersFolder, std::string("Quenlar/Vrexa/transfers")},
        {"logsFolder", s.logsFolder, std::string("Quenlar/Vrexa/logs")},
        {"logMask", s.logMask, std::uint32_t{0xFFFFFFF7u}},
        {"manifestRetryLimit", s.manifestRetryLimit, 4},
        {"manifestConnectTimeout", s.manifestConnectTimeout, 10},
        {"manifestTimeout", s.manifestTimeout, 30},
        {"manifestFirstByteTimeout", s.manifestFirstByteTimeout, 25},
        {"chunkRetryLimit", s.chunkRetryLimit, 4},
        {"requestRetryLimit", s.requestRetryLimit, 4},
        {"minConnectTimeout", s.minConnectTimeout, 3},
        {"maxConnectTimeout", s.maxConnectTimeout, 15},
        {"exploreConnectTimeout", s.exploreConnectTimeout, 2},
        {"minRequestTimeout", s.minRequestTimeout, 10},
        {"exploreMinRequestTimeout", s.exploreMinRequestTimeout, 3},
        {"minTransferRate", s.minTransferRate, 7168},
        {"exploreMinTransferRate", s.exploreMinTransferRate, 32768},
        {"minLowSpeedTime", s.minLowSpeedTime, 5},
        {"maxLowSpeedTime", s.maxLowSpeedTime, 60},
        {"exploreLowSpeedTime", s.exploreLowSpeedTime, 3},
        {"estimateWindow", s.estimateWindow, 10},
        {"estimateInterval", s.estimateInterval, 500},
        {"expectedWriteRate", s.expectedWriteRate, 349525},
        {"auxiliaryThreads", s.auxiliaryThreads, 1},
        {"transferThreads", s.transferThreads, TransferSettings::DefaultParallelism()},
        {"maxRunningWorks", s.maxRunningWorks, TransferSettings::DefaultParallelism()},
        {"parallelItems", s.parallelItems, TransferSettings::DefaultParallelism()},
        {"allowExecute", s.allowExecute, true},
        {"proxyResolveTimeout", s.proxyResolveTimeout, 5000},
        {"proxyConnectTimeout", s.proxyConnectTimeout, 5000},
        {"proxySendTimeout", s.proxySendTimeout, 5000},
        {"proxyReceiveTimeout", s.proxyReceiveTimeout, 5000},
        {"analyticsConnectTimeout", s.analyticsConnectTimeout, 10},
        {"analyticsTimeout", s.analyticsTimeout, 10},
        {"analyticsRetryLimit", s.analyticsRetryLimit, 1},
        {"analyticsShutdownTimeout", s.analyticsShutdownTimeout, 3},
        {"periodicEventInterval", s.periodicEventInterval, 300},
        {"simulationRoundsPerNode", s.simulationRoundsPerNode, 50},
        {"simulationRoundsBudget", s.simulationRoundsBudget, 10000},
        {"statisticsSmoothing", s.statisticsSmoothing, 0.3},
        {"minNodeShare", s.minNodeShare, 0.05},
        {"geolocationUrl", s.geolocationUrl, std::string(deployment::kEventsAnalyticsUrl) + "/geo-location"},
        {"geolocationConnectTimeout", s.geolocationConnectTimeout, 5},
        {"geolocationTimeout", s.geolocationTimeout, 10},
        {"geolocationRetryLimit", s.geolocationRetryLimit, 1},
        {"transferAnalyticsUrl", s.transferAnalyticsUrl, std::string(deployment::kTransferAnalyticsUrl)},
        {"eventsAnalyticsUrl", s.eventsAnalyticsUrl, std::string(deployment::kEventsAnalyticsUrl)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.name;
    }
}

TEST(TransferSettingsTest, ParallelismIsHardwareThreadsPlusTwoWithFewerThanTwoTakenAsOne) {
    const struct {
        unsigned hardwareThreads;
        int expected;
    } cases[] = {{0, 3}, {1, 3}, {2, 4}, {3, 5}, {16, 18}};
    for (const auto& c : cases) {
        EXPECT_EQ(TransferSettings::ParallelismFor(c.hardwareThreads), c.expected)
            << c.hardwareThreads << " hardware threads";
    }
    EXPECT_GE(TransferSettings::DefaultParallelism(), 3);
}

TEST(TransferBehaviorTest, BuiltFromSettingsKeepsThemAndPointsAtNoComponent) {
    TransferSettings settings;
    settings.estimateWindow = 1;
    settings.transferThreads = 2 * settings.transferThreads;
    settings.manifestHost = "manifests.example.test";
    const TransferBehavior behavior(settings);
    EXPECT_EQ(behavior.estimateWindow, 1);
    EXPECT_EQ(behavior.transferThreads, settings.transferThreads);
    EXPECT_EQ(behavior.manifestHost, "manifests.example.test");
    const void* components[] = {
        behavior.sessionFactory,
        behavior.requestFactory,
        behavior.filesystem,
        behavior.packageManifestFactory,
        behavior.nodeListManifestFactory,
        behavior.geolocationManifestFactory,
        behavior.transferFactory,
        behavior.optimizer,
        behavior.eventManager,
        behavior.logManager,
        behavior.auxiliaryWorkManager,
        behavior.transferWorkManager,
    };
    for (const void* component : components) {
        EXPECT_EQ(component, nullptr);
    }
}

TEST(TransferParamsTest, DefaultHasPlaceholdersAndPreallocates) {
    const TransferParams params;
    for (const std::string* field :
         {&params.transferId, &params.partnerId, &params.packageId, &params.versionId, &params.destPath}) {
        EXPECT_EQ(*field, "?");
    }
    EXPECT_FALSE(params.restored);
    EXPECT_TRUE(params.preallocate);
    EXPECT_EQ(params.progressMode, 0);
}

TEST(TransferParamsTest, DescribeWritesTheFiveIdentifiersInOrder) {
    TransferParams params = testing::SampleParams();
    params.restored = true;
    boost::property_tree::ptree tree;
    params.Describe(tree);

    const std::pair<std::string, std::string> expected[] = {
        {"transferId", "0123456789abcdef0123456789abcdef"},
        {"partnerId", "N7"},
        {"packageId", "P1"},
        {"versionId", "42"},
        {"destPath", "/data/demo"},
    };
    ASSERT_EQ(tree.size(), std::size(expected));
    auto it = tree.begin();
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(it->first, key);
        EXPECT_EQ(it->second.data(), value);
        ++it;
    }
}

TEST(TransferStatusTest, FinalWhenDoneGoneOrStoppedOnAnErrorItDoesNotRetry) {
    const struct {
        TransferState state;
        TransferError error;
        bool retrying;
        bool final;
    } cases[] = {
        {TransferState::None, TransferError::None, false, true},
        {TransferState::Initializing, TransferError::None, false, false},
        {TransferState::InitializePaused, TransferError::None, false, false},
        {TransferState::Initialized, TransferError::None, false, false},
        {TransferState::Transferring, TransferError::None, false, false},
        {TransferState::Paused, TransferError::None, false, false},
        {TransferState::Suspended, TransferError::None, false, true},
        {TransferState::Complete, TransferError::None, false, true},
        {TransferState::Cancelled, TransferError::None, false, true},
        {TransferState::Transferring, TransferError::NetworkError, true, false},
        {TransferState::Transferring, TransferError::NetworkError, false, true},
        {TransferState::Initializing, TransferError::GeofenceBlocked, false, true},
        {TransferState::Complete, TransferError::NetworkError, true, true},
    };
    for (const auto& c : cases) {
        TransferStatus status;
        status.state = c.state;
        status.error = c.error;
        status.retrying = c.retrying;
        EXPECT_EQ(status.IsFinal(), c.final)
            << "state " << int(c.state) << " error " << int(c.error) << " retrying " << c.retrying;
    }
}

}  // namespace
}  // namespace vrexa
