#pragma once

namespace vrexa {

class SimpleWork;
class TransferBehavior;
class Work;

// Registers the log manager's completion route on a work: the milestone route
// logs its successes under the default mask, the ordinary one does not. A
// transfer without a log manager logs nothing.
void AddLogCompleteRoute(Work& work, const TransferBehavior& behavior, bool milestone);
// The same for the route that logs a simple work's in-place retries.
void AddLogRetryRoute(SimpleWork& work, const TransferBehavior& behavior, bool milestone);

}  // namespace vrexa
