#include "manifest/JsonHttpManifestSource.h"

#include "manifest/JsonDocument.h"

namespace vrexa {

void JsonHttpManifestSource::Parse(std::istream& stream, boost::property_tree::ptree& tree) {
    ReadJsonDocument(stream, tree, GetLimits());
}

}  // namespace vrexa
