#include "manifest/StandardNodeManifest.h"

#include <limits>
#include <utility>

#include "manifest/ManifestReading.h"
#include "manifest/NodeStatistics.h"

namespace vrexa {

StandardNodeManifest::StandardNodeManifest(const boost::property_tree::ptree& tree)
    : statistics_(std::make_shared<NodeStatistics>()) {
    Read(tree);
}

StandardNodeManifest::StandardNodeManifest(std::string nodeId, std::string host, std::string path, std::uint32_t weight,
                                           std::shared_ptr<NodeStatistics> statistics)
    : nodeId_(std::move(nodeId)),
      host_(std::move(host)),
      path_(NormalizePath(std::move(path))),
      weight_(static_cast<std::int32_t>(weight)),
      statistics_(statistics ? std::move(statistics) : std::make_shared<NodeStatistics>()) {}

void StandardNodeManifest::Read(const boost::property_tree::ptree& tree) {
    using namespace reading;
    Guarded([&] {
        nodeId_ = RequiredText(tree, "NodeId");
        host_ = RequiredText(tree, "Host");
        path_ = NormalizePath(OptionalText(tree, "Path", "/packages/"));
        // An unreadable weight is not worth losing a node over: it counts as 1.
        std::uint64_t weight = 1;
        if (const ptree* text = FindChild(tree, "Weight")) {
            weight = ParseDecimal(text->data(), std::numeric_limits<std::uint32_t>::max()).value_or(1);
        }
        weight_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(weight));
        if (nodeId_.empty() || host_.empty()) Reject();
    });
}

void StandardNodeManifest::Write(boost::property_tree::ptree& tree) {
    reading::Guarded([&] {
        tree.put("Node", host_);
        tree.put("Path", path_);
        tree.put("Weight", GetWeight());
        statistics_->Write(tree);
    });
}

std::shared_ptr<NodeManifest> StandardNodeManifest::CloneWithStatistics(
    std::shared_ptr<NodeStatistics> statistics) const {
    return std::make_shared<StandardNodeManifest>(nodeId_, host_, path_, GetWeight(), std::move(statistics));
}

std::string StandardNodeManifest::NormalizePath(std::string path) {
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    if (path.back() != '/') path.push_back('/');
    return path;
}

}  // namespace vrexa
