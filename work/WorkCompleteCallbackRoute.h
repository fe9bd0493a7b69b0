#pragma once

#include <memory>

#include <boost/function.hpp>

#include "work/WorkCompleteCallback.h"

namespace vrexa {

// A complete callback that forwards to a stored function, so that a manager can
// offer several callbacks without deriving from the interface. Calling a route
// with no function throws boost::bad_function_call.
class WorkCompleteCallbackRoute : public WorkCompleteCallback {
public:
    using Function = boost::function<void(std::shared_ptr<Work>, const WorkStatus&)>;

    WorkCompleteCallbackRoute() = default;
    explicit WorkCompleteCallbackRoute(Function function) : function_(std::move(function)) {}
    WorkCompleteCallbackRoute(const WorkCompleteCallbackRoute&) = delete;
    WorkCompleteCallbackRoute& operator=(const WorkCompleteCallbackRoute&) = delete;

    // Not safe while another thread may call the route.
    void SetFunction(Function f) { function_ = std::move(f); }

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;

private:
    Function function_;
};

}  // namespace vrexa
