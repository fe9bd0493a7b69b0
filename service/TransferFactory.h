#pragma once

#include <memory>

namespace vrexa {

class Transfer;
class TransferBehavior;
class TransferParams;

// Makes the transfer object for a manager; params already carry the id.
class TransferFactory {
public:
    TransferFactory() = default;
    TransferFactory(const TransferFactory&) = delete;
    TransferFactory& operator=(const TransferFactory&) = delete;
    virtual ~TransferFactory() = default;

    virtual std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) = 0;
};

}  // namespace vrexa
