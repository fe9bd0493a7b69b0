#pragma once

#include <boost/property_tree/ptree_fwd.hpp>

namespace vrexa {

// Anything that is logged or reported writes its own keys into a property tree,
// which the log and analytics layers later turn into JSON.
class WorkDescriptor {
public:
    virtual ~WorkDescriptor() = default;
    virtual void Describe(boost::property_tree::ptree& tree) const = 0;

protected:
    WorkDescriptor() = default;
    WorkDescriptor(const WorkDescriptor&) = default;
    WorkDescriptor(WorkDescriptor&&) = default;
    WorkDescriptor& operator=(const WorkDescriptor&) = default;
    WorkDescriptor& operator=(WorkDescriptor&&) = default;
};

}  // namespace vrexa
