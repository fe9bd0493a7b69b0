#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "work/SimpleWork.h"
#include "work/WorkStatus.h"

namespace vrexa {

class LogManager;

// Builds the log record of a work's outcome on a log thread and tracks it. The
// work is described when this task runs, so the record shows its state at
// that moment; the status is the one reported.
class SetUpLogWork : public SimpleWork {
public:
    SetUpLogWork(LogManager* manager, std::shared_ptr<Work> work, WorkStatus status, std::string event,
                 std::uint32_t kind);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}

private:
    LogManager* const manager_;
    const std::shared_ptr<Work> work_;
    const WorkStatus status_;
    const std::string event_;
    const std::uint32_t kind_;
};

}  // namespace vrexa
