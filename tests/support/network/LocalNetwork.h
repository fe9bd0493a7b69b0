#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vrexa::testsupport {

// What a program run printed and how it ended.
struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs a program (no shell) to its end.
ProgramResult RunProgram(const std::vector<std::string>& args);

// Runs the vrexa-publish program built with the tests; `args` exclude the
// program name.
ProgramResult RunPublisher(const std::vector<std::string>& args);

struct NetworkNode {
    std::string id;
    std::string host;  // "127.0.0.1:<port>", "https://127.0.0.1:<port>" with TLS
    std::string path;  // "/packages/"
    bool faulty = false;
};

struct LocalNetworkOptions {
    std::filesystem::path tree;  // the published tree (OUTPUT_DIR of vrexa-publish)
    int nodes = 2;               // nginx download nodes
    int faulty = 0;              // nodes of the fault-injecting test server
    // Faults of the fault-injecting test server as JSON objects, for example
    // R"({"status": 503, "times": 1})", queued for every published file on
    // every faulty node.
    std::vector<std::string> faults;
    // Partners served a node list of the network's own nodes.
    std::vector<std::string> partners;
    std::string country = "SE";  // the geolocation answer
    // Every server speaks HTTPS with a certificate of a throwaway authority
    // made for this network (CaFile); hosts and URLs then start "https://".
    bool tls = false;
};

// One POST received by an analytics endpoint.
struct AnalyticsRecord {
    std::string endpoint;  // "transfer" or "events"
    std::string contentType;
    std::string body;
};

// The local download network for the lifetime of this object: nginx as the
// manifest cache host and as download nodes, the analytics endpoints with the
// geolocation answer, and faulty nodes. Throws std::runtime_error with the
// network's own message when it cannot start. The network also stops by
// itself when this process ends, so a crashed test leaves nothing running.
//
//   vrexa::testsupport::LocalNetworkOptions options;
//   options.tree = published;
//   options.partners = {"p1"};
//   vrexa::testsupport::LocalNetwork network(options);
//   settings.manifestHost = network.ManifestHost();
//   settings.geolocationUrl = network.GeolocationUrl();
class LocalNetwork {
public:
    explicit LocalNetwork(const LocalNetworkOptions& options);
    ~LocalNetwork();
    LocalNetwork(const LocalNetwork&) = delete;
    LocalNetwork& operator=(const LocalNetwork&) = delete;

    const std::string& ManifestHost() const { return manifestHost_; }  // "127.0.0.1:<port>"
    const std::vector<NetworkNode>& Nodes() const { return nodes_; }
    const std::string& GeolocationUrl() const { return geolocationUrl_; }
    const std::string& TransferAnalyticsUrl() const { return transferAnalyticsUrl_; }
    const std::string& EventsAnalyticsUrl() const { return eventsAnalyticsUrl_; }
    const std::filesystem::path& Folder() const { return folder_; }
    // The authority to trust with TLS; empty without.
    const std::string& CaFile() const { return caFile_; }

    // Every POST received so far, in order of arrival.
    std::vector<AnalyticsRecord> AnalyticsRecords() const;

    // Changes the country of the geolocation answer.
    void SetCountry(const std::string& code);

    // Serves `partner` a node list of exactly these nodes from now on, for
    // example the network's nodes plus a test's own fault-injecting server.
    void ServeNodeList(const std::string& partner, const std::vector<NetworkNode>& nodes);

    // Stops every server and removes the network's folder; also done by the
    // destructor. Throws std::runtime_error when a server would not stop.
    void Stop();

private:
    std::filesystem::path folder_;
    std::string manifestHost_;
    std::vector<NetworkNode> nodes_;
    std::string geolocationUrl_;
    std::string transferAnalyticsUrl_;
    std::string eventsAnalyticsUrl_;
    std::filesystem::path analyticsRecords_;
    std::string caFile_;
    bool running_ = false;
};

}  // namespace vrexa::testsupport
