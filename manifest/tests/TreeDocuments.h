#pragma once

#include <string>

#include <boost/property_tree/ptree.hpp>

namespace vrexa::testing {

// An XML document as the manifest sources hand it to Read: attributes are
// lifted into children of their element, after the element's own children.
boost::property_tree::ptree XmlTree(const std::string& document);

// A JSON document as a tree.
boost::property_tree::ptree JsonTree(const std::string& document);

// Small builders for package manifest documents.
std::string FileXml(const std::string& path, const std::string& chunkSize, const std::string& size,
                    const std::string& checksums);
// A package "P1" named "Demo" of partner "N7" in version "42"; `extra` goes
// before the files element, `files` inside it.
std::string PackageXml(const std::string& files, const std::string& extra = "");

// open repeated depth times, then close as often: a document nested depth deep.
std::string Nested(int depth, const std::string& open, const std::string& close);

}  // namespace vrexa::testing
