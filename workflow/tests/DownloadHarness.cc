#include "workflow/tests/DownloadHarness.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>

#include "manifest/ChunkChecksum.h"
#include "transfer/TransferStatusData.h"
#include "work/AsioWorkManager.h"
#include "work/StandardWorkflow.h"
#include "work/Work.h"

namespace vrexa::downloadtest {

void CountingProgress::AddCompleted(std::uint64_t bytes) {
    const std::int64_t now = completed += static_cast<std::int64_t>(bytes);
    std::int64_t seen = highestCompleted.load();
    while (now > seen && !highestCompleted.compare_exchange_weak(seen, now)) {
    }
}

void CountingProgress::SubtractCompleted(std::uint64_t bytes) { completed -= static_cast<std::int64_t>(bytes); }

namespace {

class CountingRequest : public http::Request {
public:
    CountingRequest(std::shared_ptr<http::Request> inner, CountingRequestFactory& factory,
                    const http::RequestParams& params)
        : Request(params, nullptr), inner_(std::move(inner)), factory_(factory) {}
    http::RequestStatus Perform() override {
        const int now = ++factory_.inFlight;
        int seen = factory_.highest.load();
        while (now > seen && !factory_.highest.compare_exchange_weak(seen, now)) {
        }
        http::RequestStatus status = inner_->Perform();
        --factory_.inFlight;
        return status;
    }
    http::RequestStatus GetStatus() override { return inner_->GetStatus(); }
    void Abort() override { inner_->Abort(); }
    bool Reset(const http::RequestParams& params, std::shared_ptr<http::Proxy> proxy) override {
        return inner_->Reset(params, std::move(proxy));
    }

private:
    std::shared_ptr<http::Request> inner_;
    CountingRequestFactory& factory_;
};

}  // namespace

std::shared_ptr<http::Request> CountingRequestFactory::Create(const http::RequestParams& params,
                                                              std::shared_ptr<http::Proxy> proxy) {
    return std::make_shared<CountingRequest>(curl_.Create(params, std::move(proxy)), *this, params);
}

FixedPackage::FixedPackage(std::string partner, std::string id, std::string version, std::string run, Files files)
    : partner_(std::move(partner)),
      id_(std::move(id)),
      version_(std::move(version)),
      run_(std::move(run)),
      files_(std::move(files)) {
    for (const auto& file : files_) {
        (file->GetPath() == run_ ? runFiles_ : otherFiles_).push_back(file);
    }
}

std::shared_ptr<FileManifest> FixedPackage::GetRunFile() const {
    return runFiles_.empty() ? nullptr : runFiles_.back();
}

std::shared_ptr<StandardFileManifest> ManifestOf(const std::string& path, const std::string& content,
                                                 std::uint32_t chunkSize) {
    std::vector<std::uint32_t> checksums;
    for (std::size_t at = 0; at < content.size(); at += chunkSize) {
        const std::size_t length = std::min<std::size_t>(chunkSize, content.size() - at);
        checksums.push_back(ChunkChecksum(content.data() + at, length));
    }
    return std::make_shared<StandardFileManifest>(path, chunkSize, content.size(), std::move(checksums));
}

DownloadTransfer::DownloadTransfer() {
    params_.transferId = "0123456789abcdef0123456789abcdef";
    params_.partnerId = "p1";
    params_.packageId = "k1";
    params_.versionId = "v1";
    behavior_.filesystem = &filesystem_;
    behavior_.requestFactory = &requests_;
    behavior_.sessionFactory = &sessions_;
    session_ = sessions_.CreateSession();
    // Tests fail fast: short timeouts and floors reached in a second.
    behavior_.minConnectTimeout = 2;
    behavior_.exploreConnectTimeout = 2;
    behavior_.minRequestTimeout = 10;
    behavior_.exploreMinRequestTimeout = 10;
    behavior_.minLowSpeedTime = 1;
    behavior_.exploreLowSpeedTime = 1;
    behavior_.maxLowSpeedTime = 2;
}

DownloadTransfer::~DownloadTransfer() = default;

void DownloadTransfer::Finish() {
    optimizer_ = std::make_unique<ProportionalGamblingTransferOptimizer>(behavior_, 7);
    behavior_.optimizer = optimizer_.get();
}

TransferParams DownloadTransfer::GetParams() {
    const std::lock_guard lock(mutex_);
    return params_;
}

void DownloadTransfer::AddOutputFile(const std::string& relativePath) {
    const std::lock_guard lock(mutex_);
    outputFiles_.push_back(relativePath);
}

std::vector<std::string> DownloadTransfer::OutputFiles() {
    const std::lock_guard lock(mutex_);
    return outputFiles_;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::string& data) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::optional<TransferError> ErrorOf(const WorkStatus& status) {
    if (const auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data)) {
        return data->ToTransferError();
    }
    return std::nullopt;
}

namespace {

class Outcome : public WorkCompleteCallback, public WorkflowRetryableErrorCallback {
public:
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus& status) override {
        if (!status.IsFinal()) {
            return;
        }
        const std::lock_guard lock(mutex);
        outcome.finished = true;
        outcome.status = status;
        changed.notify_all();
    }
    void OnWorkflowRetryableError(std::shared_ptr<Workflow>, std::shared_ptr<Work>, const WorkStatus& status) override {
        const std::lock_guard lock(mutex);
        outcome.suspended = true;
        outcome.status = status;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    RunOutcome outcome;
};

}  // namespace

RunOutcome RunTree(std::shared_ptr<Work> root, unsigned threads, int maxRunning, std::chrono::seconds deadline) {
    Outcome outcome;
    root->AddCompleteCallback(&outcome);
    AsioWorkManager manager(threads, false);
    auto workflow = std::make_shared<StandardWorkflow>(root, &manager, maxRunning);
    workflow->AddRetryableErrorCallback(&outcome);
    root->SetWorkflow(workflow);
    workflow->Start();
    RunOutcome result;
    {
        std::unique_lock lock(outcome.mutex);
        outcome.changed.wait_for(lock, deadline, [&] { return outcome.outcome.finished || outcome.outcome.suspended; });
        result = outcome.outcome;
    }
    workflow->Cancel(WorkStatus(WorkResult::Cancelled, nullptr));
    return result;
}

}  // namespace vrexa::downloadtest
