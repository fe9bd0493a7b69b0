#pragma once

#include <memory>

namespace vrexa {

class TransferWorkInterface;
class Work;
class Workflow;

// The creation steps every transfer workflow factory shares: a workflow
// around root on the transfer's work manager, limited to the transfer's
// running limit, handed down the tree that root already holds. Not started.
std::shared_ptr<Workflow> CreateTransferWorkflow(TransferWorkInterface& transfer, std::shared_ptr<Work> root);

}  // namespace vrexa
