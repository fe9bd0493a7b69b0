#pragma once

#include <memory>

#include "http/Session.h"

namespace vrexa::http {

class SessionFactory {
public:
    virtual ~SessionFactory() = default;
    virtual std::shared_ptr<Session> CreateSession() = 0;
};

}  // namespace vrexa::http
