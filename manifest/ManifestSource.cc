#include "manifest/ManifestSource.h"

#include <sstream>

#include <boost/property_tree/ptree.hpp>

#include "manifest/InputManifest.h"
#include "manifest/OutputManifest.h"

namespace vrexa {

void ManifestSource::Load(const std::string& id, InputManifest& manifest) {
    std::stringstream stream;
    Fetch(id, stream);
    boost::property_tree::ptree tree;
    ParseStreaming(stream, tree, manifest.GetStreamedEntries());
    manifest.Read(tree);
}

void ManifestSource::ParseStreaming(std::istream& stream, boost::property_tree::ptree& tree, StreamedEntries*) {
    Parse(stream, tree);
}

void ManifestSink::Save(const std::string& id, OutputManifest& manifest) {
    boost::property_tree::ptree tree;
    manifest.Write(tree);
    std::stringstream stream;
    Serialize(tree, stream);
    Store(stream, id);
}

}  // namespace vrexa
