#include "manifest/tests/TreeDocuments.h"

#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "manifest/XmlDocument.h"

namespace vrexa::testing {

using boost::property_tree::ptree;

ptree XmlTree(const std::string& document) {
    std::istringstream stream(document);
    ptree tree;
    boost::property_tree::read_xml(stream, tree);
    LiftAttributes(tree);
    return tree;
}

ptree JsonTree(const std::string& document) {
    std::istringstream stream(document);
    ptree tree;
    boost::property_tree::read_json(stream, tree);
    return tree;
}

std::string FileXml(const std::string& path, const std::string& chunkSize, const std::string& size,
                    const std::string& checksums) {
    return "<file><path>" + path + "</path><chunksize>" + chunkSize + "</chunksize><size>" + size +
           "</size><checksums>" + checksums + "</checksums></file>";
}

std::string PackageXml(const std::string& files, const std::string& extra) {
    return "<package><id>P1</id><name>Demo</name><partnerId>N7</partnerId>"
           "<versionId>42</versionId>" +
           extra + "<files>" + files + "</files></package>";
}

std::string Nested(int depth, const std::string& open, const std::string& close) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

}  // namespace vrexa::testing
