#pragma once

#include "http/SessionFactory.h"

namespace vrexa::http {

// Sessions with a fresh RoundRobinRequestPool and no proxy yet.
class RoundRobinSessionFactory : public SessionFactory {
public:
    std::shared_ptr<Session> CreateSession() override;
};

}  // namespace vrexa::http
