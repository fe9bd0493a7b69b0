#pragma once

#include <iostream>
#include <string>

#include <boost/property_tree/ptree_fwd.hpp>

namespace vrexa {

class InputManifest;
class OutputManifest;
class StreamedEntries;

// Where a document comes from: Fetch writes the raw document named id into a
// stream, Parse turns raw text into a property tree. Failures are manifest
// exceptions (or std::bad_alloc) and pass through Load unchanged.
class ManifestSource {
public:
    virtual ~ManifestSource() = default;

    virtual void Fetch(const std::string& id, std::iostream& stream) = 0;
    virtual void Parse(std::istream& stream, boost::property_tree::ptree& tree) = 0;
    // Parse, handing the entries at entries' path to it one at a time where
    // the format allows (entries may be null). By default, Parse.
    virtual void ParseStreaming(std::istream& stream, boost::property_tree::ptree& tree, StreamedEntries* entries);

    // Fetch, ParseStreaming with the manifest's streamed entries, then
    // manifest.Read.
    void Load(const std::string& id, InputManifest& manifest);
};

// Where a document goes: Serialize writes a tree as raw text, Store keeps the
// text under id.
class ManifestSink {
public:
    virtual ~ManifestSink() = default;

    virtual void Serialize(const boost::property_tree::ptree& tree, std::ostream& stream) = 0;
    virtual void Store(std::iostream& stream, const std::string& id) = 0;

    // manifest.Write, Serialize, then Store.
    void Save(const std::string& id, OutputManifest& manifest);
};

}  // namespace vrexa
