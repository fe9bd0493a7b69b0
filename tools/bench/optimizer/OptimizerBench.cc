// Cost of choosing a node and learning from the result, the optimizer's work
// for every chunk request. With every node measured, each GetNode runs the full
// simulation (400 rounds for 8 nodes with the default settings), the share
// allocation and the draw.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "manifest/StandardNodeManifest.h"
#include "optimizer/ProportionalGamblingTransferOptimizer.h"
#include "optimizer/tests/FixedNodeList.h"

namespace {

using vrexa::NodeListManifest;

vrexa::http::RequestStatus Success(std::uint64_t bytes, std::uint32_t totalTimeMs) {
    vrexa::http::RequestStatus status;
    status.state = vrexa::http::State::Succeeded;
    status.bytes = bytes;
    status.totalTimeMs = totalTimeMs;
    return status;
}

// One GetNode plus one ReportResult per iteration, every node measured, node
// i answering a 1 MiB chunk in (100 + 20 i) ms.
void BM_GetNodeAndReportResult(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    NodeListManifest::Nodes nodes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string host = "node" + std::to_string(i) + ".bench";
        nodes.push_back(std::make_shared<vrexa::StandardNodeManifest>(host, host, "/", 1 + i % 3));
    }
    auto list = std::make_shared<vrexa::FixedNodeList>(nodes);
    auto chunk = std::make_shared<vrexa::ChunkRange>();
    chunk->upperBound = 1048575;

    vrexa::TransferSettings settings;
    vrexa::ProportionalGamblingTransferOptimizer optimizer(settings, 20261210);
    vrexa::OptimizedRequestParams params(list, vrexa::TransferParams(), chunk);
    auto duration = [](std::size_t node, std::uint64_t tick) {
        return static_cast<std::uint32_t>(100 + 20 * node + tick % 17);
    };
    std::uint64_t tick = 0;
    for (std::size_t i = 0; i < count; ++i) {
        params.SelectedNode = nodes[i];
        for (int sample = 0; sample < 3; ++sample) {
            optimizer.ReportResult(params, Success(1048576, duration(i, ++tick)));
        }
    }

    for (auto _ : state) {
        optimizer.GetNode(params);
        const std::size_t chosen =
            static_cast<std::size_t>(std::find(nodes.begin(), nodes.end(), params.SelectedNode) - nodes.begin());
        optimizer.ReportResult(params, Success(1048576, duration(chosen, ++tick)));
        benchmark::DoNotOptimize(params.timeout);
    }
    // One item is one GetNode together with its ReportResult.
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_GetNodeAndReportResult)->Arg(2)->Arg(8)->Arg(32);

}  // namespace

BENCHMARK_MAIN();
