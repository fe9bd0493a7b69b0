// What the local download network delivers to the engine's HTTP requests:
// chunk-sized byte ranges from an nginx node and from a node of the
// fault-injecting test server (with no fault), one new connection per
// request as a request without a session makes. Benchmarks of the engine run
// against this network; these figures say how much of their time the
// servers themselves take.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "http/CurlRequestFactory.h"
#include "http/WriteCallback.h"
#include "tests/support/TestFolder.h"
#include "tests/support/network/LocalNetwork.h"

namespace {

namespace fs = std::filesystem;
using vrexa::testsupport::LocalNetwork;

constexpr std::uint64_t kFileSize = 32ull << 20;

class CountingWriter : public vrexa::http::WriteCallback {
public:
    vrexa::http::RequestStatus Write(const char*, std::size_t size) override {
        bytes += size;
        vrexa::http::RequestStatus status;
        status.state = vrexa::http::State::Succeeded;
        status.bytes = size;
        return status;
    }
    std::uint64_t bytes = 0;
};

class DirectProxies : public vrexa::http::ProxyFactory {
public:
    std::shared_ptr<vrexa::http::Proxy> Create() override { return std::make_shared<vrexa::http::EmptyProxy>(); }
};

// One published file and a running network with one node of each kind, kept
// for the whole run.
struct Setup {
    Setup() {
        fs::create_directories(root / "source");
        std::mt19937_64 random(1);
        std::string data(kFileSize, '\0');
        for (std::size_t at = 0; at + 8 <= data.size(); at += 8) {
            std::uint64_t word = random();
            data.replace(at, 8, reinterpret_cast<const char*>(&word), 8);
        }
        std::ofstream(root / "source" / "data.bin", std::ios::binary) << data;
        auto published =
            vrexa::testsupport::RunPublisher({"--partner", "p", "--package", "k", "--version", "v", "--name", "Bench",
                                              (root / "source").string(), (root / "tree").string()});
        if (published.exitCode != 0) {
            throw std::runtime_error("publishing failed: " + published.err);
        }
        vrexa::testsupport::LocalNetworkOptions options;
        options.tree = root / "tree";
        options.nodes = 1;
        options.faulty = 1;
        network = std::make_unique<LocalNetwork>(options);
    }
    ~Setup() { network.reset(); }
    std::string Url(bool faulty) const {
        for (const auto& node : network->Nodes()) {
            if (node.faulty == faulty) {
                return "http://" + node.host + node.path + "p/k/v/data.bin";
            }
        }
        throw std::runtime_error("no such node");
    }

    vrexa::testsupport::TestFolder folder;
    fs::path root{folder.Path()};
    std::unique_ptr<LocalNetwork> network;
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

void FetchRanges(benchmark::State& state) {
    const bool faulty = state.range(0) != 0;
    const std::uint64_t range = static_cast<std::uint64_t>(state.range(1));
    const std::string url = Shared().Url(faulty);
    DirectProxies proxies;
    vrexa::http::CurlRequestFactory factory(proxies);
    CountingWriter writer;
    std::uint64_t first = 0;
    for (auto _ : state) {
        vrexa::http::RequestParams params(url, &writer);
        params.rangeFirst = first;
        params.rangeLast = first + range - 1;
        first = (first + range) % kFileSize;
        auto status = factory.CreateRequest(params, nullptr)->Perform();
        if (status.state != vrexa::http::State::Succeeded || status.bytes != range) {
            state.SkipWithError("a range request failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(writer.bytes));
    state.SetLabel(faulty ? "test server node" : "nginx node");
}
BENCHMARK(FetchRanges)
    ->ArgNames({"faulty", "range"})
    ->Args({0, 64 << 10})
    ->Args({0, 1 << 20})
    ->Args({1, 64 << 10})
    ->Args({1, 1 << 20})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
