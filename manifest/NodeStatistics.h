#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "http/RequestStatus.h"
#include "http/State.h"
#include "manifest/OutputManifest.h"

namespace vrexa {

// The counters of one node as the analytics documents report them.
struct NodeStatisticsSnapshot {
    std::string node;  // the node's host
    std::uint64_t bytes = 0;
    std::uint64_t successBytes = 0;
    double firstByteTime = 0;  // seconds
    double requestTime = 0;    // seconds
    double successTime = 0;    // seconds
    std::uint32_t numRequests = 0;
    std::uint32_t numErrors = 0;
    std::uint32_t numConnectFailures = 0;
    std::uint32_t numHttpServerErrors = 0;
    std::uint32_t numConnectionsReset = 0;
    std::uint32_t numDataMismatches = 0;
    std::uint32_t numRequestTimeouts = 0;
};

// What the chunk requests to one node achieved. A sample is the final status of
// one request. Counters are lock-free atomics, so several request threads may
// add samples at once; a reader sees each counter consistent on its own, not the
// set as one snapshot.
class NodeStatistics : public OutputManifest {
public:
    NodeStatistics() = default;
    NodeStatistics(const NodeStatistics&) = delete;
    NodeStatistics& operator=(const NodeStatistics&) = delete;

    // "Requests", "Errors", "Bytes" and "Average Request Speed" (bytes per
    // second over the successful requests; 0 before any).
    void Write(boost::property_tree::ptree& tree) override;
    virtual void AddSample(const http::RequestStatus& status);

    // Ready, Running, Succeeded and Aborted are not failures of the node.
    static bool IsError(http::State state);

    // The counters, with the node named `node`.
    NodeStatisticsSnapshot GetSnapshot(const std::string& node) const;

    std::uint32_t GetSuccesses() const { return successes_.load(std::memory_order_relaxed); }
    std::uint32_t GetErrors() const { return errors_.load(std::memory_order_relaxed); }
    std::uint64_t GetBytes() const { return bytes_.load(std::memory_order_relaxed); }
    std::uint64_t GetSuccessBytes() const { return successBytes_.load(std::memory_order_relaxed); }
    // Millisecond sums; every sample counts at least 1 ms.
    std::uint32_t GetFirstByteTimeMs() const { return firstByteTimeMs_.load(std::memory_order_relaxed); }
    std::uint32_t GetRequestTimeMs() const { return requestTimeMs_.load(std::memory_order_relaxed); }
    std::uint32_t GetSuccessTimeMs() const { return successTimeMs_.load(std::memory_order_relaxed); }
    std::uint32_t GetConnectFailures() const { return connectFailures_.load(std::memory_order_relaxed); }
    std::uint32_t GetHttpServerErrors() const { return httpServerErrors_.load(std::memory_order_relaxed); }
    std::uint32_t GetConnectionsReset() const { return connectionsReset_.load(std::memory_order_relaxed); }
    std::uint32_t GetDataMismatches() const { return dataMismatches_.load(std::memory_order_relaxed); }
    std::uint32_t GetRequestTimeouts() const { return requestTimeouts_.load(std::memory_order_relaxed); }

    // success bytes per second of success time, truncated; 0 when no time.
    std::uint64_t GetAverageRequestSpeed() const;

private:
    std::atomic<std::uint32_t> successes_{0};
    std::atomic<std::uint32_t> errors_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<std::uint64_t> successBytes_{0};
    std::atomic<std::uint32_t> firstByteTimeMs_{0};
    std::atomic<std::uint32_t> requestTimeMs_{0};
    std::atomic<std::uint32_t> successTimeMs_{0};
    std::atomic<std::uint32_t> connectFailures_{0};
    std::atomic<std::uint32_t> httpServerErrors_{0};
    std::atomic<std::uint32_t> connectionsReset_{0};
    std::atomic<std::uint32_t> dataMismatches_{0};
    std::atomic<std::uint32_t> requestTimeouts_{0};
};

}  // namespace vrexa
