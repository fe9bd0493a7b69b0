#include "manifest/XmlHttpManifestSource.h"

#include "manifest/XmlDocument.h"

namespace vrexa {

void XmlHttpManifestSource::Parse(std::istream& stream, boost::property_tree::ptree& tree) {
    ReadXmlDocument(stream, tree, GetLimits());
}

}  // namespace vrexa
