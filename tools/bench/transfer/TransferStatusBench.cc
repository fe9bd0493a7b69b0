// Cost of the progress path: the monitor takes a snapshot of every transfer
// every 100 ms while work threads keep adding to the counters.
#include <benchmark/benchmark.h>

#include "transfer/TransferParams.h"
#include "transfer/TransferStatusImpl.h"

namespace {

using vrexa::TransferParams;
using vrexa::TransferState;
using vrexa::TransferStatusImpl;

// One snapshot of a transferring status with a full rate window, as the
// monitor takes it; the clock steps 100 ms per snapshot.
void BM_Snapshot(benchmark::State& state) {
    TransferParams params;
    params.transferId = "0123456789abcdef0123456789abcdef";
    std::uint64_t now = 0;
    TransferStatusImpl status(params, 10, 500, [&now] { return now; });
    status.Record().state = TransferState::Transferring;
    status.Record().totalBytes = 1ull << 40;
    for (auto _ : state) {
        now += 100;
        status.AddDownloaded(65536);
        status.AddCompleted(65536);
        benchmark::DoNotOptimize(status.GetStatus());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Snapshot);

// Counter updates from several work threads at once on one status object.
void BM_ConcurrentAdd(benchmark::State& state) {
    static TransferParams params;
    static TransferStatusImpl status(params, 10, 500);
    for (auto _ : state) {
        status.AddDownloaded(1024);
        status.AddCompleted(1024);
    }
    state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_ConcurrentAdd)->Threads(1)->Threads(2)->Threads(4);

}  // namespace

BENCHMARK_MAIN();
