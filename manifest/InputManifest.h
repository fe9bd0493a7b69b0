#pragma once

#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

// Child elements at one path of a document, read one at a time while the
// document is converted instead of from the finished tree: a package of a
// hundred thousand files then never exists as one tree of a hundred thousand
// entries, each several nodes of its own.
class StreamedEntries {
public:
    virtual ~StreamedEntries() = default;

    // Element names from the document element down, such as
    // {"package", "files"}.
    virtual const std::vector<std::string>& EntriesPath() const = 0;
    // Called before the first entry when a document is read this way. The
    // tree then handed to Read holds the element at the path without the
    // entries (its text and attributes stay).
    virtual void BeginEntries() = 0;
    // Called when the reader gives up this way after BeginEntries: the
    // entries handed over are void, and the document is read again (perhaps
    // streaming again, from a new BeginEntries).
    virtual void DropEntries() = 0;
    // One child (an element or a comment) as the tree would hold it: its key
    // and its subtree, attributes lifted. Throws a manifest exception when the
    // entry is wrong.
    virtual void ReadEntry(const std::string& key, const boost::property_tree::ptree& entry) = 0;
};

// An object filled from a property tree: a fetched document or a persisted record.
// Read throws a manifest exception when the tree does not describe a valid object;
// the object is then partly filled and must be discarded.
class InputManifest {
public:
    virtual ~InputManifest() = default;
    virtual void Read(const boost::property_tree::ptree& tree) = 0;

    // The entries this object reads one at a time from sources that can hand
    // them over so; null when it reads everything from the tree.
    virtual StreamedEntries* GetStreamedEntries() { return nullptr; }
};

}  // namespace vrexa
