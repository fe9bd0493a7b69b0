#pragma once

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

// An object that adds its keys to a property tree, for logs, analytics and
// persisted records.
class OutputManifest {
public:
    virtual ~OutputManifest() = default;
    virtual void Write(boost::property_tree::ptree& tree) = 0;
};

}  // namespace vrexa
