#pragma once

#include <memory>

#include <boost/function.hpp>

#include "work/SimpleWorkRetryCallback.h"

namespace vrexa {

// A retry callback that forwards to a stored function. Calling a route with no
// function throws boost::bad_function_call.
class SimpleWorkRetryCallbackRoute : public SimpleWorkRetryCallback {
public:
    using Function = boost::function<void(std::shared_ptr<SimpleWork>, const WorkStatus&)>;

    SimpleWorkRetryCallbackRoute() = default;
    explicit SimpleWorkRetryCallbackRoute(Function function) : function_(std::move(function)) {}
    SimpleWorkRetryCallbackRoute(const SimpleWorkRetryCallbackRoute&) = delete;
    SimpleWorkRetryCallbackRoute& operator=(const SimpleWorkRetryCallbackRoute&) = delete;

    // Not safe while another thread may call the route.
    void SetFunction(Function f) { function_ = std::move(f); }

    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) override;

private:
    Function function_;
};

}  // namespace vrexa
