#include "tests/support/TestHttpServer.h"
#include "tests/support/Eventually.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vrexa::testsupport {
namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kCommandTimeoutMs = 30000;

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(value(hex[i]) * 16 + value(hex[i + 1]));
    }
    return out;
}

std::string FaultToJson(const Fault& fault) {
    std::ostringstream json;
    json.precision(17);
    json << "{";
    const char* separator = "";
    auto field = [&](const char* name) -> std::ostringstream& {
        json << separator << '"' << name << "\":";
        separator = ",";
        return json;
    };
    if (!fault.holdGate.empty()) field("hold") << Quote(fault.holdGate);
    if (fault.delaySeconds > 0) field("delay") << fault.delaySeconds;
    if (fault.resetBeforeResponse) field("reset") << "true";
    if (fault.statusCode != 0) field("status") << fault.statusCode;
    if (!fault.location.empty()) field("redirect") << Quote(fault.location);
    if (fault.ignoresRange) field("ignoreRange") << "true";
    if (fault.servedRange) field("range") << "[" << fault.servedRange->first << "," << fault.servedRange->second << "]";
    if (fault.stallAfterBytes) {
        field("stallAfter") << *fault.stallAfterBytes;
        field("stallSeconds") << fault.stallSeconds;
    }
    if (fault.cutAfterBytes) field("cutAfter") << *fault.cutAfterBytes;
    if (fault.resetAfterBytes) field("resetAfter") << *fault.resetAfterBytes;
    if (fault.extraBodyBytes != 0) field("extraBytes") << fault.extraBodyBytes;
    if (!fault.extraHeaders.empty()) {
        field("headers") << "{";
        const char* inner = "";
        for (const auto& [name, value] : fault.extraHeaders) {
            json << inner << Quote(name) << ":" << Quote(value);
            inner = ",";
        }
        json << "}";
    }
    if (!fault.removedHeaders.empty()) {
        field("withoutHeaders") << "[";
        const char* inner = "";
        for (const std::string& name : fault.removedHeaders) {
            json << inner << Quote(name);
            inner = ",";
        }
        json << "]";
    }
    if (fault.count >= 0) field("times") << fault.count;
    json << "}";
    return json.str();
}

boost::property_tree::ptree ParseAnswer(const std::string& line) {
    boost::property_tree::ptree tree;
    std::istringstream in(line);
    boost::property_tree::read_json(in, tree);
    if (tree.get<std::string>("ok", "false") != "true") {
        throw std::runtime_error("test server refused a command: " + tree.get<std::string>("error", line));
    }
    return tree;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

ClosedPort::ClosedPort() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) throw std::runtime_error("closed port: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // Bound but never listening: a connection attempt is answered with a reset.
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket_);
        throw std::runtime_error("closed port: bind failed");
    }
    port_ = ntohs(address.sin_port);
}

ClosedPort::~ClosedPort() { ::close(socket_); }

std::string ClosedPort::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::optional<std::string> RecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

std::string TestHttpServer::ScriptPath() { return VREXA_TEST_HTTP_SERVER_SCRIPT; }

TestHttpServer::TestHttpServer(const std::string& root) { Start(root, nullptr); }

TestHttpServer::TestHttpServer(const std::string& root, const TestCertificates& tls) { Start(root, &tls); }

void TestHttpServer::Start(const std::string& root, const TestCertificates* tls) {
    // A write to a server that died must fail with EPIPE, not kill the test.
    ::signal(SIGPIPE, SIG_IGN);

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("test server: pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("test server: pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);

    std::vector<std::string> args = {"python3", "-u", ScriptPath(), "--control"};
    if (!root.empty()) {
        args.push_back("--root");
        args.push_back(root);
    }
    if (tls != nullptr) {
        tls_ = true;
        args.insert(args.end(), {"--tls-cert", tls->CertFile(), "--tls-key", tls->KeyFile()});
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toServer_ = in[1];
    fromServer_ = out[0];
    if (spawned != 0) {
        pid_ = -1;
        Stop();
        throw std::runtime_error(std::string("test server: cannot start python3: ") + std::strerror(spawned));
    }
    try {
        const boost::property_tree::ptree first = [&] {
            boost::property_tree::ptree tree;
            std::istringstream line(ReadLine(kStartTimeoutMs));
            boost::property_tree::read_json(line, tree);
            return tree;
        }();
        port_ = static_cast<std::uint16_t>(std::stoul(first.get<std::string>("port")));
    } catch (...) {
        Stop();
        throw;
    }
}

TestHttpServer::~TestHttpServer() {
    try {
        Stop();
    } catch (...) {
    }
}

std::string TestHttpServer::Url(const std::string& path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

std::string TestHttpServer::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestHttpServer::ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("test server: no answer in time");
        pollfd poller{fromServer_, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[65536];
        const ssize_t got = ::read(fromServer_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw std::runtime_error("test server: the server process ended");
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string TestHttpServer::Command(const std::string& json) {
    std::lock_guard lock(mutex_);
    if (toServer_ < 0) throw std::runtime_error("test server: already stopped");
    const std::string line = json + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::write(toServer_, line.data() + sent, line.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("test server: cannot send a command");
        sent += static_cast<std::size_t>(n);
    }
    return ReadLine(kCommandTimeoutMs);
}

void TestHttpServer::SetFault(const std::string& path, const Fault& fault) {
    ParseAnswer(Command("{\"cmd\":\"fault\",\"path\":" + Quote(path) + ",\"fault\":" + FaultToJson(fault) + "}"));
}

void TestHttpServer::SetBody(const std::string& path, const std::string& content) {
    ParseAnswer(Command("{\"cmd\":\"body\",\"path\":" + Quote(path) + ",\"hex\":\"" + Hex(content) + "\"}"));
}

void TestHttpServer::ClearFaults() { ParseAnswer(Command("{\"cmd\":\"clearFaults\"}")); }

int TestHttpServer::Held(const std::string& gate) {
    return ParseAnswer(Command("{\"cmd\":\"held\",\"gate\":" + Quote(gate) + "}")).get<int>("held");
}

void TestHttpServer::Release(const std::string& gate) {
    ParseAnswer(Command("{\"cmd\":\"release\",\"gate\":" + Quote(gate) + "}"));
}

void TestHttpServer::ClearRequests() { ParseAnswer(Command("{\"cmd\":\"clearRequests\"}")); }

std::vector<RecordedRequest> TestHttpServer::Requests() {
    const boost::property_tree::ptree answer = ParseAnswer(Command("{\"cmd\":\"requests\"}"));
    std::vector<RecordedRequest> requests;
    const auto list = answer.get_child_optional("requests");
    if (!list) return requests;
    for (const auto& [unused, node] : *list) {
        RecordedRequest request;
        request.method = node.get<std::string>("method");
        request.target = node.get<std::string>("target");
        request.path = node.get<std::string>("path");
        request.body = Unhex(node.get<std::string>("bodyHex", ""));
        request.proxied = node.get<std::string>("proxied", "false") == "true";
        request.client = node.get<std::string>("client", "");
        if (const auto headers = node.get_child_optional("headers")) {
            for (const auto& [unusedKey, header] : *headers) {
                request.headers.emplace_back(header.get<std::string>("name"), header.get<std::string>("value"));
            }
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

void TestHttpServer::Stop() {
    std::lock_guard lock(mutex_);
    if (toServer_ >= 0) {
        // Closing its standard input stops the server as surely as a command.
        ::close(toServer_);
        toServer_ = -1;
    }
    if (fromServer_ >= 0) {
        ::close(fromServer_);
        fromServer_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        if (!Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) != 0; }, std::chrono::seconds(10))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
}

}  // namespace vrexa::testsupport

namespace vrexa::testsupport {

TestCertificates::TestCertificates(const std::vector<std::string>& hosts) {
    const std::string script =
        std::filesystem::path(TestHttpServer::ScriptPath()).parent_path().append("test_ca.py").string();
    // Both paths are ours (a temporary folder, the source tree), quoted for the shell.
    auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (const char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string command = "python3 " + quoted(script) + " " + quoted(folder_.Path());
    for (const std::string& host : hosts)
        command += " --host " + quoted(host);
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        if (::pclose(pipe) != 0) output.clear();
    }
    try {
        boost::property_tree::ptree made;
        std::istringstream line(output);
        boost::property_tree::read_json(line, made);
        caFile_ = made.get<std::string>("caFile");
        certFile_ = made.get<std::string>("certFile");
        keyFile_ = made.get<std::string>("keyFile");
    } catch (...) {
        throw std::runtime_error("test certificates: test_ca.py failed");
    }
}

}  // namespace vrexa::testsupport
