#include "tools/vrexa/StatusFormat.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vrexa::cli {
namespace {

TEST(StatusFormatTest, BytesKeepThreeSignificantDigits) {
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.00 KiB"},
        {1536, "1.50 KiB"},
        {10 * 1024 + 512, "10.5 KiB"},
        {1024 * 1024 - 1, "1.00 MiB"},
        {1073741824ull, "1.00 GiB"},
        {450ull * 1024 * 1024, "450 MiB"},
        {~0ull, "16.0 EiB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

TEST(StatusFormatTest, SecondsReadAsClockTimes) {
    EXPECT_EQ(FormatSeconds(-1), "--:--");
    EXPECT_EQ(FormatSeconds(0), "0:00");
    EXPECT_EQ(FormatSeconds(65), "1:05");
    EXPECT_EQ(FormatSeconds(3723), "1:02:03");
    EXPECT_EQ(FormatSeconds(0x7FFFFFFF), "596523:14:07");
}

TEST(StatusFormatTest, PercentIsOfTheTotalAndZeroWithoutOne) {
    TransferStatus status;
    EXPECT_EQ(PercentComplete(status), 0u);
    status.totalBytes = 200;
    status.completedBytes = 199;
    EXPECT_EQ(PercentComplete(status), 99u);
    status.totalBytes = ~0ull;
    status.completedBytes = ~0ull - 1;
    EXPECT_EQ(PercentComplete(status), 99u) << "no wrap near 2^64";
    status.completedBytes = ~0ull;
    EXPECT_EQ(PercentComplete(status), 100u);
}

TEST(StatusFormatTest, ProgressAndJsonLinesCarryTheStatus) {
    TransferStatus status;
    status.transferId = "0123456789abcdef0123456789abcdef";
    status.state = TransferState::Transferring;
    status.completedBytes = 512ull * 1024 * 1024;
    status.totalBytes = 1024ull * 1024 * 1024;
    status.downloadedBytes = 7;
    status.reusedBytes = 3;
    status.verifiedBytes = 5;
    status.rate = 80 * 1024 * 1024;
    status.secondsRemaining = 7;
    EXPECT_EQ(ProgressLine(status), "[ 50%] 512 MiB / 1.00 GiB  80.0 MiB/s  0:07 left  Transferring");
    EXPECT_EQ(
        JsonStatusLine(status),
        "{\"transferId\":\"0123456789abcdef0123456789abcdef\",\"state\":\"Transferring\",\"error\":\"None\","
        "\"retrying\":false,\"downloadedBytes\":7,\"reusedBytes\":3,\"completedBytes\":536870912,\"verifiedBytes\":5,"
        "\"totalBytes\":1073741824,\"rate\":83886080,\"secondsRemaining\":7}");
    status.state = TransferState::Transferring;
    status.error = TransferError::NetworkError;
    status.retrying = true;
    EXPECT_NE(ProgressLine(status).find("(NetworkError, waiting to retry)"), std::string::npos);
    status.downloadedBytes = 3 * 1024 * 1024;
    status.reusedBytes = 61 * 1024 * 1024;
    EXPECT_EQ(SummaryLine(status), "fetched 3.00 MiB, reused 61.0 MiB from old content");
}

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    ProgressPrinter::Clock Get() {
        return [this] { return now; };
    }
};

TransferStatus At(std::uint64_t completed) {
    TransferStatus status;
    status.state = TransferState::Transferring;
    status.totalBytes = 100;
    status.completedBytes = completed;
    return status;
}

TEST(StatusFormatTest, PlainOutputPrintsChangesAtMostOnceASecondWithoutControlCharacters) {
    std::ostringstream out;
    FakeClock clock;
    ProgressPrinter printer(out, ProgressPrinter::Mode::Plain, clock.Get());
    printer.Update(At(1));
    printer.Update(At(1));  // unchanged: nothing
    clock.now += std::chrono::milliseconds(400);
    printer.Update(At(2));  // changed, but too soon
    clock.now += std::chrono::milliseconds(700);
    printer.Update(At(3));  // a second later: printed
    clock.now += std::chrono::milliseconds(10);
    TransferStatus done = At(100);
    done.state = TransferState::Complete;
    printer.Finish(done);  // the end is always printed
    const std::string text = out.str();
    EXPECT_EQ(text,
              "[  1%] 1 B / 100 B  0 B/s  --:-- left  Transferring\n"
              "[  3%] 3 B / 100 B  0 B/s  --:-- left  Transferring\n"
              "[100%] 100 B / 100 B  Complete\n");
    for (char c : text)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
}

TEST(StatusFormatTest, TerminalOutputRedrawsOneLineAndEndsIt) {
    std::ostringstream out;
    FakeClock clock;
    ProgressPrinter printer(out, ProgressPrinter::Mode::Terminal, clock.Get());
    printer.Update(At(1));
    printer.Update(At(2));
    TransferStatus done = At(100);
    done.state = TransferState::Complete;
    printer.Finish(done);
    EXPECT_EQ(out.str(),
              "\r[  1%] 1 B / 100 B  0 B/s  --:-- left  Transferring\x1b[K"
              "\r[  2%] 2 B / 100 B  0 B/s  --:-- left  Transferring\x1b[K"
              "\r[100%] 100 B / 100 B  Complete\x1b[K\n");
}

TEST(StatusFormatTest, JsonAndQuietOutput) {
    std::ostringstream json;
    ProgressPrinter jsonPrinter(json, ProgressPrinter::Mode::Json);
    jsonPrinter.Update(At(1));
    jsonPrinter.Update(At(1));
    jsonPrinter.Update(At(2));
    EXPECT_EQ(json.str(), JsonStatusLine(At(1)) + "\n" + JsonStatusLine(At(2)) + "\n");

    std::ostringstream quiet;
    ProgressPrinter quietPrinter(quiet, ProgressPrinter::Mode::Quiet);
    quietPrinter.Update(At(1));
    quietPrinter.Finish(At(100));
    EXPECT_EQ(quiet.str(), "");
}

}  // namespace
}  // namespace vrexa::cli
