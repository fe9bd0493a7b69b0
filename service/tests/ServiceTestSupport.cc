#include "service/tests/ServiceTestSupport.h"

#include <fstream>
#include <sstream>

#include <boost/filesystem.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "analytics/JsonWriter.h"
#include "analytics/TrackEventWork.h"
#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "transfer/TransferProgressUpdater.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"

namespace vrexa::testing {

namespace fs = boost::filesystem;
using boost::property_tree::ptree;

std::uint64_t TestFilesystem::GetAvailableSpace(const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        askedSpaceOf_ = path;
    }
    // The real call still runs, so a path it cannot measure fails as it would.
    FilesystemImpl::GetAvailableSpace(path);
    return availableSpace.load();
}

std::string TestFilesystem::AskedSpaceOf() {
    std::lock_guard<std::mutex> guard(mutex_);
    return askedSpaceOf_;
}

RecordingLogManager::RecordingLogManager(file::Filesystem* filesystem)
    : JsonWorkLogManager(0xFFFFFFFFu, "logs", filesystem) {}

void RecordingLogManager::OnTrack(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(mutex_);
    onTrack_ = std::move(hook);
}

void RecordingLogManager::TrackEvent(std::shared_ptr<TrackEventWork> work) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        hook = onTrack_;
    }
    if (hook) hook();
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(work->GetTree().get<std::string>("event", ""));
    records_.push_back(ToJson(work->GetTree()));
}

std::vector<std::string> RecordingLogManager::Events() {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
}

std::vector<std::string> RecordingLogManager::Records() {
    std::lock_guard<std::mutex> guard(mutex_);
    return records_;
}

void RecordingLogManager::Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.clear();
    records_.clear();
}

void ScriptedWorkflow::Record(const char* call) {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back(call);
}

bool ScriptedWorkflow::Start() {
    Record("Start");
    std::lock_guard<std::mutex> guard(mutex_);
    // A workflow runs once.
    if (started_) return false;
    started_ = true;
    return true;
}

bool ScriptedWorkflow::Pause() {
    Record("Pause");
    return pauseResult.load();
}

bool ScriptedWorkflow::Resume() {
    Record("Resume");
    return resumeResult.load();
}

bool ScriptedWorkflow::Retry() {
    Record("Retry");
    return retryResult.load();
}

bool ScriptedWorkflow::Cancel(const WorkStatus& status) {
    Record("Cancel");
    {
        std::lock_guard<std::mutex> guard(mutex_);
        cancelStatus_ = status;
    }
    transfer_->GetWorkCompleteCallback().OnWorkComplete(nullptr, status);
    return true;
}

std::vector<std::string> ScriptedWorkflow::Calls() {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
}

WorkStatus ScriptedWorkflow::CancelStatus() {
    std::lock_guard<std::mutex> guard(mutex_);
    return cancelStatus_;
}

std::shared_ptr<Workflow> ScriptedWorkflowFactory::CreateWorkflow(std::shared_ptr<TransferWorkInterface> transfer) {
    if (fail.load()) throw std::runtime_error("no workflow");
    auto workflow = std::make_shared<ScriptedWorkflow>(std::move(transfer));
    std::lock_guard<std::mutex> guard(mutex_);
    workflows_.push_back(workflow);
    return workflow;
}

std::shared_ptr<ScriptedWorkflow> ScriptedWorkflowFactory::Last() {
    std::lock_guard<std::mutex> guard(mutex_);
    return workflows_.empty() ? nullptr : workflows_.back();
}

void ScriptedWorkflowFactory::ForgetAllButLast() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (workflows_.size() > 1) workflows_.erase(workflows_.begin(), workflows_.end() - 1);
}

std::size_t ScriptedWorkflowFactory::Count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return workflows_.size();
}

namespace {

ptree XmlTree(const std::string& document) {
    std::istringstream stream(document);
    ptree tree;
    boost::property_tree::read_xml(stream, tree);
    return tree;
}

}  // namespace

std::shared_ptr<PackageManifest> MakePackage(const std::string& partnerId, const std::string& packageId,
                                             const std::string& versionId,
                                             const std::vector<std::pair<std::string, std::uint64_t>>& files) {
    std::string xml = "<package><id>" + packageId + "</id><name>Demo</name><partnerId>" + partnerId +
                      "</partnerId><versionId>" + versionId + "</versionId><run>" +
                      (files.empty() ? std::string() : files.front().first) + "</run><files>";
    for (const auto& [path, size] : files) {
        // One chunk as large as the file; its checksum is never looked at here.
        const std::uint64_t chunk = size == 0 ? 1 : size;
        xml += "<file><path>" + path + "</path><chunksize>" + std::to_string(chunk) + "</chunksize><size>" +
               std::to_string(size) + "</size><checksums>" + (size == 0 ? "" : "00000000") + "</checksums></file>";
    }
    xml += "</files></package>";
    auto package = std::make_shared<StandardPackageManifest>();
    package->Read(XmlTree(xml));
    return package;
}

std::shared_ptr<NodeListManifest> MakeNodeList(const std::vector<std::string>& hosts) {
    std::string xml = "<ArrayOfNodeInfo>";
    int id = 1;
    for (const std::string& host : hosts)
        xml += "<NodeInfo><NodeId>" + std::to_string(id++) + "</NodeId><Host>" + host + "</Host></NodeInfo>";
    xml += "</ArrayOfNodeInfo>";
    auto nodeList = std::make_shared<StandardNodeListManifest>();
    nodeList->Read(XmlTree(xml));
    return nodeList;
}

std::shared_ptr<GeolocationManifest> MakeGeolocation(const std::string& country) {
    std::istringstream stream(R"({"ip":"192.0.2.1","country_code":")" + country + R"("})");
    ptree tree;
    boost::property_tree::read_json(stream, tree);
    auto geolocation = std::make_shared<StandardGeolocationManifest>();
    geolocation->Read(tree);
    return geolocation;
}

WorkStatus Success(std::shared_ptr<WorkStatusData> data) { return WorkStatus(WorkResult::Success, std::move(data)); }

void ReportInitialized(const std::shared_ptr<TransferWorkInterface>& door, std::shared_ptr<PackageManifest> package) {
    door->GetPackageAcquireCallback().OnWorkComplete(nullptr,
                                                     Success(std::make_shared<PackageStatusData>(std::move(package))));
    door->GetNodeListAcquireCallback().OnWorkComplete(
        nullptr, Success(std::make_shared<NodeListStatusData>(MakeNodeList({"a.test", "b.test"}))));
    door->GetGeolocationCallback().OnWorkComplete(
        nullptr, Success(std::make_shared<GeolocationStatusData>(MakeGeolocation("SE"))));
    door->GetInitializeCallback().OnWorkComplete(nullptr, Success());
}

void ReportComplete(const std::shared_ptr<TransferWorkInterface>& door, std::uint64_t totalBytes) {
    auto progress = door->GetProgress();
    progress->AddDownloaded(totalBytes);
    progress->AddCompleted(totalBytes);
    progress->AddVerified(totalBytes);
    door->GetWorkCompleteCallback().OnWorkComplete(nullptr, Success());
}

}  // namespace vrexa::testing
