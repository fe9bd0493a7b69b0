#pragma once

#include "manifest/NodeManifest.h"

namespace vrexa {

// A "NodeInfo" entry of the node list: "NodeId", "Host", optional "Path"
// (default "/packages/") and "Weight" (default 1).
class StandardNodeManifest : public NodeManifest {
public:
    // Reads the entry at once; throws ManifestParseException when it is invalid.
    explicit StandardNodeManifest(const boost::property_tree::ptree& tree);
    // A node made in code; the path is given its leading and trailing "/" and
    // null statistics are replaced by empty ones.
    StandardNodeManifest(std::string nodeId, std::string host, std::string path, std::uint32_t weight = 1,
                         std::shared_ptr<NodeStatistics> statistics = nullptr);

    void Read(const boost::property_tree::ptree& tree) override;
    // "Node" (the host), "Path", "Weight", then the statistics' keys.
    void Write(boost::property_tree::ptree& tree) override;

    const std::string& GetNodeId() const override { return nodeId_; }
    const std::string& GetHost() const override { return host_; }
    const std::string& GetPath() const override { return path_; }
    std::uint32_t GetWeight() const override { return static_cast<std::uint32_t>(weight_); }
    void ResetWeight() override { weight_ = 1; }
    std::shared_ptr<NodeStatistics> GetStatistics() const override { return statistics_; }
    std::shared_ptr<NodeManifest> CloneWithStatistics(std::shared_ptr<NodeStatistics> statistics) const override;

    // "cdn" -> "/cdn/", "" -> "/".
    static std::string NormalizePath(std::string path);

private:
    std::string nodeId_;
    std::string host_;
    std::string path_;
    // Weights are unsigned 32-bit values kept in a signed field.
    std::int32_t weight_ = 1;
    std::shared_ptr<NodeStatistics> statistics_;
};

}  // namespace vrexa
