#include "tools/sim/FleetSimulation.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "manifest/StandardNodeManifest.h"
#include "optimizer/ProportionalGamblingTransferOptimizer.h"
#include "optimizer/tests/FixedNodeList.h"

namespace vrexa::sim {
namespace {

enum class EventKind { Arrival, Join, NodeTick, ConnectTimeout, Fail, Return };

struct Event {
    double time;
    EventKind kind;
    int subject;            // client, node or request, by kind
    std::uint64_t version;  // a node tick is stale once its node moved on
    bool operator>(const Event& other) const { return time > other.time; }
};

struct Node {
    double capacity = 0;
    double latency = 0;
    bool up = true;
    // Work done per request since the start, advanced at the per-request
    // rate: a request ends when it reaches the value it joined at plus its size.
    double virtualBytes = 0;
    double lastUpdate = 0;
    std::uint64_t version = 0;
    std::set<std::pair<double, int>> serving;  // (virtual end, request)
};

struct Chunk {
    explicit Chunk(OptimizedRequestParams params) : params(std::move(params)) {}
    OptimizedRequestParams params;
    int attempts = 0;
};

struct Client {
    double arrival = 0;
    std::unique_ptr<ProportionalGamblingTransferOptimizer> optimizer;
    std::vector<Chunk> chunks;
    int next = 0;
    int done = 0;
};

struct Request {
    int client;
    int chunk;
    int node;
    double start;
    // What the optimizer asked for: the rest of the chunk, or a part of it
    // for a node much slower than the fastest.
    double bytes;
    double virtualEnd = 0;
    bool live = true;
};

http::RequestStatus Outcome(http::State state, double bytes, double seconds) {
    http::RequestStatus status;
    status.state = state;
    status.bytes = static_cast<std::uint64_t>(std::max(bytes, 0.0));
    status.totalTimeMs = static_cast<std::uint32_t>(std::clamp(std::lround(seconds * 1000.0), 1L, 0xFFFFFFFFL));
    return status;
}

class Fleet {
public:
    explicit Fleet(const FleetConfig& config) : config_(config), random_(config.seed) {
        if (config.clients <= 0 || config.nodes <= 1 || config.chunks <= 0 || config.parallel <= 0) {
            throw std::invalid_argument("a fleet needs clients, two nodes or more, chunks and parallel requests");
        }
        NodeListManifest::Nodes manifests;
        double total = 0;
        for (int i = 0; i < config.nodes; ++i) {
            Node node;
            const double position = static_cast<double>(i) / (config.nodes - 1);
            node.capacity =
                config.smallestCapacity * std::pow(config.largestCapacity / config.smallestCapacity, position);
            // Latency unrelated to capacity: a big node may be far away.
            const double latencyPosition = static_cast<double>((i * 17) % config.nodes) / (config.nodes - 1);
            node.latency = config.smallestLatency + (config.largestLatency - config.smallestLatency) * latencyPosition;
            total += node.capacity;
            nodes_.push_back(node);
            char host[32];
            std::snprintf(host, sizeof host, "node%02d.fleet", i);
            manifests.push_back(std::make_shared<StandardNodeManifest>(host, host, "/", 1));
            index_[manifests.back().get()] = i;
        }
        totalCapacity_ = total;
        nodeList_ = std::make_shared<FixedNodeList>(manifests);
        packageBytes_ = static_cast<double>(config.chunkSize) * config.chunks;
        perRequestCap_ = config.clientLink / config.parallel;

        figures_.failedNode = config.failedNode >= 0 ? config.failedNode : config.nodes - 1;
        const double arrivalRate = config.offeredLoad * totalCapacity_ / packageBytes_;
        std::exponential_distribution<double> gap(arrivalRate);
        double time = 0;
        clients_.resize(static_cast<std::size_t>(config.clients));
        for (int c = 0; c < config.clients; ++c) {
            time += gap(random_);
            clients_[static_cast<std::size_t>(c)].arrival = time;
            Push({time, EventKind::Arrival, c, 0});
        }
        period_ = time;
        figures_.failTime = config.failAt * period_;
        figures_.returnTime = config.returnAt * period_;
        Push({figures_.failTime, EventKind::Fail, figures_.failedNode, 0});
        Push({figures_.returnTime, EventKind::Return, figures_.failedNode, 0});
        settings_.transferThreads = config.parallel;
    }

    FleetFigures Run() {
        while (!events_.empty()) {
            const Event event = events_.top();
            events_.pop();
            now_ = event.time;
            switch (event.kind) {
                case EventKind::Arrival:
                    Arrive(event.subject);
                    break;
                case EventKind::Join:
                    Join(event.subject);
                    break;
                case EventKind::NodeTick:
                    if (event.version == nodes_[static_cast<std::size_t>(event.subject)].version) {
                        Tick(event.subject);
                    }
                    break;
                case EventKind::ConnectTimeout: {
                    Request& request = requests_.at(event.subject);
                    const Chunk& chunk = ChunkOf(request);
                    End(event.subject, Outcome(http::State::Timeout, 0, chunk.params.connectTimeout));
                    break;
                }
                case EventKind::Fail:
                    Fail(event.subject);
                    break;
                case EventKind::Return:
                    nodes_[static_cast<std::size_t>(event.subject)].up = true;
                    break;
            }
        }
        figures_.endTime = now_;
        Summarize();
        return std::move(figures_);
    }

private:
    void Push(Event event) { events_.push(event); }

    Chunk& ChunkOf(const Request& request) {
        return clients_[static_cast<std::size_t>(request.client)].chunks[static_cast<std::size_t>(request.chunk)];
    }

    double RateOn(const Node& node) const {
        const auto n = static_cast<double>(node.serving.size());
        return n == 0 ? 0 : std::min(node.capacity / n, perRequestCap_);
    }

    // Bytes served and requests in flight on `node` since its last update,
    // spread over the bins they fall in.
    void Advance(int index) {
        Node& node = nodes_[static_cast<std::size_t>(index)];
        const double rate = RateOn(node);
        const auto n = static_cast<double>(node.serving.size());
        double from = node.lastUpdate;
        while (from < now_ && n > 0) {
            const double binEnd = (std::floor(from / config_.binSeconds) + 1) * config_.binSeconds;
            const double to = std::min(binEnd, now_);
            Record(index, from, (to - from) * rate * n, (to - from) * n);
            from = to;
        }
        node.virtualBytes += rate * (now_ - node.lastUpdate);
        node.lastUpdate = now_;
    }

    void Record(int node, double at, double bytes, double requestSeconds) {
        const auto bin = static_cast<std::size_t>(at / config_.binSeconds);
        if (figures_.binBytes.size() <= bin) {
            figures_.binBytes.resize(bin + 1, std::vector<double>(nodes_.size(), 0.0));
            figures_.binInFlight.resize(bin + 1, std::vector<double>(nodes_.size(), 0.0));
        }
        figures_.binBytes[bin][static_cast<std::size_t>(node)] += bytes;
        figures_.binInFlight[bin][static_cast<std::size_t>(node)] += requestSeconds / config_.binSeconds;
        // Seconds, for the failed node's way off and back.
        const auto second = static_cast<std::size_t>(at);
        if (servedAll_.size() <= second) servedAll_.resize(second + 1, 0.0);
        if (servedFailed_.size() <= second) servedFailed_.resize(second + 1, 0.0);
        servedAll_[second] += bytes;
        if (node == figures_.failedNode) servedFailed_[second] += bytes;
    }

    void Reschedule(int index) {
        Node& node = nodes_[static_cast<std::size_t>(index)];
        ++node.version;
        if (node.serving.empty()) return;
        const double rate = RateOn(node);
        const double left = std::max(node.serving.begin()->first - node.virtualBytes, 0.0);
        Push({now_ + left / rate, EventKind::NodeTick, index, node.version});
    }

    void Arrive(int index) {
        Client& client = clients_[static_cast<std::size_t>(index)];
        client.optimizer = std::make_unique<ProportionalGamblingTransferOptimizer>(
            settings_, config_.seed + static_cast<std::uint32_t>(index));
        client.chunks.reserve(static_cast<std::size_t>(config_.chunks));
        for (int c = 0; c < config_.chunks; ++c) {
            auto range = std::make_shared<ChunkRange>();
            range->lowerBound = static_cast<std::uint64_t>(c) * config_.chunkSize;
            range->upperBound = range->lowerBound + config_.chunkSize - 1;
            client.chunks.emplace_back(OptimizedRequestParams(nodeList_, TransferParams(), range));
        }
        for (int p = 0; p < config_.parallel && client.next < config_.chunks; ++p) {
            Attempt(index, client.next++);
        }
    }

    void Attempt(int clientIndex, int chunkIndex) {
        Client& client = clients_[static_cast<std::size_t>(clientIndex)];
        Chunk& chunk = client.chunks[static_cast<std::size_t>(chunkIndex)];
        client.optimizer->GetNode(chunk.params);
        ++chunk.attempts;
        const int node = index_.at(chunk.params.SelectedNode.get());
        ++figures_.requests;
        if (chunk.params.exploring) ++figures_.exploringRequests;
        const auto second = static_cast<std::size_t>(now_);
        if (startsAll_.size() <= second) startsAll_.resize(second + 1, 0.0);
        if (startsFailed_.size() <= second) startsFailed_.resize(second + 1, 0.0);
        startsAll_[second] += 1;
        if (node == figures_.failedNode) startsFailed_[second] += 1;

        const int id = nextRequest_++;
        const std::uint64_t length =
            chunk.params.requestLength != 0 ? chunk.params.requestLength : chunk.params.Remaining();
        requests_.emplace(id, Request{clientIndex, chunkIndex, node, now_, static_cast<double>(length)});
        Push({now_ + nodes_[static_cast<std::size_t>(node)].latency, EventKind::Join, id, 0});
    }

    void Join(int id) {
        Request& request = requests_.at(id);
        Node& node = nodes_[static_cast<std::size_t>(request.node)];
        if (!node.up) {
            // Nothing answers: the connection attempt runs into its timeout.
            const double at = request.start + ChunkOf(request).params.connectTimeout;
            Push({std::max(at, now_), EventKind::ConnectTimeout, id, 0});
            return;
        }
        Advance(request.node);
        request.virtualEnd = node.virtualBytes + request.bytes;
        node.serving.emplace(request.virtualEnd, id);
        Reschedule(request.node);
    }

    void Tick(int index) {
        Advance(index);
        Node& node = nodes_[static_cast<std::size_t>(index)];
        std::vector<int> finished;
        // A relative tolerance: the virtual clock is a sum of many products.
        const double tolerance = 1e-9 * std::max(1.0, node.virtualBytes);
        while (!node.serving.empty() && node.serving.begin()->first <= node.virtualBytes + tolerance) {
            finished.push_back(node.serving.begin()->second);
            node.serving.erase(node.serving.begin());
        }
        Reschedule(index);
        for (int id : finished) {
            const Request& request = requests_.at(id);
            End(id, Outcome(http::State::Succeeded, request.bytes, now_ - request.start));
        }
    }

    void Fail(int index) {
        Advance(index);
        Node& node = nodes_[static_cast<std::size_t>(index)];
        node.up = false;
        std::vector<std::pair<int, double>> cut;
        for (const auto& [virtualEnd, id] : node.serving) {
            cut.emplace_back(id, requests_.at(id).bytes - (virtualEnd - node.virtualBytes));
        }
        node.serving.clear();
        Reschedule(index);
        for (const auto& [id, bytes] : cut) {
            const Request& request = requests_.at(id);
            End(id, Outcome(http::State::TransmitError, bytes, now_ - request.start));
        }
    }

    // What the chunk work does with the outcome of one attempt.
    void End(int id, const http::RequestStatus& status) {
        const Request request = requests_.at(id);
        requests_.erase(id);
        Client& client = clients_[static_cast<std::size_t>(request.client)];
        Chunk& chunk = client.chunks[static_cast<std::size_t>(request.chunk)];
        client.optimizer->ReportResult(chunk.params, status);
        if (status.state != http::State::Succeeded) {
            ++figures_.failedRequests;
            chunk.params.RemoveSelectedNode();
            Attempt(request.client, request.chunk);
            return;
        }
        // A part of the chunk: the next request continues after it.
        chunk.params.received += static_cast<std::uint64_t>(request.bytes);
        if (chunk.params.Remaining() > 0) {
            Attempt(request.client, request.chunk);
            return;
        }
        ++client.done;
        if (client.next < config_.chunks) {
            Attempt(request.client, client.next++);
        } else if (client.done == config_.chunks) {
            downloadSeconds_.push_back(now_ - client.arrival);
            // A finished client's optimizer and chunks are no longer needed.
            client.optimizer.reset();
            std::vector<Chunk>().swap(client.chunks);
        }
    }

    void Summarize() {
        const std::size_t n = nodes_.size();
        const double settle = 60.0;
        std::vector<double> served(n, 0.0);
        for (std::size_t bin = 0; bin < figures_.binBytes.size(); ++bin) {
            const double start = static_cast<double>(bin) * config_.binSeconds;
            const double end = start + config_.binSeconds;
            const bool warmingUp = start < settle;
            const bool draining = end > period_;
            const bool disturbed = end > figures_.failTime && start < figures_.returnTime + settle;
            if (warmingUp || draining || disturbed) continue;
            for (std::size_t i = 0; i < n; ++i)
                served[i] += figures_.binBytes[bin][i];
        }
        double servedTotal = 0;
        for (double bytes : served)
            servedTotal += bytes;
        figures_.worstShareDeviation = 0;
        figures_.nodesWithinTenPercent = 0;
        for (std::size_t i = 0; i < n; ++i) {
            NodeFigures node;
            node.capacity = nodes_[i].capacity;
            node.capacityShare = nodes_[i].capacity / totalCapacity_;
            node.loadShare = servedTotal > 0 ? served[i] / servedTotal : 0;
            const double deviation = std::abs(node.loadShare / node.capacityShare - 1.0);
            figures_.worstShareDeviation = std::max(figures_.worstShareDeviation, deviation);
            if (deviation <= 0.10) ++figures_.nodesWithinTenPercent;
            figures_.nodes.push_back(node);
        }

        // The failed node's way off and back, on a sliding window of seconds.
        const auto sum = [](const std::vector<double>& values, long from, long to) {
            double total = 0;
            for (long s = std::max(from, 0L); s < to && s < static_cast<long>(values.size()); ++s) {
                total += values[static_cast<std::size_t>(s)];
            }
            return total;
        };
        const long failSecond = std::lround(figures_.failTime);
        const long returnSecond = std::lround(figures_.returnTime);
        const long window = 5;
        const double startsBefore = sum(startsFailed_, failSecond - 60, failSecond) /
                                    std::max(sum(startsAll_, failSecond - 60, failSecond), 1.0);
        for (long s = failSecond + window; s <= returnSecond; ++s) {
            const double share = sum(startsFailed_, s - window, s) / std::max(sum(startsAll_, s - window, s), 1.0);
            if (share <= 0.25 * startsBefore) {
                figures_.moveOffSeconds = static_cast<double>(s - failSecond);
                break;
            }
        }
        const double servedBefore = sum(servedFailed_, failSecond - 60, failSecond) /
                                    std::max(sum(servedAll_, failSecond - 60, failSecond), 1.0);
        const long last = static_cast<long>(servedAll_.size());
        for (long s = returnSecond + window; s <= last; ++s) {
            const double share = sum(servedFailed_, s - window, s) / std::max(sum(servedAll_, s - window, s), 1.0);
            if (share >= 0.8 * servedBefore) {
                figures_.moveBackSeconds = static_cast<double>(s - returnSecond);
                break;
            }
        }

        // Herding: the largest share of the requests in flight one node held
        // in a bin, against its capacity share; only bins with clients enough
        // for a share to mean something.
        figures_.herdingPeak = 0;
        for (std::size_t bin = 0; bin < figures_.binInFlight.size(); ++bin) {
            const double start = static_cast<double>(bin) * config_.binSeconds;
            if (start < settle || start + config_.binSeconds > period_) continue;
            double total = 0;
            for (double value : figures_.binInFlight[bin])
                total += value;
            if (total < static_cast<double>(n)) continue;
            for (std::size_t i = 0; i < n; ++i) {
                if (!nodes_[i].up && static_cast<int>(i) == figures_.failedNode) continue;
                const double ratio = figures_.binInFlight[bin][i] / total / (nodes_[i].capacity / totalCapacity_);
                if (ratio > figures_.herdingPeak) {
                    figures_.herdingPeak = ratio;
                    figures_.herdingNode = static_cast<int>(i);
                }
            }
        }

        double total = 0;
        for (double seconds : downloadSeconds_)
            total += seconds;
        figures_.meanDownloadSeconds = downloadSeconds_.empty() ? 0 : total / downloadSeconds_.size();
        std::vector<double> arrivals;
        for (const Client& client : clients_)
            arrivals.push_back(client.arrival);
        figures_.idealMeanDownloadSeconds =
            IdealMeanDownloadSeconds(arrivals, packageBytes_, totalCapacity_, config_.clientLink);
    }

    const FleetConfig config_;
    std::mt19937 random_;
    TransferSettings settings_;
    std::vector<Node> nodes_;
    std::unordered_map<const NodeManifest*, int> index_;
    std::shared_ptr<FixedNodeList> nodeList_;
    double totalCapacity_ = 0;
    double packageBytes_ = 0;
    double perRequestCap_ = 0;
    double period_ = 0;
    std::vector<Client> clients_;
    std::unordered_map<int, Request> requests_;
    int nextRequest_ = 0;
    std::priority_queue<Event, std::vector<Event>, std::greater<>> events_;
    double now_ = 0;
    std::vector<double> downloadSeconds_;
    std::vector<double> startsAll_, startsFailed_, servedAll_, servedFailed_;
    FleetFigures figures_;
};

}  // namespace

FleetFigures RunFleet(const FleetConfig& config) { return Fleet(config).Run(); }

double IdealMeanDownloadSeconds(const std::vector<double>& arrivals, double bytes, double capacity, double link) {
    // Everyone present moves at the same rate, so clients leave in the order
    // they came: each leaves once the work done per client since its arrival
    // reaches its size.
    std::deque<std::pair<double, double>> present;  // (arrival, work done per client at arrival)
    double work = 0;
    double now = 0;
    double total = 0;
    std::size_t next = 0;
    while (next < arrivals.size() || !present.empty()) {
        const double rate = present.empty() ? 0 : std::min(link, capacity / static_cast<double>(present.size()));
        const double leaving = present.empty() ? INFINITY : now + (present.front().second + bytes - work) / rate;
        const double arriving = next < arrivals.size() ? arrivals[next] : INFINITY;
        const double at = std::min(leaving, arriving);
        work += rate * (at - now);
        now = at;
        if (leaving <= arriving) {
            total += now - present.front().first;
            present.pop_front();
        } else {
            present.emplace_back(now, work);
            ++next;
        }
    }
    return arrivals.empty() ? 0 : total / static_cast<double>(arrivals.size());
}

}  // namespace vrexa::sim
