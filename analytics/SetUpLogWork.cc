#include "analytics/SetUpLogWork.h"

#include <exception>
#include <utility>

#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonWriter.h"
#include "analytics/LogManager.h"
#include "analytics/TrackEventWork.h"

namespace vrexa {

using boost::property_tree::ptree;

SetUpLogWork::SetUpLogWork(LogManager* manager, std::shared_ptr<Work> work, WorkStatus status, std::string event,
                           std::uint32_t kind)
    : manager_(manager), work_(std::move(work)), status_(std::move(status)), event_(std::move(event)), kind_(kind) {}

void SetUpLogWork::Describe(ptree& tree) const { tree.put("name", "SetUpLogWork"); }

WorkStatus SetUpLogWork::ExecuteTask() {
    try {
        std::shared_ptr<TrackEventWork> record = manager_->CreateEventWork(static_cast<int>(kind_));
        ptree& tree = record->GetTree();
        AddJsonValue(tree, "event", event_);
        ptree params;
        work_->Describe(status_, params);
        if (params.empty()) params.put_value(kJsonEmptyObject);
        tree.push_back(ptree::value_type("params", std::move(params)));
        manager_->TrackEvent(std::move(record));
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception()));
    }
}

}  // namespace vrexa
