// What events and logs cost the threads that raise them, and how fast the log
// threads get records onto the disk.
//
//   vrexa_analytics_bench [--benchmark_filter=...]

#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>

#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonWorkLogManager.h"
#include "analytics/JsonWriter.h"
#include "file/posix/FilesystemImpl.h"
#include "text/JsonEscape.h"
#include "transfer/TransferParams.h"
#include "transfer/tests/SampleParams.h"

namespace {

using boost::property_tree::ptree;

vrexa::TransferParams Params() {
    vrexa::TransferParams params = vrexa::testing::SampleParams();
    params.destPath = "/home/J\xC3\xBCrgen/Downloads/package";
    return params;
}

// The events document of a periodic report with one element per node: built
// and written as it is before being posted.
void BM_NodeBatchDocument(benchmark::State& state) {
    const vrexa::TransferParams params = Params();
    vrexa::NodeStatisticsSnapshot snapshot;
    snapshot.bytes = 123456789;
    snapshot.successBytes = 123000000;
    snapshot.firstByteTime = 1.234;
    snapshot.requestTime = 56.789;
    snapshot.successTime = 50.5;
    snapshot.numRequests = 118;
    std::size_t bytes = 0;
    for (auto _ : state) {
        ptree tree;
        for (int node = 0; node < state.range(0); ++node) {
            snapshot.node = "node" + std::to_string(node) + ".cdn.example";
            vrexa::OptimizerAnalyticsRequest request(params, "Linux Debian GNU/Linux 12 (bookworm)", snapshot);
            ptree element;
            request.Write(element);
            tree.push_back(ptree::value_type("", std::move(element)));
        }
        const std::string body = vrexa::ToJson(tree);
        bytes += body.size();
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NodeBatchDocument)->Arg(1)->Arg(8)->Arg(64);

// Escaping a text that is half multi-byte characters (every such byte grows
// to six).
void BM_EscapeMixedText(benchmark::State& state) {
    std::string text;
    while (text.size() < 4096)
        text += "C:/Users/J\xC3\xBCrgen/\xE2\x82\xAC ";
    for (auto _ : state) {
        std::string escaped = vrexa::JsonEscaped(text, vrexa::JsonEscaping::PerByte);
        benchmark::DoNotOptimize(escaped.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EscapeMixedText);

// Records per second from TrackEvent until they are on disk: each iteration
// tracks range(0) event records and destroys the manager, which writes them
// all before it returns.
void BM_LogRecordsToDisk(benchmark::State& state) {
    const auto folder =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("vrexa-log-bench-%%%%-%%%%");
    boost::filesystem::create_directories(folder);
    class TempFilesystem : public vrexa::file::posix::FilesystemImpl {
    public:
        explicit TempFilesystem(std::string temp) : temp_(std::move(temp)) {}
        std::string GetTempFolder() override { return temp_; }

    private:
        std::string temp_;
    } temp(folder.string());
    const vrexa::TransferParams params = Params();
    int run = 0;
    for (auto _ : state) {
        vrexa::JsonWorkLogManager manager(vrexa::kDefaultLogMask, "logs" + std::to_string(run++), &temp);
        for (int i = 0; i < state.range(0); ++i) {
            auto work = manager.CreateEventWork(1);
            work->GetTree().put("event", "PeriodicUpdate");
            ptree described;
            params.Describe(described);
            work->GetTree().add_child("params", described);
            manager.TrackEvent(std::move(work));
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    boost::filesystem::remove_all(folder);
}
BENCHMARK(BM_LogRecordsToDisk)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
