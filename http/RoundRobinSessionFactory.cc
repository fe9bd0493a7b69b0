#include "http/RoundRobinSessionFactory.h"

#include "http/RoundRobinRequestPool.h"

namespace vrexa::http {

std::shared_ptr<Session> RoundRobinSessionFactory::CreateSession() {
    return std::make_shared<Session>(std::make_shared<RoundRobinRequestPool>());
}

}  // namespace vrexa::http
