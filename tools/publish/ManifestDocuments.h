#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "manifest/Sha256Digest.h"

#include "tools/publish/PublishOptions.h"

namespace vrexa::publish {

// One published file as its manifest entry describes it.
struct PublishedFile {
    std::string path;  // relative, "/" separators
    std::uint64_t size = 0;
    std::vector<std::uint32_t> checksums;  // one CRC-32 per chunk
    std::vector<Sha256Digest> sha256s;     // one SHA-256 per chunk
};

// The package manifest document ("package" with its identifiers, the version
// block and the "files" list), in the layout the engine's reader expects.
boost::property_tree::ptree PackageManifestTree(const PublishOptions& options, const std::vector<PublishedFile>& files);

// Eight hexadecimal digits per checksum, in chunk order.
std::string ChecksumText(const std::vector<std::uint32_t>& checksums);

// The node list document: `existing` (an "ArrayOfNodeInfo" tree, or an empty
// tree) with each node of `nodes` replacing the "NodeInfo" of the same id in
// place, or appended when its id is new. Throws std::runtime_error when
// `existing` is not a node list.
boost::property_tree::ptree NodeListTree(const boost::property_tree::ptree& existing,
                                         const std::vector<NodeSpec>& nodes);

// Takes the "NodeInfo" entries with these ids out of a node list document;
// returns the ids it did not find.
std::vector<std::string> RemoveNodes(boost::property_tree::ptree& document, const std::vector<std::string>& ids);

// The number of "NodeInfo" entries of a node list document.
std::size_t NodeCount(const boost::property_tree::ptree& document);

// The document as UTF-8 XML text, indented; element texts are written exactly,
// since the engine reads them without trimming.
std::string XmlText(const boost::property_tree::ptree& tree);

}  // namespace vrexa::publish
