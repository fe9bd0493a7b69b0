#include "work/NoOpWork.h"

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

void NoOpWork::Describe(boost::property_tree::ptree& tree) const { tree.put("name", "NoOpWork"); }

WorkStatus NoOpWork::ExecuteTask() { return WorkStatus(WorkResult::Success, nullptr); }

void NoOpWork::OnCancel() {}

}  // namespace vrexa
