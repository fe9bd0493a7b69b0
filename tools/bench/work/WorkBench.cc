// Scheduling cost of the work engine: one workflow runs a large number of
// trivial works under a lazy-parallel composite, the shape of a file's chunks,
// so that every work pays for queueing, dispatch, the pool and the outcome
// routing and nothing else. Reported as works per second.
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <benchmark/benchmark.h>
#include <boost/thread/thread.hpp>

#include "work/AsioWorkManager.h"
#include "work/LazyParallelWork.h"
#include "work/NoOpWork.h"
#include "work/StandardWorkflow.h"
#include "work/WorkCompleteCallback.h"

namespace {

using namespace vrexa;

class NoOpLazyParallelWork : public LazyParallelWork {
public:
    NoOpLazyParallelWork(unsigned capacity, long total) : LazyParallelWork(capacity), remaining(total) {}

    std::shared_ptr<Work> CreateNextChild() override {
        if (remaining == 0) {
            return nullptr;
        }
        --remaining;
        return std::make_shared<NoOpWork>();
    }

private:
    long remaining;
};

class DoneSignal : public WorkCompleteCallback {
public:
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus& status) override {
        std::lock_guard lock(mutex);
        result = status.result;
        done = true;
        changed.notify_all();
    }
    WorkResult Wait() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return done; });
        return result;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    WorkResult result = WorkResult::FatalError;
};

// The engine's defaults: hardware threads (at least one) plus two, both for
// the pool and for the running limit.
unsigned DefaultThreads() { return std::max(1u, boost::thread::hardware_concurrency()) + 2; }

// Arguments: number of works, capacity of the composite.
void BM_NoOpWorksUnderLazyParallel(benchmark::State& state) {
    const long works = state.range(0);
    const unsigned capacity = static_cast<unsigned>(state.range(1));
    const unsigned threads = DefaultThreads();
    AsioWorkManager manager(threads, false);
    for (auto _ : state) {
        auto root = std::make_shared<NoOpLazyParallelWork>(capacity, works);
        DoneSignal done;
        root->AddCompleteCallback(&done);
        auto workflow = std::make_shared<StandardWorkflow>(root, &manager, static_cast<int>(threads));
        root->SetWorkflow(workflow);
        workflow->Start();
        if (done.Wait() != WorkResult::Success) {
            state.SkipWithError("the workflow did not succeed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * works);
    state.counters["threads"] = threads;
}
BENCHMARK(BM_NoOpWorksUnderLazyParallel)->Args({100000, 8})->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
