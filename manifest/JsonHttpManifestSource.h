#pragma once

#include "manifest/HttpManifestSource.h"

namespace vrexa {

// A source whose documents are JSON.
class JsonHttpManifestSource : public HttpManifestSource {
public:
    using HttpManifestSource::HttpManifestSource;
    void Parse(std::istream& stream, boost::property_tree::ptree& tree) override;
};

}  // namespace vrexa
