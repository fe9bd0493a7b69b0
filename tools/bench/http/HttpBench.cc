// Download throughput of the HTTP layer: a file from a local nginx fetched in
// 1 MiB ranged GETs by pooled requests on several threads, each chunk written
// through a BoundedDataWriter into a mapped window of a preallocated output
// file, the way the engine fetches chunks. For comparison, the curl program
// fetches the whole file in the same run.
//
//   vrexa_http_bench [--size-mib=N] [benchmark options]
//
// Needs nginx (/usr/sbin/nginx) and curl; starts its own nginx on a free
// 127.0.0.1 port with its own configuration in a temporary folder, and stops it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "file/SharedFile.h"
#include "file/posix/FilesystemImpl.h"
#include "http/BoundedDataWriter.h"
#include "http/CurlRequestFactory.h"
#include "http/RoundRobinSessionFactory.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestFolder.h"

extern char** environ;

namespace {

constexpr std::uint64_t kChunk = 1 << 20;
std::uint64_t fileSize = std::uint64_t(1) << 30;

struct Environment {
    std::filesystem::path folder;
    std::filesystem::path source;  // served by nginx
    std::uint16_t port = 0;
    pid_t nginx = -1;
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/data.bin"; }
} environment;

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& arg : copy)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Listening(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

void WriteSource() {
    std::ofstream out(environment.source, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(kChunk / 8);
    for (std::uint64_t written = 0; written < fileSize; written += kChunk) {
        for (auto& word : block)
            word = random();
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(kChunk));
    }
    if (!out) throw std::runtime_error("cannot write the source file");
}

void StartNginx() {
    const std::filesystem::path conf = environment.folder / "nginx.conf";
    std::ofstream(conf) << "worker_processes 2;\n"
                           "pid "
                        << (environment.folder / "nginx.pid").string()
                        << ";\n"
                           "error_log "
                        << (environment.folder / "error.log").string()
                        << ";\n"
                           "events { worker_connections 256; }\n"
                           "http {\n"
                           "  access_log off;\n"
                           "  sendfile on;\n"
                           "  keepalive_requests 100000;\n"
                           "  client_body_temp_path "
                        << environment.folder.string()
                        << ";\n"
                           "  proxy_temp_path "
                        << environment.folder.string()
                        << ";\n"
                           "  fastcgi_temp_path "
                        << environment.folder.string()
                        << ";\n"
                           "  uwsgi_temp_path "
                        << environment.folder.string()
                        << ";\n"
                           "  scgi_temp_path "
                        << environment.folder.string()
                        << ";\n"
                           "  server {\n"
                           "    listen 127.0.0.1:"
                        << environment.port
                        << ";\n"
                           "    root "
                        << environment.folder.string()
                        << ";\n"
                           "  }\n"
                           "}\n";
    environment.nginx =
        Spawn({"/usr/sbin/nginx", "-p", environment.folder.string(), "-c", conf.string(), "-g", "daemon off;"});
    if (!vrexa::testsupport::Eventually([] { return Listening(environment.port); }, std::chrono::seconds(20))) {
        throw std::runtime_error("nginx did not start");
    }
}

void StopNginx() {
    if (environment.nginx > 0) {
        kill(environment.nginx, SIGQUIT);
        Wait(environment.nginx);
    }
}

bool SameContents(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> bx(kChunk), by(kChunk);
    while (x && y) {
        x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
        y.read(by.data(), static_cast<std::streamsize>(by.size()));
        if (x.gcount() != y.gcount() || std::memcmp(bx.data(), by.data(), static_cast<std::size_t>(x.gcount())) != 0) {
            return false;
        }
    }
    return x.eof() && y.eof();
}

class DirectProxyFactory : public vrexa::http::ProxyFactory {
public:
    std::shared_ptr<vrexa::http::Proxy> Create() override { return std::make_shared<vrexa::http::EmptyProxy>(); }
};

// The engine's chunk path: one session, chunks handed out to worker threads,
// each fetched by a pooled request into its own mapped window.
void BM_PooledRangedGets(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    vrexa::file::posix::FilesystemImpl filesystem;
    DirectProxyFactory proxies;
    vrexa::http::CurlRequestFactory factory(proxies);
    vrexa::http::RoundRobinSessionFactory sessions;
    const std::string name = "out-" + std::to_string(threads) + ".bin";

    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(environment.folder / name);
        auto file = filesystem.OpenSharedFile(environment.folder.string(), name, vrexa::file::OpenMode::CreateNew,
                                              false, 0, fileSize - 1);
        if (!file->Preallocate(fileSize)) throw std::runtime_error("cannot preallocate");
        auto session = sessions.CreateSession();
        std::atomic<std::uint64_t> next{0};
        std::atomic<bool> failed{false};
        state.ResumeTiming();

        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                for (std::uint64_t first = next.fetch_add(kChunk); first < fileSize; first = next.fetch_add(kChunk)) {
                    const std::uint64_t last = std::min(first + kChunk, fileSize) - 1;
                    auto window = file->Map(first, last);
                    vrexa::http::BoundedDataWriter writer(window.get());
                    vrexa::http::RequestParams params(environment.Url(), &writer);
                    params.rangeFirst = first;
                    params.rangeLast = last;
                    auto request = factory.CreateRequest(params, session);
                    const auto status = request->Perform();
                    if (status.state != vrexa::http::State::Succeeded || status.bytes != last - first + 1) {
                        failed = true;
                        return;
                    }
                }
            });
        }
        for (auto& worker : workers)
            worker.join();

        state.PauseTiming();
        file.reset();
        if (failed || !SameContents(environment.source, environment.folder / name)) {
            state.SkipWithError("the downloaded file differs from the source");
        }
        std::filesystem::remove(environment.folder / name);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileSize));
}

// The same requests with the body counted and dropped: the HTTP layer alone,
// without the file layer's mapping and page faults.
class DiscardingWriter : public vrexa::http::WriteCallback {
public:
    vrexa::http::RequestStatus Write(const char*, std::size_t size) override {
        vrexa::http::RequestStatus result;
        result.state = vrexa::http::State::Succeeded;
        result.bytes = size;
        return result;
    }
};

void BM_PooledRangedGetsDiscarded(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    DirectProxyFactory proxies;
    vrexa::http::CurlRequestFactory factory(proxies);
    vrexa::http::RoundRobinSessionFactory sessions;
    for (auto _ : state) {
        auto session = sessions.CreateSession();
        std::atomic<std::uint64_t> next{0};
        std::atomic<bool> failed{false};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                DiscardingWriter writer;
                for (std::uint64_t first = next.fetch_add(kChunk); first < fileSize; first = next.fetch_add(kChunk)) {
                    const std::uint64_t last = std::min(first + kChunk, fileSize) - 1;
                    vrexa::http::RequestParams params(environment.Url(), &writer);
                    params.rangeFirst = first;
                    params.rangeLast = last;
                    const auto status = factory.CreateRequest(params, session)->Perform();
                    if (status.state != vrexa::http::State::Succeeded || status.bytes != last - first + 1)
                        failed = true;
                }
            });
        }
        for (auto& worker : workers)
            worker.join();
        if (failed) state.SkipWithError("a request failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileSize));
}

// The curl program fetching the whole file into a file, one connection.
void BM_CurlProgramWholeFile(benchmark::State& state) {
    const std::filesystem::path out = environment.folder / "curl.bin";
    for (auto _ : state) {
        if (Wait(Spawn({"curl", "-s", "-f", "-o", out.string(), environment.Url()})) != 0) {
            state.SkipWithError("curl failed");
        }
        state.PauseTiming();
        std::filesystem::remove(out);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileSize));
}

BENCHMARK(BM_PooledRangedGets)->Arg(4)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PooledRangedGetsDiscarded)->Arg(4)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlProgramWholeFile)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size-mib=", 11) == 0) {
            fileSize = std::stoull(argv[i] + 11) * kChunk;
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            --i;
        }
    }
    benchmark::Initialize(&argc, argv);
    const vrexa::testsupport::TestFolder folder;
    environment.folder = folder.Path();
    // nginx workers run as an unprivileged user and must read the source.
    chmod(folder.Path().c_str(), 0755);
    environment.source = environment.folder / "data.bin";
    int result = 0;
    try {
        WriteSource();
        environment.port = FreePort();
        StartNginx();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& error) {
        std::cerr << "vrexa_http_bench: " << error.what() << "\n";
        result = 1;
    }
    StopNginx();
    benchmark::Shutdown();
    return result;
}
