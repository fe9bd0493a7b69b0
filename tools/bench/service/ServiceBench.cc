// Cost of what the updater's monitor does every 100 ms: a status poll of each
// transfer through the service, and one monitor round over 100 registered
// transfers. The service is the real one (store, manager, log, pools) in a
// temporary folder; only its workflows are parked. Work threads keep adding to
// the counters meanwhile, as a running download does; a poll must not wait
// for them.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include <boost/filesystem.hpp>

#include "file/posix/FilesystemImpl.h"
#include "service/Transfer.h"
#include "service/TransferManager.h"
#include "service/TransferMonitorCallback.h"
#include "service/TransferMonitorImpl.h"
#include "service/TransferService.h"
#include "service/TransferServiceCore.h"
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

// The platform's file system with the temporary folder in a folder of the
// benchmark's own.
class BenchFilesystem : public file::posix::FilesystemImpl {
public:
    BenchFilesystem()
        : folder_(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("vrexa-bench-%%%%%%%%")) {
        boost::filesystem::create_directories(folder_);
    }
    ~BenchFilesystem() override {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(folder_, ignored);
    }
    std::string GetTempFolder() override { return folder_.string(); }

private:
    boost::filesystem::path folder_;
};

TransferSettings BenchSettings() {
    TransferSettings settings;
    // Nothing listens there; the parked workflows never fetch, and the
    // analytics posts of the initialize events fail at once.
    settings.manifestHost = "127.0.0.1:1";
    settings.geolocationUrl = "http://127.0.0.1:1/geo-location";
    settings.transferAnalyticsUrl = "http://127.0.0.1:1";
    settings.eventsAnalyticsUrl = "http://127.0.0.1:1";
    settings.analyticsRetryLimit = 0;
    return settings;
}

struct Service {
    explicit Service(int transfers) {
        for (int i = 0; i < transfers; ++i)
            ids.push_back(service.Transfer("N7", "P1").transferId);
    }
    BenchFilesystem filesystem;
    std::unique_ptr<TransferServiceCore> built =
        std::make_unique<TransferServiceCore>(BenchSettings(), std::make_unique<ParkedWorkflowFactory>(),
                                              std::make_unique<ParkedWorkflowFactory>(), &filesystem);
    TransferServiceCore* core = built.get();
    TransferService service{std::move(built)};
    std::vector<std::string> ids;
};

// Adds to every transfer's counters from another thread until stopped.
class Downloads {
public:
    explicit Downloads(Service& service) {
        for (const std::string& id : service.ids)
            progress_.push_back(
                service.core->Manager().Find(id, service.core->GetBehavior())->GetWorkInterface()->GetProgress());
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
        benchmark::DoNotOptimize(service.service.Update(id));
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
    TransferMonitorImpl monitor(&service.service);
    for (const std::string& id : service.ids)
        monitor.AddCallback(id, &callback);
    for (auto _ : state)
        benchmark::DoNotOptimize(monitor.PollOnce());
    state.SetItemsProcessed(state.iterations() * transfers);
}
BENCHMARK(BM_MonitorRound)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
