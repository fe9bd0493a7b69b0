#include "workflow/LogRoutes.h"

#include "analytics/WorkLogManager.h"
#include "transfer/TransferBehavior.h"
#include "work/SimpleWork.h"

namespace vrexa {

void AddLogCompleteRoute(Work& work, const TransferBehavior& behavior, bool milestone) {
    if (behavior.logManager != nullptr) {
        work.AddCompleteCallback(&behavior.logManager->GetCompleteCallback(milestone));
    }
}

void AddLogRetryRoute(SimpleWork& work, const TransferBehavior& behavior, bool milestone) {
    if (behavior.logManager != nullptr) {
        work.AddRetryCallback(&behavior.logManager->GetRetryCallback(milestone));
    }
}

}  // namespace vrexa
