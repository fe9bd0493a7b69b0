#include <cstdint>
#include <sstream>
#include <thread>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include "manifest/StandardPackageManifest.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferStatusImpl.h"

namespace vrexa {
namespace {

// A status object on a clock the test moves by hand.
class TransferStatusImplTest : public ::testing::Test {
protected:
    void Make(int window, int interval = 500) {
        status = std::make_unique<TransferStatusImpl>(params, window, interval, [this] { return now; });
    }
    void Transferring() { status->Record().state = TransferState::Transferring; }
    TransferStatus SnapshotAt(std::uint64_t time) {
        now = time;
        return status->GetStatus();
    }

    TransferParams params;
    std::uint64_t now = 1000000;
    std::unique_ptr<TransferStatusImpl> status;
};

TEST_F(TransferStatusImplTest, StartsInitializingWithNoErrorNoCountsAndNoEstimate) {
    params.transferId = "abc";
    Make(10);
    const TransferStatus s = SnapshotAt(now);
    EXPECT_EQ(s.transferId, "abc");
    EXPECT_EQ(s.state, TransferState::Initializing);
    EXPECT_EQ(s.error, TransferError::None);
    EXPECT_FALSE(s.retrying);
    EXPECT_EQ(s.downloadedBytes, 0u);
    EXPECT_EQ(s.completedBytes, 0u);
    EXPECT_EQ(s.verifiedBytes, 0u);
    EXPECT_EQ(s.rate, 0u);
    EXPECT_EQ(s.secondsRemaining, -1);
}

TEST_F(TransferStatusImplTest, SnapshotTakesIdentifiersFromTheParamsAsTheyAreNow) {
    Make(10);
    params.transferId = "abc";
    params.partnerId = "N7";
    params.packageId = "P1";
    params.versionId = "42";
    params.destPath = "/data";
    const TransferStatus s = SnapshotAt(now);
    EXPECT_EQ(s.transferId, "abc");
    EXPECT_EQ(s.partnerId, "N7");
    EXPECT_EQ(s.packageId, "P1");
    EXPECT_EQ(s.versionId, "42");
    EXPECT_EQ(s.destPath, "/data");
}

TEST_F(TransferStatusImplTest, SetPackageGivesTotalSizeAndARunPathShownOnlyWhenComplete) {
    // Two files of 10 and 5 bytes in chunks of 4: 3 and 2 checksums.
    std::istringstream document(
        "<package><id>P1</id><name>Demo</name><partnerId>N7</partnerId>"
        "<versionId>42</versionId><run>setup.run</run><files>"
        "<file><path>setup.run</path><chunksize>4</chunksize><size>10</size>"
        "<checksums>000000000000000000000000</checksums></file>"
        "<file><path>data.bin</path><chunksize>4</chunksize><size>5</size>"
        "<checksums>0000000000000000</checksums></file>"
        "</files></package>");
    boost::property_tree::ptree tree;
    boost::property_tree::read_xml(document, tree);
    StandardPackageManifest package;
    package.Read(tree);

    Make(10);
    status->SetPackage(package);
    const TransferState states[] = {TransferState::Initialized, TransferState::Transferring, TransferState::Cancelled,
                                    TransferState::Complete};
    for (TransferState state : states) {
        status->Record().state = state;
        const TransferStatus s = SnapshotAt(now);
        EXPECT_EQ(s.totalBytes, 15u);
        EXPECT_EQ(s.run, state == TransferState::Complete ? "setup.run" : "") << int(state);
    }
}

TEST_F(TransferStatusImplTest, CountersAddUpAndCompletedCorrectionStopsAtZero) {
    Make(10);
    status->AddCompleted(100);
    status->AddCompleted(50);
    status->SubtractCompleted(30);
    status->AddVerified(64);
    status->AddDownloaded(150);
    TransferStatus s = SnapshotAt(now);
    EXPECT_EQ(s.completedBytes, 120u);
    EXPECT_EQ(s.verifiedBytes, 64u);
    EXPECT_EQ(s.downloadedBytes, 150u);

    status->SubtractCompleted(1000);
    s = SnapshotAt(now);
    EXPECT_EQ(s.completedBytes, 0u);
}

TEST_F(TransferStatusImplTest, DeltasReportWhatWasAddedSinceThePreviousTake) {
    Make(1);
    Transferring();
    status->AddDownloaded(100);
    SnapshotAt(0);
    SnapshotAt(700);
    EXPECT_EQ(status->TakeDownloadedDelta(), 100u);
    EXPECT_EQ(status->TakeActiveTimeDelta(), 700u);
    status->AddDownloaded(30);
    SnapshotAt(1000);
    EXPECT_EQ(status->TakeDownloadedDelta(), 30u);
    EXPECT_EQ(status->TakeActiveTimeDelta(), 300u);
    EXPECT_EQ(status->TakeDownloadedDelta(), 0u);
    EXPECT_EQ(status->TakeActiveTimeDelta(), 0u);
    // Taking deltas leaves the totals alone.
    EXPECT_EQ(status->GetDownloadedBytes(), 130u);
    EXPECT_EQ(status->GetActiveTime(), 1000u);
}

TEST_F(TransferStatusImplTest, CountersStayExactUnderConcurrentWorkThreads) {
    Make(10);
    constexpr int kThreads = 4;
    constexpr int kAdds = 20000;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([this] {
            for (int i = 0; i < kAdds; ++i) {
                status->AddDownloaded(3);
                status->AddCompleted(5);
                status->SubtractCompleted(2);
                status->AddVerified(1);
            }
        });
    }
    // A reader taking deltas meanwhile must neither lose nor double bytes.
    std::uint64_t taken = 0;
    for (int i = 0; i < 1000; ++i)
        taken += status->TakeDownloadedDelta();
    for (auto& worker : workers)
        worker.join();
    taken += status->TakeDownloadedDelta();

    EXPECT_EQ(taken, 3u * kThreads * kAdds);
    EXPECT_EQ(status->GetDownloadedBytes(), 3u * kThreads * kAdds);
    EXPECT_EQ(status->GetCompletedBytes(), 3u * kThreads * kAdds);
    EXPECT_EQ(status->GetVerifiedBytes(), 1u * kThreads * kAdds);
}

// Time remaining.

TEST_F(TransferStatusImplTest, NoEstimateUntilAWindowOfTransferringTimeHasPassed) {
    Make(1);
    Transferring();
    status->Record().totalBytes = 10000;
    status->AddDownloaded(1000);
    status->AddCompleted(1000);
    EXPECT_EQ(SnapshotAt(0).secondsRemaining, -1);
    EXPECT_EQ(SnapshotAt(600).secondsRemaining, -1);
    EXPECT_EQ(SnapshotAt(999).secondsRemaining, -1);
    // 1000 bytes in 1 s, 9000 to go.
    EXPECT_EQ(SnapshotAt(1000).secondsRemaining, 9);
}

TEST_F(TransferStatusImplTest, NoEstimateWhileNothingHasBeenReceived) {
    Make(1);
    Transferring();
    status->Record().totalBytes = 10000;
    for (std::uint64_t t = 0; t <= 100000; t += 5000) {
        EXPECT_EQ(SnapshotAt(t).secondsRemaining, -1) << t;
    }
    EXPECT_EQ(status->GetActiveTime(), 0u);
}

TEST_F(TransferStatusImplTest, EstimateIsRemainingBytesOverTheAverageRateOfTheActiveTime) {
    const struct {
        const char* name;
        std::uint64_t total;
        std::uint64_t completed;
        std::uint64_t received;
        std::uint64_t activeMs;
        std::int32_t expected;
    } cases[] = {
        {"50 MB left after 10 MB in 20 s", 60000000, 10000000, 10000000, 20000, 100},
        {"rounded up to whole seconds", 10002, 1, 1000, 10000, 101},
        {"nothing left", 5000, 5000, 5000, 10000, 0},
        {"more completed than total", 5000, 6000, 6000, 10000, 0},
        {"3e9 s saturates", 3000000001ull, 1, 10, 10000, 2147483647},
    };
    for (const auto& c : cases) {
        params = TransferParams();
        Make(10);
        Transferring();
        status->Record().totalBytes = c.total;
        status->AddCompleted(c.completed);
        status->AddDownloaded(c.received);
        SnapshotAt(0);
        EXPECT_EQ(SnapshotAt(c.activeMs).secondsRemaining, c.expected) << c.name;
    }
}

TEST_F(TransferStatusImplTest, ProgressModeChoosesTheMeasuredCounter) {
    const struct {
        int mode;
        std::int32_t expected;
    } cases[] = {
        // 2000 of 12000 bytes left; 1000 received in 10 s, but only 500 verified.
        {0, 20},
        {1, 40},
        {2, -1},  // nothing measured
    };
    for (const auto& c : cases) {
        params = TransferParams();
        params.progressMode = c.mode;
        Make(10);
        Transferring();
        status->Record().totalBytes = 12000;
        status->AddCompleted(10000);
        status->AddDownloaded(1000);
        status->AddVerified(500);
        SnapshotAt(0);
        EXPECT_EQ(SnapshotAt(10000).secondsRemaining, c.expected) << "mode " << c.mode;
    }
}

TEST_F(TransferStatusImplTest, EstimateIsRecomputedAtMostOncePerIntervalOfActiveTime) {
    Make(1, 500);
    Transferring();
    status->Record().totalBytes = 100000;
    status->AddDownloaded(1000);
    status->AddCompleted(1000);
    SnapshotAt(0);
    // 1000 bytes in 1 s, 99000 left.
    EXPECT_EQ(SnapshotAt(1000).secondsRemaining, 99);

    status->AddDownloaded(1000);
    status->AddCompleted(1000);
    // 200 ms later: the cached estimate, though the rate has changed.
    EXPECT_EQ(SnapshotAt(1200).secondsRemaining, 99);
    EXPECT_EQ(SnapshotAt(1499).secondsRemaining, 99);
    // 500 ms of active time after the estimate: 2000 bytes in 1.5 s, 98000 left.
    EXPECT_EQ(SnapshotAt(1500).secondsRemaining, 74);
}

TEST_F(TransferStatusImplTest, PausingStopsTheActiveTimeAndResumingContinuesIt) {
    Make(1);
    Transferring();
    status->Record().totalBytes = 100000;
    status->AddDownloaded(1000);
    SnapshotAt(0);
    SnapshotAt(400);
    EXPECT_EQ(status->GetActiveTime(), 400u);

    status->Record().state = TransferState::Paused;
    EXPECT_EQ(SnapshotAt(5000).secondsRemaining, -1);
    SnapshotAt(9000);
    EXPECT_EQ(status->GetActiveTime(), 400u);

    // The first snapshot after resuming only marks the start again.
    Transferring();
    SnapshotAt(20000);
    EXPECT_EQ(status->GetActiveTime(), 400u);
    SnapshotAt(20300);
    EXPECT_EQ(status->GetActiveTime(), 700u);
}

TEST_F(TransferStatusImplTest, TimeWithARetryableErrorDoesNotCountAsActive) {
    Make(1);
    Transferring();
    status->Record().totalBytes = 100000;
    status->AddDownloaded(1000);
    SnapshotAt(0);
    SnapshotAt(300);
    status->Record().error = TransferError::NetworkError;
    status->Record().retrying = true;
    SnapshotAt(600);
    SnapshotAt(60000);
    EXPECT_EQ(status->GetActiveTime(), 300u);

    status->Record().error = TransferError::None;
    status->Record().retrying = false;
    SnapshotAt(61000);
    SnapshotAt(61200);
    EXPECT_EQ(status->GetActiveTime(), 500u);
}

TEST_F(TransferStatusImplTest, PausedTransferRecomputesItsEstimateFromTheFrozenActiveTime) {
    Make(1, 500);
    Transferring();
    status->Record().totalBytes = 10000;
    status->AddDownloaded(1000);
    SnapshotAt(0);
    EXPECT_EQ(SnapshotAt(1000).secondsRemaining, 10);
    status->Record().state = TransferState::Paused;
    // Written bytes still arrive from finishing works while pausing.
    status->AddCompleted(5000);
    EXPECT_EQ(SnapshotAt(1100).secondsRemaining, 5);
}

// Rate.

TEST_F(TransferStatusImplTest, RateOfTwoSamplesCloserThanTheWindowDividesByTheWindow) {
    Make(1);
    Transferring();
    SnapshotAt(0);
    status->AddDownloaded(3000);
    EXPECT_EQ(SnapshotAt(300).rate, 3000u);
}

TEST_F(TransferStatusImplTest, RateNeedsTwoSamplesTakenWhileTransferringOrPaused) {
    Make(1);
    status->AddDownloaded(5000);
    SnapshotAt(0);
    EXPECT_EQ(SnapshotAt(2000).rate, 0u) << "initializing takes no samples";

    Transferring();
    EXPECT_EQ(SnapshotAt(3000).rate, 0u) << "one sample";
    status->AddDownloaded(2000);
    EXPECT_EQ(SnapshotAt(4000).rate, 2000u);

    status->Record().state = TransferState::Paused;
    EXPECT_EQ(SnapshotAt(5000).rate, 0u) << "paused: no bytes in the last second";
}

TEST_F(TransferStatusImplTest, RateAveragesOverTheWindowAndForgetsOlderSamples) {
    Make(2);
    Transferring();
    // 1000 bytes per second for 3 s, then 4000 in the next second. A sample
    // a whole window old is dropped, so per-second snapshots keep one second.
    std::uint64_t rates[5];
    for (int second = 0; second <= 4; ++second) {
        if (second > 0) status->AddDownloaded(second < 4 ? 1000 : 4000);
        rates[second] = SnapshotAt(second * 1000).rate;
    }
    EXPECT_EQ(rates[0], 0u);
    EXPECT_EQ(rates[1], 500u);  // 1000 bytes, divided by the 2 s window
    EXPECT_EQ(rates[2], 500u);  // the sample at 0 s dropped
    EXPECT_EQ(rates[3], 500u);
    EXPECT_EQ(rates[4], 2000u);  // samples at 3 s and 4 s: 4000 over the window
}

TEST_F(TransferStatusImplTest, RateOverALongGapDividesByTheGap) {
    Make(1);
    Transferring();
    SnapshotAt(0);
    status->AddDownloaded(10000);
    // Only two samples remain, 5 s apart.
    EXPECT_EQ(SnapshotAt(5000).rate, 2000u);
}

TEST_F(TransferStatusImplTest, FinalStatusTakesNoNewSamples) {
    Make(1);
    Transferring();
    SnapshotAt(0);
    status->AddDownloaded(1000);
    EXPECT_EQ(SnapshotAt(1000).rate, 1000u);
    status->Record().state = TransferState::Complete;
    status->AddDownloaded(9000);
    // The rate stays the one of the last two samples.
    EXPECT_EQ(SnapshotAt(2000).rate, 1000u);
    // A fatal error makes a transferring status final too.
    status->Record().state = TransferState::Transferring;
    status->Record().error = TransferError::ChecksumMismatch;
    EXPECT_EQ(SnapshotAt(3000).rate, 1000u);
}

}  // namespace
}  // namespace vrexa
