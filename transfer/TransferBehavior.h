#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrexa {

namespace http {
class RateLimiter;
class SessionFactory;
class RequestFactory;
}  // namespace http

namespace file {
class Filesystem;
}  // namespace file

class PackageManifestFactory;
class NodeListManifestFactory;
class GeolocationManifestFactory;
class TransferFactory;
class TransferOptimizer;
class AnalyticsManager;
class WorkLogManager;
class WorkManager;
class ManifestTrust;
class DestinationLocks;

// The engine's tunable settings. The default constructor gives the built-in
// defaults; a client changes the few it cares about and hands the record to
// the service, which adds its components to make a TransferBehavior.
struct TransferSettings {
    TransferSettings();

    // Manifest cache host and the folders (relative to the temporary folder)
    // of the persisted transfers, the run logs and the destination locks.
    std::string manifestHost;
    std::string transfersFolder = "Quenlar/Vrexa/transfers";
    std::string logsFolder = "Quenlar/Vrexa/logs";
    std::string locksFolder = "Quenlar/Vrexa/locks";
    std::uint32_t logMask = 0xFFFFFFF7u;

    // Public key files (their text) whose signatures are trusted on package
    // manifests and node lists; the keys built into this build come first.
    // With none, documents are taken without signatures.
    std::vector<std::string> trustedKeys;
    // Where the highest accepted signature serials are kept (relative to the
    // temporary folder), so that an older signed document is refused.
    std::string signatureSerialsFile = "Quenlar/Vrexa/signature-serials";
    // The authorities HTTPS servers are verified against: a PEM file, or
    // empty for SSL_CERT_FILE when set, else the system's trust store.
    std::string caFile;

    // Manifest fetches: attempts and timeouts in seconds.
    int manifestRetryLimit = 4;
    int manifestConnectTimeout = 10;
    int manifestTimeout = 30;
    // Every attempt at one document together ends within this many seconds,
    // so that a dead or trickling host is reported within a minute; and one
    // attempt ends once the body comes slower than the floor (bytes a second
    // for that many seconds).
    int manifestDocumentTimeout = 60;
    // Every attempt at one document together waits at most this many
    // seconds for the server's first byte: a dead network or a host that
    // accepts and never answers is reported within half a minute, while a
    // server that answers keeps the whole document time.
    int manifestFirstByteTimeout = 25;
    int manifestLowSpeedLimit = 1024;
    int manifestLowSpeedTime = 10;

    // Bytes per second all chunk requests of the service take together, so
    // that a download in the background leaves a shared link usable; 0: no
    // limit.
    std::uint64_t rateLimit = 0;

    // Retries of one chunk and of one chunk request; a transfer with many
    // nodes retries at least once per other node.
    int chunkRetryLimit = 4;
    int requestRetryLimit = 4;

    // Bounds of the optimizer's adaptive request settings (seconds, bytes/s).
    int minConnectTimeout = 3;
    int maxConnectTimeout = 15;
    int exploreConnectTimeout = 2;
    int minRequestTimeout = 10;
    int exploreMinRequestTimeout = 3;
    int minTransferRate = 7168;
    int exploreMinTransferRate = 32768;
    int minLowSpeedTime = 5;
    int maxLowSpeedTime = 60;
    int exploreLowSpeedTime = 3;

    // Time-remaining estimate: averaging window in seconds and the least
    // active time, in milliseconds, between two recomputations.
    int estimateWindow = 10;
    int estimateInterval = 500;

    // Bytes per second the chunk write cache expects the disk to take.
    static constexpr int kDefaultExpectedWriteRate = 349525;
    int expectedWriteRate = kDefaultExpectedWriteRate;

    // Threads and parallelism; the three hardware-based ones are set by the
    // constructor (see DefaultParallelism).
    int auxiliaryThreads = 1;
    int transferThreads;
    int maxRunningWorks;
    int parallelItems;

    // Whether downloaded program files are made executable once complete.
    bool allowExecute = true;

    // Updates take the chunks they can from content already on this machine
    // instead of fetching them: the destination's own old files and these
    // folders (an earlier install, say). Only regular files are read, never
    // through a symbolic link. reuseOldContent false fetches every chunk that
    // is not already in its place.
    std::vector<std::string> reuseFrom;
    bool reuseOldContent = true;

    // Proxy discovery timeouts, milliseconds.
    int proxyResolveTimeout = 5000;
    int proxyConnectTimeout = 5000;
    int proxySendTimeout = 5000;
    int proxyReceiveTimeout = 5000;

    // Analytics requests: timeouts in seconds and attempts.
    int analyticsConnectTimeout = 10;
    int analyticsTimeout = 10;
    int analyticsRetryLimit = 1;
    // The longest the service's end waits for the documents still queued or
    // under way; what is not sent by then is dropped, so that an endpoint
    // that accepts and never answers cannot keep a closed program alive.
    int analyticsShutdownTimeout = 3;

    // Seconds between two periodic progress events of a transfer.
    int periodicEventInterval = 300;

    // Optimizer simulation and statistics.
    int simulationRoundsPerNode = 50;
    int simulationRoundsBudget = 10000;
    double statisticsSmoothing = 0.3;
    double minNodeShare = 0.05;
    // Bytes of the smallest part of a chunk a request asks a slow node for.
    // A node slower than the fastest is asked only for the part it can send
    // in the time the fastest would take for the whole rest, so that a
    // request on it holds a thread no longer than one on the fastest; the
    // next part goes to the next node chosen. 0: every request asks for the
    // whole rest of its chunk.
    int minRequestPiece = 65536;

    // Geolocation lookup: URL, timeouts in seconds and attempts.
    std::string geolocationUrl;
    int geolocationConnectTimeout = 5;
    int geolocationTimeout = 10;
    int geolocationRetryLimit = 1;

    // The two analytics endpoints ("http://" + host, no path), so that tests
    // and tools can point them at local servers.
    std::string transferAnalyticsUrl;
    std::string eventsAnalyticsUrl;
    // False: transfers report to the null analytics manager and no document
    // leaves the machine (a user's or a test's choice; the log still records
    // every event).
    bool analyticsEnabled = true;

    // Requests in flight that keep distant nodes busy: a request waits a
    // round trip before its first byte and shares its node's rate with the
    // others on it, so a few per node are needed however few the cores.
    static constexpr int kNetworkParallelism = 16;
    // Hardware threads (a count below 2 taken as 1) plus 2, enough to keep
    // every core busy while two requests wait on the network, and at least
    // kNetworkParallelism: the threads mostly wait.
    static int DefaultParallelism();
    // Parallelism for a given hardware thread count, as DefaultParallelism.
    static int ParallelismFor(unsigned hardwareThreads);
};

// The settings together with the components every transfer reaches. The
// components are owned by the service core and outlive every transfer; this
// record only points at them, so copying it into each transfer is cheap.
class TransferBehavior : public TransferSettings {
public:
    TransferBehavior() = default;
    explicit TransferBehavior(const TransferSettings& settings) : TransferSettings(settings) {}
    TransferBehavior(const TransferBehavior&) = default;
    TransferBehavior& operator=(const TransferBehavior&) = default;
    virtual ~TransferBehavior() = default;

    http::SessionFactory* sessionFactory = nullptr;
    http::RequestFactory* requestFactory = nullptr;
    file::Filesystem* filesystem = nullptr;
    PackageManifestFactory* packageManifestFactory = nullptr;
    NodeListManifestFactory* nodeListManifestFactory = nullptr;
    GeolocationManifestFactory* geolocationManifestFactory = nullptr;
    TransferFactory* transferFactory = nullptr;
    TransferOptimizer* optimizer = nullptr;
    // Shared by every chunk request; null when the settings set no rateLimit.
    http::RateLimiter* rateLimiter = nullptr;
    // Which signatures documents must carry; null or without keys: none.
    ManifestTrust* manifestTrust = nullptr;
    // The analytics event manager.
    AnalyticsManager* eventManager = nullptr;
    WorkLogManager* logManager = nullptr;
    // Work manager A runs auxiliary tasks (removing a cancelled transfer's
    // files); work manager B runs the transfer workflows.
    WorkManager* auxiliaryWorkManager = nullptr;
    WorkManager* transferWorkManager = nullptr;
    // One writer per destination; null: transfers take no lock (the
    // verification, which only reads).
    DestinationLocks* destinationLocks = nullptr;
};

}  // namespace vrexa
