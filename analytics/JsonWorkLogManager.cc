#include "analytics/JsonWorkLogManager.h"

#include <exception>
#include <utility>

#include "analytics/JsonWriter.h"

namespace vrexa {

JsonWorkLogManager::JsonWorkLogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem,
                                       Clock clock, std::size_t maxBacklog)
    : WorkLogManager(logMask, std::move(logsFolder), filesystem, std::move(clock), maxBacklog) {}

JsonWorkLogManager::~JsonWorkLogManager() {
    // Records in the queue use the routes, the file and the mutex: write them
    // while all of those are still here.
    Drain();
}

std::shared_ptr<TrackEventWork> JsonWorkLogManager::CreateEventWork(int kind) {
    return std::make_shared<JsonLogEventWork>(kind, this);
}

void JsonLogEventWork::Describe(boost::property_tree::ptree& tree) const { tree.put("name", "JsonLogEventWork"); }

WorkStatus JsonLogEventWork::ExecuteTask() {
    try {
        const auto kind = static_cast<std::uint32_t>(GetKind());
        if ((kind & manager_->GetLogMask()) != 0) manager_->WriteLine(kind, ToJson(GetTree()));
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception()));
    }
}

}  // namespace vrexa
