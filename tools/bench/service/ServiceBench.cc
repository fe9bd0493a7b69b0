// Cost of what the updater's monitor does every 100 ms: a status poll of each
// transfer through the service, and one monitor round over 100 registered
// transfers. Work threads keep adding to the counters meanwhile, as a running
// download does; a poll must not wait for them.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "service/OfflineTransferManager.h"
#include "service/StandardTransferFactory.h"
#include "service/Transfer.h"
#include "service/TransferMonitorCallback.h"
#include "service/TransferMonitorImpl.h"
#include "service/TransferOperations.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"
#include "work/AsioWorkManager.h"
#include "work/NoOpWork.h"
#include "work/StandardWorkflow.h"
#include "work/TransferWorkflowFactory.h"

namespace {

using namespace vrexa;

// Real workflows whose works are never run (a pool without threads), so the
// transfers stay initializing and only the service's own path is measured.
class ParkedWorkflowFactory : public TransferWorkflowFactory {
public:
    std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface>) override {
        auto root = std::make_shared<NoOpWork>();
        auto workflow = std::make_shared<StandardWorkflow>(root, &pool_, 1);
        root->SetWorkflow(workflow);
        return workflow;
    }

private:
    AsioWorkManager pool_{0, false};
};

struct Service {
    explicit Service(int transfers) {
        behavior.transferFactory = &factory;
        for (int i = 0; i < transfers; ++i)
            ids.push_back(operations.Transfer("N7", "P1").transferId);
    }
    ParkedWorkflowFactory workflows;
    StandardTransferFactory factory{&workflows};
    TransferBehavior behavior;
    OfflineTransferManager manager;
    TransferOperations operations{manager, behavior};
    std::vector<std::string> ids;
};

// Adds to every transfer's counters from another thread until stopped.
class Downloads {
public:
    explicit Downloads(Service& service) {
        for (const std::string& id : service.ids)
            progress_.push_back(service.manager.Find(id, service.behavior)->GetWorkInterface()->GetProgress());
        thread_ = std::thread([this] {
            while (!stop_.load(std::memory_order_relaxed))
                for (const auto& progress : progress_)
                    progress->AddDownloaded(16384);
        });
    }
    ~Downloads() {
        stop_ = true;
        thread_.join();
    }

private:
    std::vector<std::shared_ptr<TransferProgressUpdater>> progress_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_ServiceStatusPoll(benchmark::State& state) {
    Service service(1);
    Downloads downloads(service);
    const std::string id = service.ids.front();
    for (auto _ : state)
        benchmark::DoNotOptimize(service.operations.Update(id));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServiceStatusPoll);

class QuietCallback : public TransferMonitorCallback {
public:
    void OnProgress(const TransferStatus& status) override { bytes_ += status.downloadedBytes; }
    void OnInitialized(const TransferStatus&) override {}
    void OnError(const TransferStatus&) override {}
    void OnEnd(const TransferStatus&) override {}

private:
    std::uint64_t bytes_ = 0;
};

void BM_MonitorRound(benchmark::State& state) {
    const int transfers = static_cast<int>(state.range(0));
    Service service(transfers);
    Downloads downloads(service);
    QuietCallback callback;
    TransferMonitorImpl monitor(&service.operations);
    for (const std::string& id : service.ids)
        monitor.AddCallback(id, &callback);
    for (auto _ : state)
        benchmark::DoNotOptimize(monitor.PollOnce());
    state.SetItemsProcessed(state.iterations() * transfers);
}
BENCHMARK(BM_MonitorRound)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
