#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrexa::sim {

// A fleet of clients downloading from one set of nodes, each client choosing
// its nodes with the engine's own optimizer, run as a discrete-event
// simulation on a simulated clock.
//
// What is modelled: a node serves its requests side by side and shares its
// capacity equally among them (no request gets more than the client's link
// divided among its parallel requests); every request pays the node's
// latency before its first byte; a failed node black-holes new connections
// (they end in a connect timeout) and cuts the requests it was serving.
// A client fetches its chunks like a transfer does: a fixed number at a time,
// each retried on the nodes not yet tried for it, every outcome reported to
// the client's optimizer.
struct FleetConfig {
    int clients = 10000;
    int nodes = 50;
    // Node capacities are spread evenly on a log scale over this range (bytes/s).
    double smallestCapacity = 4e6;
    double largestCapacity = 40e6;
    // Per-request latency of the nodes, spread evenly over this range (s).
    double smallestLatency = 0.02;
    double largestLatency = 0.15;
    // The package every client fetches.
    std::uint64_t chunkSize = 1 << 20;
    int chunks = 64;
    // Requests a client runs at once, and its link (bytes/s).
    int parallel = 6;
    double clientLink = 12.5e6;
    // Share of the fleet's capacity the arriving clients ask for on average.
    double offeredLoad = 0.8;
    // The node that fails (-1: the largest) and when, as a share of the
    // arrival period; it returns at returnAt.
    int failedNode = -1;
    double failAt = 0.4;
    double returnAt = 0.6;
    // Length of one bin of the time series (s).
    double binSeconds = 10.0;
    std::uint32_t seed = 20261211;
};

struct NodeFigures {
    double capacity = 0;
    double capacityShare = 0;
    // Of the bytes served outside the failure and its aftermath.
    double loadShare = 0;
};

struct FleetFigures {
    std::vector<NodeFigures> nodes;
    int failedNode = 0;
    double failTime = 0;
    double returnTime = 0;
    double endTime = 0;
    // Largest |load share ÷ capacity share − 1| over the nodes, and how many
    // nodes are within 10 %.
    double worstShareDeviation = 0;
    int nodesWithinTenPercent = 0;
    // Seconds until the failed node's share of new requests fell below a
    // quarter of its share before, and until its share of the bytes served came
    // back to 80 % of its share before; -1 when that never happened.
    double moveOffSeconds = -1;
    double moveBackSeconds = -1;
    // Largest share of all requests in flight that one node held in any bin,
    // over that node's capacity share; 1 is a fair share.
    double herdingPeak = 0;
    int herdingNode = -1;  // the node that held it (0 the smallest)
    double meanDownloadSeconds = 0;
    // The mean download time had the fleet been one pool of all its capacity
    // shared fairly among the clients present, with the same arrivals.
    double idealMeanDownloadSeconds = 0;
    std::uint64_t requests = 0;
    std::uint64_t failedRequests = 0;
    std::uint64_t exploringRequests = 0;
    // Per bin: bytes each node served, and the requests in flight on each.
    std::vector<std::vector<double>> binBytes;
    std::vector<std::vector<double>> binInFlight;
};

FleetFigures RunFleet(const FleetConfig& config);

// The mean download time of clients arriving at `arrivals` (sorted, s) that
// each need `bytes` from one pool of `capacity` bytes/s shared equally among
// the clients present, none getting more than `link`.
double IdealMeanDownloadSeconds(const std::vector<double>& arrivals, double bytes, double capacity, double link);

}  // namespace vrexa::sim
