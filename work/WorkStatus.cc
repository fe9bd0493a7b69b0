#include "work/WorkStatus.h"

#include <string>

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

void WorkStatus::Describe(boost::property_tree::ptree& tree) const {
    tree.put("result", std::to_string(static_cast<int>(result)));
    tree.put("retry", retry ? "true" : "false");
    if (data) {
        boost::property_tree::ptree dataTree;
        data->Describe(dataTree);
        tree.add_child("data", dataTree);
    }
}

}  // namespace vrexa
