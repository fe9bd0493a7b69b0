#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestFolder.h"

namespace vrexa::testsupport {

// What the server does wrong for one request, built by chaining:
//   Fault().Status(503).Times(1)        one 503, then normal answers
//   Fault().Stall(100)                  100 body bytes, then silence
//   Fault().Delay(2).Cut(10)            late headers, then a body cut short
//   Fault().Range(5, 9).Without("Content-Range")   a 206 of other bytes, unlabelled
// The parts combine in the order the fields are listed; an empty Fault serves
// the resource normally.
struct Fault {
    std::string holdGate;              // wait at this gate until it is released
    double delaySeconds = 0;           // wait before sending anything
    bool resetBeforeResponse = false;  // reset the connection before any response byte
    int statusCode = 0;                // answer with this status code (0: normal)
    std::string location;              // answer 302 with this Location
    bool ignoresRange = false;         // answer 200 with the whole resource despite a range
    std::optional<std::pair<std::uint64_t, std::uint64_t>> servedRange;  // answer 206 with these bytes instead
    std::optional<std::uint64_t> stallAfterBytes;                        // send this many body bytes, then stall ...
    double stallSeconds = 3600;                       // ... this long (ends early on stop or hang-up)
    std::optional<std::uint64_t> cutAfterBytes;       // send this many body bytes, then close
    std::optional<std::uint64_t> resetAfterBytes;     // send this many body bytes, then reset
    std::uint64_t extraBodyBytes = 0;                 // bytes beyond the announced Content-Length
    std::map<std::string, std::string> extraHeaders;  // replace the server's own headers of the same name
    std::set<std::string> removedHeaders;             // left out; without Content-Length the close ends the body
    int count = -1;                                   // requests it applies to; -1: all from now on

    Fault& Hold(std::string gate) {
        holdGate = std::move(gate);
        return *this;
    }
    Fault& Delay(double seconds) {
        delaySeconds = seconds;
        return *this;
    }
    Fault& Reset() {
        resetBeforeResponse = true;
        return *this;
    }
    Fault& Status(int code) {
        statusCode = code;
        return *this;
    }
    Fault& Redirect(std::string to) {
        location = std::move(to);
        return *this;
    }
    Fault& IgnoreRange() {
        ignoresRange = true;
        return *this;
    }
    Fault& Range(std::uint64_t first, std::uint64_t last) {
        servedRange = std::make_pair(first, last);
        return *this;
    }
    Fault& Stall(std::uint64_t afterBytes, double seconds = 3600) {
        stallAfterBytes = afterBytes;
        stallSeconds = seconds;
        return *this;
    }
    Fault& Cut(std::uint64_t afterBytes) {
        cutAfterBytes = afterBytes;
        return *this;
    }
    Fault& ResetAfter(std::uint64_t bytes) {
        resetAfterBytes = bytes;
        return *this;
    }
    Fault& ExtraBytes(std::uint64_t bytes) {
        extraBodyBytes = bytes;
        return *this;
    }
    Fault& Header(std::string name, std::string value) {
        extraHeaders[std::move(name)] = std::move(value);
        return *this;
    }
    Fault& Without(std::string name) {
        removedHeaders.insert(std::move(name));
        return *this;
    }
    Fault& Times(int requests) {
        count = requests;
        return *this;
    }
};

// A loopback port that refuses connections for as long as this object lives: the
// port stays bound (without listening), so no other server can take it up while
// a test relies on it being closed.
class ClosedPort {
public:
    ClosedPort();  // throws std::runtime_error when no port can be bound
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path) const;

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

// A throwaway certificate authority and one server certificate it signed for
// hosts (127.0.0.1 and localhost when none are given), made in a folder of their own (test_ca.py). The
// folder, and with it the authority's key, is removed with this object.
class TestCertificates {
public:
    // Throws std::runtime_error when they cannot be made.
    explicit TestCertificates(const std::vector<std::string>& hosts = {});
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    const std::string& CaFile() const { return caFile_; }      // what a client trusts
    const std::string& CertFile() const { return certFile_; }  // the server's chain ...
    const std::string& KeyFile() const { return keyFile_; }    // ... and its key

private:
    TestFolder folder_;
    std::string caFile_;
    std::string certFile_;
    std::string keyFile_;
};

// One request as it reached the server.
struct RecordedRequest {
    std::string method;
    std::string target;  // as on the request line (an absolute URL when proxied)
    std::string path;    // without the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool proxied = false;  // it came as a proxy request and was forwarded
    std::string client;    // the peer's "address:port": equal for requests on one connection

    // The value of the first header with this name (case-insensitive).
    std::optional<std::string> Header(const std::string& name) const;
};

// A fault-injecting HTTP/1.1 server on 127.0.0.1 (a free port), in its own
// process, for the lifetime of this object. It serves the files under an
// optional root folder and bodies given by SetBody, with single byte ranges
// (206, 416); records every request; and acts as a forward proxy to loopback
// hosts. Faults are queued per path and applied to the next requests of it.
//
//   vrexa::testsupport::TestHttpServer server(folder);
//   server.SetFault("/a.bin", Fault().Status(503).Times(1));
//   ... fetch server.Url("/a.bin") ...
//   EXPECT_EQ(server.Requests().size(), 2u);
//
// Every operation throws std::runtime_error when the server does not answer.
// Starting a server makes this process ignore SIGPIPE, so that a server that
// died fails a command instead of killing the test.
// The server process also ends when this process does (it stops at the end of
// its standard input).
class TestHttpServer {
public:
    explicit TestHttpServer(const std::string& root = std::string());
    // The same server speaking HTTPS with the certificate (URLs then start "https://").
    TestHttpServer(const std::string& root, const TestCertificates& tls);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" (https with TLS) followed by path.
    std::string Url(const std::string& path) const;
    // "127.0.0.1:<port>", to use the server as a proxy.
    std::string Address() const;

    // Queues a fault for requests to path (the path without query).
    void SetFault(const std::string& path, const Fault& fault);
    // Serves these bytes at path (before any file under the root).
    void SetBody(const std::string& path, const std::string& content);
    // Drops every fault and every body given by SetBody.
    void ClearFaults();
    // Requests waiting at a gate of Fault().Hold now, and opening it for good
    // (those waiting and every later one pass).
    int Held(const std::string& gate);
    void Release(const std::string& gate);
    // Every request received so far, oldest first.
    std::vector<RecordedRequest> Requests();
    void ClearRequests();
    // Stops the server and waits for its process; the destructor does the same.
    void Stop();

    // The path of the server script, for tests and harnesses that start it
    // themselves (see its --help).
    static std::string ScriptPath();

private:
    // Sends one command line and returns the answer line.
    void Start(const std::string& root, const TestCertificates* tls);
    std::string Command(const std::string& json);
    std::string ReadLine(int timeoutMs);

    std::mutex mutex_;
    pid_t pid_ = -1;
    int toServer_ = -1;
    int fromServer_ = -1;
    std::string pending_;
    std::uint16_t port_ = 0;
    bool tls_ = false;
};

}  // namespace vrexa::testsupport
