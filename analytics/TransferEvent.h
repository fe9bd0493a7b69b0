#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferState.h"

namespace vrexa {

class NodeListManifest;
class OutputManifest;
class TrackEventWork;
class WorkStatusData;

// What an analytics event takes from its transfer when it is built, besides
// the transfer's params and behaviour.
struct TransferEventCapture {
    // The node list at that moment (empty before it is known); each node's own
    // statistics are read when the documents are sent.
    std::shared_ptr<const NodeListManifest> nodeList;
    // The operating-system description every document carries.
    std::string osVersion;
    // For state, end, periodic and error events: the transfer's state and what
    // it downloaded (bytes) and how long it was active (milliseconds) since its
    // previous report.
    TransferState state = TransferState::None;
    std::uint64_t downloadedDelta = 0;
    std::uint64_t activeTimeDelta = 0;
};

// Something that happened to a transfer. Built while the transfer holds its
// lock, raised once after it has released it, from any thread. Raising never
// throws and never waits for the disk or the network.
class TransferEvent {
public:
    TransferEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name);
    TransferEvent(const TransferEvent&) = delete;
    TransferEvent& operator=(const TransferEvent&) = delete;
    virtual ~TransferEvent();

    virtual void Raise() = 0;

    const std::string& GetName() const { return name_; }

protected:
    const TransferParams params_;
    const TransferBehavior behavior_;
    const std::string name_;
};

// An event that writes one log record: {"event": name, "params": the
// transfer's params}.
class TransferLogEvent : public TransferEvent {
public:
    using TransferEvent::TransferEvent;

    void Raise() override;

protected:
    virtual void FillLog(TrackEventWork& work);
    // The log record alone, failures swallowed.
    void WriteLog();
};

// An event that writes its log record and then sends analytics documents.
class TransferAnalyticsEvent : public TransferLogEvent {
public:
    TransferAnalyticsEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name,
                           TransferEventCapture capture);

    void Raise() override;

protected:
    virtual void SendAnalytics() = 0;
    // One document of the given kind.
    void SendRequest(int kind, OutputManifest& request);
    // One events document holding an array: the given requests, then one
    // optimizer request per node of the captured node list.
    void SendBatch(const std::vector<OutputManifest*>& leading);
    // The transfer document for the captured state and deltas.
    void SendTransferRequest();

    const TransferEventCapture capture_;
};

// Counts the event on the events endpoint.
class SimpleTransferEvent : public TransferAnalyticsEvent {
public:
    SimpleTransferEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name,
                        std::string metric, TransferEventCapture capture);

protected:
    void SendAnalytics() override;

    const std::string metric_;
};

// Counts the event, then reports the transfer's progress.
class TransferStateEvent : public SimpleTransferEvent {
public:
    using SimpleTransferEvent::SimpleTransferEvent;

protected:
    void SendAnalytics() override;
};

// Reports the transfer's progress, then counts the event together with how
// every node performed.
class TransferEndEvent : public TransferStateEvent {
public:
    using TransferStateEvent::TransferStateEvent;

protected:
    void SendAnalytics() override;
};

// Reports the progress made before the error (only when there was any), then
// the error with its summary together with how every node performed.
class TransferErrorEvent : public TransferAnalyticsEvent {
public:
    // data may be empty; its one-line summary becomes the "error" dimension.
    TransferErrorEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name,
                       std::string metric, TransferEventCapture capture, const WorkStatusData* data);

    const std::string& GetErrorText() const { return errorText_; }

protected:
    void SendAnalytics() override;

private:
    const std::string metric_;
    const std::string errorText_;
};

// Regular progress report of a running transfer, with how every node
// performed (an empty array without a node list).
class TransferPeriodicEvent : public TransferAnalyticsEvent {
public:
    TransferPeriodicEvent(const TransferParams& params, const TransferBehavior& behavior, TransferEventCapture capture);

protected:
    void SendAnalytics() override;
};

// An event name or metric as a template argument.
template <std::size_t N>
struct EventText {
    constexpr EventText(const char (&text)[N]) { std::copy_n(text, N, value); }
    char value[N];
};

// A counted event of the transfer's life: its class fixes name and metric.
template <class Base, EventText Name, EventText Metric>
class NamedTransferEvent : public Base {
public:
    NamedTransferEvent(const TransferParams& params, const TransferBehavior& behavior, TransferEventCapture capture)
        : Base(params, behavior, Name.value, Metric.value, std::move(capture)) {}
};

using TransferInitializeEvent = NamedTransferEvent<SimpleTransferEvent, "Initialize", "numInitializes">;
using TransferInitializeCompleteEvent =
    NamedTransferEvent<SimpleTransferEvent, "InitializeComplete", "numInitializeCompletes">;
using TransferPauseEvent = NamedTransferEvent<SimpleTransferEvent, "Pause", "numPauses">;
using TransferResumeEvent = NamedTransferEvent<SimpleTransferEvent, "Resume", "numResumes">;
using TransferRetryEvent = NamedTransferEvent<SimpleTransferEvent, "Retry", "numRetries">;
using TransferStartEvent = NamedTransferEvent<TransferStateEvent, "Start", "numStarts">;
using TransferRestoreEvent = NamedTransferEvent<TransferStateEvent, "Restore", "numRestores">;
using TransferCancelEvent = NamedTransferEvent<TransferEndEvent, "Cancel", "numCancels">;
using TransferSuspendEvent = NamedTransferEvent<TransferEndEvent, "Suspend", "numSuspends">;
using TransferCompleteEvent = NamedTransferEvent<TransferEndEvent, "Complete", "numCompletes">;

// An error the workflow waits to retry, or one that ended the transfer.
class TransferRetryableErrorEvent : public TransferErrorEvent {
public:
    TransferRetryableErrorEvent(const TransferParams& params, const TransferBehavior& behavior,
                                TransferEventCapture capture, const WorkStatusData* data)
        : TransferErrorEvent(params, behavior, "RetryableError", "numRetryableErrors", std::move(capture), data) {}
};

class TransferFatalErrorEvent : public TransferErrorEvent {
public:
    TransferFatalErrorEvent(const TransferParams& params, const TransferBehavior& behavior,
                            TransferEventCapture capture, const WorkStatusData* data)
        : TransferErrorEvent(params, behavior, "FatalError", "numFatalErrors", std::move(capture), data) {}
};

}  // namespace vrexa
