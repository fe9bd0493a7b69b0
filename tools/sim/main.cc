// vrexa-fleet-sim: runs the fleet simulation and prints its figures, one
// "name: value" line each; with --out, writes the time series and the per-node
// shares as CSV files for the plot.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tools/sim/FleetSimulation.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vrexa-fleet-sim [--clients N] [--nodes N] [--chunks N] [--parallel N]\n"
                 "                       [--load SHARE] [--seed N] [--out FOLDER]\n");
    return 2;
}

// Throws when a file cannot be written, so that no plot is drawn from an old one.
void WriteSeries(const std::string& folder, const vrexa::sim::FleetConfig& config,
                 const vrexa::sim::FleetFigures& figures) {
    std::filesystem::create_directories(folder);
    std::ofstream nodes(folder + "/fleet_nodes.csv");
    nodes << "node,capacity,capacity_share,load_share\n";
    for (std::size_t i = 0; i < figures.nodes.size(); ++i) {
        const auto& node = figures.nodes[i];
        nodes << i << ',' << node.capacity << ',' << node.capacityShare << ',' << node.loadShare << '\n';
    }
    std::ofstream bins(folder + "/fleet_bins.csv");
    bins << "start";
    for (std::size_t i = 0; i < figures.nodes.size(); ++i)
        bins << ",node" << i;
    bins << '\n';
    for (std::size_t bin = 0; bin < figures.binBytes.size(); ++bin) {
        bins << static_cast<double>(bin) * config.binSeconds;
        for (double bytes : figures.binBytes[bin])
            bins << ',' << bytes;
        bins << '\n';
    }
    std::ofstream events(folder + "/fleet_events.csv");
    events << "failed_node,fail_time,return_time\n"
           << figures.failedNode << ',' << figures.failTime << ',' << figures.returnTime << '\n';
    for (std::ofstream* file : {&nodes, &bins, &events}) {
        if (!file->flush()) throw std::runtime_error("cannot write the series into " + folder);
    }
}

}  // namespace

int main(int argc, char** argv) {
    vrexa::sim::FleetConfig config;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (option == "--clients") {
            config.clients = std::atoi(value);
        } else if (option == "--nodes") {
            config.nodes = std::atoi(value);
        } else if (option == "--chunks") {
            config.chunks = std::atoi(value);
        } else if (option == "--parallel") {
            config.parallel = std::atoi(value);
        } else if (option == "--load") {
            config.offeredLoad = std::atof(value);
        } else if (option == "--seed") {
            config.seed = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10));
        } else if (option == "--out") {
            out = value;
        } else {
            return Usage();
        }
    }
    try {
        const auto started = std::chrono::steady_clock::now();
        const vrexa::sim::FleetFigures figures = vrexa::sim::RunFleet(config);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        double largest = 0;
        for (const auto& node : figures.nodes)
            largest = std::max(largest, node.capacityShare);
        std::printf("clients: %d\n", config.clients);
        std::printf("nodes: %d\n", config.nodes);
        std::printf("package_mib: %.0f\n", config.chunks * static_cast<double>(config.chunkSize) / 1048576.0);
        std::printf("offered_load: %.2f\n", config.offeredLoad);
        std::printf("simulated_seconds: %.0f\n", figures.endTime);
        std::printf("requests: %llu\n", static_cast<unsigned long long>(figures.requests));
        std::printf("exploring_request_share: %.3f\n",
                    figures.requests ? static_cast<double>(figures.exploringRequests) / figures.requests : 0.0);
        std::printf("failed_requests: %llu\n", static_cast<unsigned long long>(figures.failedRequests));
        std::printf("load_share_worst_deviation: %.3f\n", figures.worstShareDeviation);
        std::printf("nodes_within_10_percent: %d/%zu\n", figures.nodesWithinTenPercent, figures.nodes.size());
        std::printf("load_share_largest_node: %.4f\n", figures.nodes.back().loadShare);
        std::printf("capacity_share_largest_node: %.4f\n", figures.nodes.back().capacityShare);
        std::printf("load_share_smallest_node: %.4f\n", figures.nodes.front().loadShare);
        std::printf("capacity_share_smallest_node: %.4f\n", figures.nodes.front().capacityShare);
        std::printf("failed_node: %d\n", figures.failedNode);
        std::printf("move_off_failed_node_s: %.0f\n", figures.moveOffSeconds);
        std::printf("move_back_to_returned_node_s: %.0f\n", figures.moveBackSeconds);
        std::printf("herding_peak_request_share_over_capacity_share: %.2f\n", figures.herdingPeak);
        std::printf("herding_peak_node: %d\n", figures.herdingNode);
        std::printf("herding: %s\n", figures.herdingPeak > 2.0 ? "yes" : "no");
        std::printf("mean_download_s: %.2f\n", figures.meanDownloadSeconds);
        std::printf("ideal_mean_download_s: %.2f\n", figures.idealMeanDownloadSeconds);
        std::printf("download_time_over_ideal: %.2f\n",
                    figures.idealMeanDownloadSeconds > 0
                        ? figures.meanDownloadSeconds / figures.idealMeanDownloadSeconds
                        : 0.0);
        std::printf("wall_seconds: %.1f\n", wall);
        if (!out.empty()) WriteSeries(out, config, figures);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vrexa-fleet-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}
