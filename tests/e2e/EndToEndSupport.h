#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vrexa::testsupport {

// One line of the local network's nginx access log.
struct AccessLine {
    int port = 0;
    std::string method;
    std::string target;
    int status = 0;
    std::uint64_t bytesSent = 0;
    std::string range;  // the request's Range header, "" without one
};

// The access log's lines from the byte offset `from` on; `next` (when given)
// receives the offset after the last whole line, so the next read starts
// where this one ended.
std::vector<AccessLine> ReadAccessLog(const std::filesystem::path& log, std::uint64_t from = 0,
                                      std::uint64_t* next = nullptr);

// "bytes=L-U" of every chunk of a file of `size` bytes in chunks of `chunk`.
std::vector<std::string> ChunkRanges(std::uint64_t size, std::uint64_t chunk);

// Every file under a folder with its content, by path relative to it.
std::map<std::string, std::string> ReadTree(const std::filesystem::path& folder);

// Every path under a folder (folders too), relative to it.
std::set<std::string> ListTree(const std::filesystem::path& folder);

// A manifest cache host that answers each path with a body of its own, or
// with a body that never ends, sending until the client hangs up. Answers
// are measured, so a test sees how much a client took before it stopped.
class HostileHost {
public:
    HostileHost();
    ~HostileHost();
    HostileHost(const HostileHost&) = delete;
    HostileHost& operator=(const HostileHost&) = delete;

    std::string Address() const;  // "127.0.0.1:<port>"
    void Serve(const std::string& path, const std::string& body);
    // `head` once, then `filler` over and over.
    void ServeEndless(const std::string& path, const std::string& head, const std::string& filler);
    // The most sent in answer to one request, and in answer to all of them.
    std::uint64_t LargestAnswer() const { return largest_; }
    std::uint64_t TotalAnswered() const { return total_; }

private:
    struct Answer {
        std::string body;
        bool endless = false;
        std::string filler;
    };
    void Accept();
    void Respond(int connection);

    int socket_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> largest_{0};
    std::atomic<std::uint64_t> total_{0};
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

}  // namespace vrexa::testsupport
