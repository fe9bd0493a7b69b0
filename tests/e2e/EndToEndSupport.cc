#include "tests/e2e/EndToEndSupport.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace vrexa::testsupport {

namespace fs = std::filesystem;

std::vector<AccessLine> ReadAccessLog(const fs::path& log, std::uint64_t from, std::uint64_t* next) {
    std::ifstream in(log, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<AccessLine> lines;
    std::size_t start = 0;
    // Format: PORT ADDR "METHOD TARGET PROTO" STATUS BYTES "RANGE"
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        AccessLine parsed;
        const std::size_t open = line.find('"');
        const std::size_t close = line.find('"', open + 1);
        const std::size_t rangeOpen = line.find('"', close + 1);
        const std::size_t rangeClose = line.rfind('"');
        if (open == std::string::npos || close == std::string::npos || rangeOpen == std::string::npos ||
            rangeClose <= rangeOpen) {
            throw std::runtime_error("unreadable access log line: " + line);
        }
        parsed.port = std::stoi(line.substr(0, line.find(' ')));
        std::istringstream request(line.substr(open + 1, close - open - 1));
        request >> parsed.method >> parsed.target;
        std::istringstream numbers(line.substr(close + 1, rangeOpen - close - 1));
        numbers >> parsed.status >> parsed.bytesSent;
        parsed.range = line.substr(rangeOpen + 1, rangeClose - rangeOpen - 1);
        if (parsed.range == "-") parsed.range.clear();
        lines.push_back(parsed);
    }
    if (next != nullptr) *next = from + start;
    return lines;
}

std::vector<std::string> ChunkRanges(std::uint64_t size, std::uint64_t chunk) {
    std::vector<std::string> ranges;
    for (std::uint64_t lower = 0; lower < size; lower += chunk) {
        const std::uint64_t upper = std::min(lower + chunk, size) - 1;
        ranges.push_back("bytes=" + std::to_string(lower) + "-" + std::to_string(upper));
    }
    return ranges;
}

std::map<std::string, std::string> ReadTree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).generic_string()] =
            std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return files;
}

std::set<std::string> ListTree(const fs::path& folder) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        paths.insert(fs::relative(entry.path(), folder).generic_string());
    return paths;
}

HostileHost::HostileHost() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 64) != 0 || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(std::string("hostile host: ") + std::strerror(errno));
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

HostileHost::~HostileHost() {
    stopping_ = true;
    ::shutdown(socket_, SHUT_RDWR);
    acceptor_.join();
    for (auto& connection : connections_)
        connection.join();
    ::close(socket_);
}

std::string HostileHost::Address() const { return "127.0.0.1:" + std::to_string(port_); }

void HostileHost::Serve(const std::string& path, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = {body, false, {}};
}

void HostileHost::ServeEndless(const std::string& path, const std::string& head, const std::string& filler) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = {head, true, filler};
}

void HostileHost::Accept() {
    while (!stopping_) {
        pollfd ready{socket_, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        const int connection = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        connections_.emplace_back([this, connection] {
            Respond(connection);
            ::close(connection);
        });
    }
}

void HostileHost::Respond(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && !stopping_) {
        pollfd ready{connection, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    std::istringstream line(request);
    std::string method;
    std::string target;
    line >> method >> target;
    Answer answer;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = answers_.find(target.substr(0, target.find('?')));
        if (it != answers_.end()) {
            answer = it->second;
            found = true;
        }
    }
    std::uint64_t answered = 0;
    auto send = [&](const std::string& data) {
        std::size_t done = 0;
        while (done < data.size() && !stopping_) {
            pollfd ready{connection, POLLOUT, 0};
            if (::poll(&ready, 1, 100) <= 0) continue;
            const ssize_t put = ::send(connection, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (put <= 0) return false;
            done += static_cast<std::size_t>(put);
            answered += static_cast<std::uint64_t>(put);
            total_ += static_cast<std::uint64_t>(put);
            for (std::uint64_t seen = largest_; answered > seen && !largest_.compare_exchange_weak(seen, answered);) {
            }
        }
        return done == data.size();
    };
    if (!found) {
        send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    if (!answer.endless) {
        send("HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
             std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" + answer.body);
        return;
    }
    // No length: the body goes on for as long as the client reads it.
    if (!send("HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nConnection: close\r\n\r\n" + answer.body)) return;
    while (!stopping_ && send(answer.filler)) {
    }
}

}  // namespace vrexa::testsupport
