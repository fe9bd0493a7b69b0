#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <boost/property_tree/ptree.hpp>

#include "analytics/TrackEventWork.h"
#include "analytics/TransferEvent.h"

namespace vrexa {

// "true" or "false".
std::string CallResultText(bool value);
// Appends "returned" and "data" to a transfer event's log record.
void AppendCallRecord(boost::property_tree::ptree& record, const std::string& returned,
                      boost::property_tree::ptree data);

// The answer of a transfer query, logged with what it was asked: the log
// record of a transfer event, then "returned" and "data".
template <class Result>
class TransferCallEvent : public TransferLogEvent {
public:
    TransferCallEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name, Result returned)
        : TransferLogEvent(params, behavior, std::move(name)), returned_(returned) {}

    const Result& GetReturned() const { return returned_; }

protected:
    void FillLog(TrackEventWork& work) override {
        TransferLogEvent::FillLog(work);
        boost::property_tree::ptree data;
        FillData(data);
        AppendCallRecord(work.GetTree(), CallResultText(returned_), std::move(data));
    }
    // The call's arguments, in the order the record shows them.
    virtual void FillData(boost::property_tree::ptree& data) = 0;

    const Result returned_;
};

// Whether the package fits at a destination.
class CanTransferToEvent : public TransferCallEvent<bool> {
public:
    CanTransferToEvent(const TransferParams& params, const TransferBehavior& behavior, bool returned,
                       std::string destPath, std::uint64_t allocatedSpace, std::uint64_t availableSpace,
                       std::uint64_t transferSize);

protected:
    void FillData(boost::property_tree::ptree& data) override;

private:
    const std::string destPath_;
    const std::uint64_t allocatedSpace_;  // bytes of the package already present
    const std::uint64_t availableSpace_;  // free bytes
    const std::uint64_t transferSize_;    // the package's total bytes
};

// Whether a folder holds nothing but the package's files; failure names the
// first offending entry when the answer is false.
class IsSupersetEvent : public TransferCallEvent<bool> {
public:
    IsSupersetEvent(const TransferParams& params, const TransferBehavior& behavior, bool returned, std::string destPath,
                    bool ignoreHidden, std::string failure);

protected:
    void FillData(boost::property_tree::ptree& data) override;

private:
    const std::string destPath_;
    const bool ignoreHidden_;
    const std::string failure_;
};

// Whether a folder holds every file of the package; when the answer is false,
// failure names the offending file and actualSize its size when known.
class IsSubsetEvent : public TransferCallEvent<bool> {
public:
    IsSubsetEvent(const TransferParams& params, const TransferBehavior& behavior, bool returned, std::string destPath,
                  bool confirmSize, std::string failure, std::optional<std::uint64_t> actualSize);

protected:
    void FillData(boost::property_tree::ptree& data) override;

private:
    const std::string destPath_;
    const bool confirmSize_;
    const std::string failure_;
    const std::optional<std::uint64_t> actualSize_;
};

}  // namespace vrexa
