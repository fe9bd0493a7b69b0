#include "manifest/XmlHttpManifestSource.h"

#include "manifest/XmlDocument.h"

namespace vrexa {

void XmlHttpManifestSource::Parse(std::istream& stream, boost::property_tree::ptree& tree) {
    ReadXmlDocument(stream, tree, GetLimits());
}

void XmlHttpManifestSource::ParseStreaming(std::istream& stream, boost::property_tree::ptree& tree,
                                           StreamedEntries* entries) {
    ReadXmlDocument(stream, tree, GetLimits(), entries);
}

}  // namespace vrexa
