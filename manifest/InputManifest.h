#pragma once

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

// An object filled from a property tree: a fetched document or a persisted record.
// Read throws a manifest exception when the tree does not describe a valid object;
// the object is then partly filled and must be discarded.
class InputManifest {
public:
    virtual ~InputManifest() = default;
    virtual void Read(const boost::property_tree::ptree& tree) = 0;
};

}  // namespace vrexa
