#include "service/StandardTransferData.h"

#include "http/SessionFactory.h"

namespace vrexa {

StandardTransferData::StandardTransferData(const TransferParams& initialParams, const TransferBehavior& initialBehavior)
    : params(initialParams),
      behavior(initialBehavior),
      status(params, behavior.estimateWindow, behavior.estimateInterval) {
    if (behavior.sessionFactory != nullptr) session = behavior.sessionFactory->CreateSession();
}

std::shared_ptr<http::Session> StandardTransferData::GetSession() {
    std::lock_guard<std::mutex> guard(sessionMutex);
    return session;
}

void StandardTransferData::SetSession(std::shared_ptr<http::Session> replacement) {
    std::lock_guard<std::mutex> guard(sessionMutex);
    session = std::move(replacement);
}

}  // namespace vrexa
