#include "analytics/TrackEventWork.h"

namespace vrexa {

void NullTrackEventWork::Describe(boost::property_tree::ptree& tree) const { tree.put("name", "NullTrackEventWork"); }

WorkStatus NullTrackEventWork::ExecuteTask() { return WorkStatus(WorkResult::Success, nullptr); }

}  // namespace vrexa
