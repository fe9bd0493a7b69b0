#include "tools/publish/ManifestDocuments.h"

#include <cstdio>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <boost/property_tree/xml_parser.hpp>

namespace vrexa::publish {
namespace {

using boost::property_tree::ptree;

// The id may be written as an element or as an attribute.
std::optional<std::string> NodeIdOf(const ptree& info) {
    for (const char* key : {"NodeId", "<xmlattr>.NodeId"}) {
        if (auto id = info.get_optional<std::string>(key)) {
            return *id;
        }
    }
    return std::nullopt;
}

ptree NodeInfo(const NodeSpec& node) {
    ptree info;
    info.put("NodeId", node.id);
    info.put("Host", node.host);
    info.put("Path", node.path);
    info.put("Weight", std::to_string(node.weight));
    return info;
}

}  // namespace

std::string ChecksumText(const std::vector<std::uint32_t>& checksums) {
    std::string text(checksums.size() * 8, '0');
    char group[9];
    for (std::size_t i = 0; i < checksums.size(); ++i) {
        std::snprintf(group, sizeof group, "%08x", static_cast<unsigned>(checksums[i]));
        text.replace(i * 8, 8, group, 8);
    }
    return text;
}

ptree PackageManifestTree(const PublishOptions& options, const std::vector<PublishedFile>& files) {
    ptree package;
    package.put("id", options.packageId);
    package.put("name", options.name);
    package.put("partnerId", options.partnerId);
    package.put("versionId", options.versionId);
    if (!options.run.empty()) {
        package.put("run", options.run);
    }
    package.put("isActive", options.active ? "true" : "false");

    ptree version;
    version.put("id", options.versionId);
    if (!options.run.empty()) {
        version.put("run", options.run);
    }
    version.put("policy", std::string(CountryPolicyName(options.policy)));
    if (!options.countries.empty()) {
        ptree codes;
        for (const auto& code : options.countries) {
            codes.add("countryCode", code);
        }
        version.add_child("countryCodes", codes);
    }
    package.add_child("version", version);

    ptree list;
    for (const auto& file : files) {
        ptree entry;
        entry.put("path", file.path);
        entry.put("chunksize", std::to_string(options.chunkSize));
        entry.put("size", std::to_string(file.size));
        entry.put("checksums", ChecksumText(file.checksums));
        // Readers that know only the CRC-32 list skip this element; readers
        // that know it refuse any chunk that does not match it.
        entry.put("sha256", Sha256ListText(file.sha256s));
        list.push_back({"file", entry});
    }
    // An empty "files" element still has to be present.
    package.add_child("files", list);

    ptree document;
    document.add_child("package", package);
    return document;
}

ptree NodeListTree(const ptree& existing, const std::vector<NodeSpec>& nodes) {
    ptree document;
    if (existing.empty()) {
        document.add_child("ArrayOfNodeInfo", ptree());
    } else {
        if (existing.size() != 1 || existing.front().first != "ArrayOfNodeInfo") {
            throw std::runtime_error("its document element is not ArrayOfNodeInfo");
        }
        document = existing;
    }
    ptree& list = document.get_child("ArrayOfNodeInfo");
    for (const auto& node : nodes) {
        bool replaced = false;
        for (auto& [key, info] : list) {
            if (key == "NodeInfo" && NodeIdOf(info) == node.id) {
                info = NodeInfo(node);
                replaced = true;
            }
        }
        if (!replaced) {
            list.push_back({"NodeInfo", NodeInfo(node)});
        }
    }
    return document;
}

std::vector<std::string> RemoveNodes(ptree& document, const std::vector<std::string>& ids) {
    std::vector<std::string> missing;
    ptree& list = document.get_child("ArrayOfNodeInfo");
    for (const auto& id : ids) {
        bool found = false;
        for (auto it = list.begin(); it != list.end();) {
            if (it->first == "NodeInfo" && NodeIdOf(it->second) == id) {
                it = list.erase(it);
                found = true;
            } else {
                ++it;
            }
        }
        if (!found) {
            missing.push_back(id);
        }
    }
    return missing;
}

std::size_t NodeCount(const ptree& document) { return document.get_child("ArrayOfNodeInfo").count("NodeInfo"); }

std::string XmlText(const ptree& tree) {
    std::ostringstream out;
    boost::property_tree::write_xml(out, tree, boost::property_tree::xml_writer_make_settings<std::string>(' ', 2));
    return out.str();
}

}  // namespace vrexa::publish
