#include "manifest/NodeStatistics.h"

#include <algorithm>
#include <limits>

namespace vrexa {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Every request takes at least a millisecond; a zero would let a sample add
// bytes without time.
std::uint32_t AtLeastOneMs(std::uint32_t ms) { return std::max<std::uint32_t>(ms, 1); }

}  // namespace

bool NodeStatistics::IsError(http::State state) {
    switch (state) {
        case http::State::Ready:
        case http::State::Running:
        case http::State::Succeeded:
        case http::State::Aborted:
            return false;
        default:
            return true;
    }
}

void NodeStatistics::AddSample(const http::RequestStatus& status) {
    bytes_.fetch_add(status.bytes, kRelaxed);
    firstByteTimeMs_.fetch_add(AtLeastOneMs(status.firstByteTimeMs), kRelaxed);
    requestTimeMs_.fetch_add(AtLeastOneMs(status.totalTimeMs), kRelaxed);
    if (IsError(status.state)) {
        errors_.fetch_add(1, kRelaxed);
        switch (status.state) {
            case http::State::ConnectError:
            case http::State::SecurityError:
                connectFailures_.fetch_add(1, kRelaxed);
                break;
            case http::State::ServerError:
                httpServerErrors_.fetch_add(1, kRelaxed);
                break;
            case http::State::TransmitError:
                connectionsReset_.fetch_add(1, kRelaxed);
                break;
            case http::State::RangeError:
                dataMismatches_.fetch_add(1, kRelaxed);
                break;
            case http::State::Timeout:
                requestTimeouts_.fetch_add(1, kRelaxed);
                break;
            default:
                break;
        }
    } else {
        successes_.fetch_add(1, kRelaxed);
        successBytes_.fetch_add(status.bytes, kRelaxed);
        successTimeMs_.fetch_add(AtLeastOneMs(status.totalTimeMs), kRelaxed);
    }
}

std::uint64_t NodeStatistics::GetAverageRequestSpeed() const {
    const std::uint32_t ms = GetSuccessTimeMs();
    if (ms == 0) return 0;
    // Exact in 128 bits: bytes * 1000 / ms, so sub-second totals neither divide
    // by zero nor lose precision; saturates rather than wraps.
    const unsigned __int128 speed = static_cast<unsigned __int128>(GetSuccessBytes()) * 1000u / ms;
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    return speed > kMax ? kMax : static_cast<std::uint64_t>(speed);
}

void NodeStatistics::Write(boost::property_tree::ptree& tree) {
    tree.put("Requests", static_cast<std::uint64_t>(GetSuccesses()) + GetErrors());
    tree.put("Errors", GetErrors());
    tree.put("Bytes", GetBytes());
    tree.put("Average Request Speed", GetAverageRequestSpeed());
}

NodeStatisticsSnapshot NodeStatistics::GetSnapshot(const std::string& node) const {
    NodeStatisticsSnapshot snapshot;
    snapshot.node = node;
    snapshot.bytes = GetBytes();
    snapshot.successBytes = GetSuccessBytes();
    snapshot.firstByteTime = GetFirstByteTimeMs() / 1000.0;
    snapshot.requestTime = GetRequestTimeMs() / 1000.0;
    snapshot.successTime = GetSuccessTimeMs() / 1000.0;
    snapshot.numRequests = GetSuccesses() + GetErrors();
    snapshot.numErrors = GetErrors();
    snapshot.numConnectFailures = GetConnectFailures();
    snapshot.numHttpServerErrors = GetHttpServerErrors();
    snapshot.numConnectionsReset = GetConnectionsReset();
    snapshot.numDataMismatches = GetDataMismatches();
    snapshot.numRequestTimeouts = GetRequestTimeouts();
    return snapshot;
}

}  // namespace vrexa
