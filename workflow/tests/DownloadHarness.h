#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "file/posix/FilesystemImpl.h"
#include "http/CurlRequestFactory.h"
#include "http/ManualProxy.h"
#include "http/ProxyFactory.h"
#include "http/RoundRobinSessionFactory.h"
#include "manifest/NodeListManifest.h"
#include "manifest/PackageManifest.h"
#include "manifest/StandardFileManifest.h"
#include "optimizer/ProportionalGamblingTransferOptimizer.h"
#include "transfer/TransferError.h"
#include "transfer/TransferProgressUpdater.h"
#include "transfer/TransferWorkInterface.h"
#include "work/WorkCompleteCallback.h"
#include "work/WorkStatus.h"
#include "work/WorkflowRetryableErrorCallback.h"

namespace vrexa::downloadtest {

// Progress counters as the transfer keeps them, plus the highest completed
// count ever seen, so a test can tell a chunk was never counted twice.
class CountingProgress : public TransferProgressUpdater {
public:
    void AddCompleted(std::uint64_t bytes) override;
    void SubtractCompleted(std::uint64_t bytes) override;
    void AddVerified(std::uint64_t bytes) override { verified += bytes; }
    void AddDownloaded(std::uint64_t bytes) override { downloaded += bytes; }

    std::atomic<std::int64_t> completed{0};
    std::atomic<std::int64_t> highestCompleted{0};
    std::atomic<std::uint64_t> verified{0};
    std::atomic<std::uint64_t> downloaded{0};
};

// A package made in code.
class FixedPackage : public PackageManifest {
public:
    FixedPackage(std::string partner, std::string id, std::string version, std::string run, Files files);
    void Read(const boost::property_tree::ptree&) override {}
    const std::string& GetId() const override { return id_; }
    const std::string& GetName() const override { return id_; }
    const std::string& GetPartnerId() const override { return partner_; }
    const std::string& GetVersionId() const override { return version_; }
    bool IsActive() const override { return true; }
    const Files& GetFiles() const override { return files_; }
    const Files& GetRunFiles() const override { return runFiles_; }
    const Files& GetOtherFiles() const override { return otherFiles_; }
    const std::string& GetRun() const override { return run_; }
    std::shared_ptr<FileManifest> GetRunFile() const override;
    bool IsCountryAllowed(const std::string&) const override { return true; }

private:
    std::string partner_, id_, version_, run_;
    Files files_, runFiles_, otherFiles_;
};

class FixedNodes : public NodeListManifest {
public:
    explicit FixedNodes(Nodes nodes) : nodes_(std::move(nodes)) {}
    void Read(const boost::property_tree::ptree&) override {}
    const Nodes& GetNodes() const override { return nodes_; }

private:
    Nodes nodes_;
};

// The file manifest of content, cut into chunks of chunkSize.
std::shared_ptr<StandardFileManifest> ManifestOf(const std::string& path, const std::string& content,
                                                 std::uint32_t chunkSize);

class DirectProxies : public http::ProxyFactory {
public:
    std::shared_ptr<http::Proxy> Create() override { return std::make_shared<http::EmptyProxy>(); }
};

// Requests made by libcurl, counted while they perform: how many chunk
// requests were in flight at once.
class CountingRequestFactory : public http::RequestFactory {
public:
    explicit CountingRequestFactory(http::ProxyFactory& proxies) : RequestFactory(proxies), curl_(proxies) {}
    std::shared_ptr<http::Request> Create(const http::RequestParams& params,
                                          std::shared_ptr<http::Proxy> proxy) override;

    std::atomic<int> inFlight{0};
    std::atomic<int> highest{0};

private:
    http::CurlRequestFactory curl_;
};

// The transfer a work tree runs for, with real components: the file system,
// libcurl requests through a pooled session, the optimizer. Settings may be
// changed before the first work is built; the optimizer is made from them
// then.
class DownloadTransfer : public TransferWorkInterface {
public:
    DownloadTransfer();
    ~DownloadTransfer() override;

    // Makes the optimizer from the current settings; call once, before
    // building works.
    void Finish();

    TransferParams GetParams() override;
    TransferParams& Params() override { return params_; }
    const TransferParams& Params() const override { return params_; }
    TransferBehavior& GetBehavior() override { return behavior_; }
    std::shared_ptr<PackageManifest> GetPackage() override { return package_; }
    std::shared_ptr<NodeListManifest> GetNodeList() override { return nodes_; }
    std::shared_ptr<GeolocationManifest> GetGeolocation() override { return nullptr; }
    std::shared_ptr<TransferProgressUpdater> GetProgress() override { return progress_; }
    std::shared_ptr<http::Session> GetSession() override { return session_; }
    WorkCompleteCallback& GetWorkCompleteCallback() override { return ignored_; }
    WorkCompleteCallback& GetPackageAcquireCallback() override { return ignored_; }
    WorkCompleteCallback& GetNodeListAcquireCallback() override { return ignored_; }
    WorkCompleteCallback& GetGeolocationCallback() override { return ignored_; }
    WorkCompleteCallback& GetInitializeCallback() override { return ignored_; }
    WorkflowRetryableErrorCallback& GetRetryableErrorCallback() override { return ignoredRetry_; }
    void AddOutputFile(const std::string& relativePath) override;

    std::vector<std::string> OutputFiles();

    std::shared_ptr<PackageManifest> package_;
    std::shared_ptr<NodeListManifest> nodes_;
    std::shared_ptr<CountingProgress> progress_ = std::make_shared<CountingProgress>();

private:
    class Ignored : public WorkCompleteCallback, public WorkflowRetryableErrorCallback {
    public:
        void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override {}
        void OnWorkflowRetryableError(std::shared_ptr<Workflow>, std::shared_ptr<Work>, const WorkStatus&) override {}
    };

    std::mutex mutex_;
    TransferParams params_;
    TransferBehavior behavior_;
    file::posix::FilesystemImpl filesystem_;
    DirectProxies proxies_;

public:
    CountingRequestFactory requests_{proxies_};

private:
    http::RoundRobinSessionFactory sessions_;
    std::shared_ptr<http::Session> session_;
    std::unique_ptr<ProportionalGamblingTransferOptimizer> optimizer_;
    Ignored ignored_;
    Ignored ignoredRetry_;
    std::vector<std::string> outputFiles_;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::filesystem::path& path);
// Writes data as the file's whole content, creating its folders.
void WriteFile(const std::filesystem::path& path, const std::string& data);
// The transfer error a status carries, if it carries one.
std::optional<TransferError> ErrorOf(const WorkStatus& status);

// How a run of a work tree ended.
struct RunOutcome {
    bool finished = false;   // the root reported a final status
    bool suspended = false;  // a retryable error suspended the workflow
    WorkStatus status;       // the root's final status, or the suspending one
};

// Runs root on a StandardWorkflow with an AsioWorkManager of threads threads
// (at most maxRunning works at once) until it finishes or suspends, or the
// deadline passes (then finished and suspended are both false).
RunOutcome RunTree(std::shared_ptr<Work> root, unsigned threads, int maxRunning,
                   std::chrono::seconds deadline = std::chrono::seconds(120));

}  // namespace vrexa::downloadtest
