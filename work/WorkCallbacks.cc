#include "work/WorkCallbacks.h"

#include "work/SimpleWork.h"
#include "work/WorkStatus.h"

namespace vrexa {

// boost::function throws bad_function_call ("call to empty boost::function")
// when empty, which is what callers of an unset route get.
void WorkCompleteCallbackRoute::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    function_(std::move(work), status);
}

void SimpleWorkRetryCallbackRoute::OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
    function_(std::move(work), status);
}

}  // namespace vrexa
