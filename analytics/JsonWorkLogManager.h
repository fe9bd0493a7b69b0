#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "analytics/TrackEventWork.h"
#include "analytics/WorkLogManager.h"

namespace vrexa {

// Writes each record's tree as one compact JSON line. Destroying it first
// writes every record already posted, including those whose set-up is still
// queued.
class JsonWorkLogManager : public WorkLogManager {
public:
    JsonWorkLogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem,
                       Clock clock = Clock(), std::size_t maxBacklog = kMaxBacklog);
    ~JsonWorkLogManager() override;

    std::shared_ptr<TrackEventWork> CreateEventWork(int kind) override;
};

// One log record: written by its manager when its kind passes the mask.
class JsonLogEventWork : public TrackEventWork {
public:
    JsonLogEventWork(int kind, LogManager* manager) : TrackEventWork(kind), manager_(manager) {}

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}

private:
    LogManager* const manager_;
};

}  // namespace vrexa
