#pragma once

#include "manifest/HttpManifestSource.h"

namespace vrexa {

// A source whose documents are XML, read with attributes lifted into children.
class XmlHttpManifestSource : public HttpManifestSource {
public:
    using HttpManifestSource::HttpManifestSource;
    void Parse(std::istream& stream, boost::property_tree::ptree& tree) override;
    void ParseStreaming(std::istream& stream, boost::property_tree::ptree& tree, StreamedEntries* entries) override;
};

}  // namespace vrexa
