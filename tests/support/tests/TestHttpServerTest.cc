#include "tests/support/Eventually.h"
#include "tests/support/TestHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace vrexa::testsupport {
namespace {

// Sends raw request text (the connection closes after the answer) and returns
// everything the server sent.
std::string Exchange(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "connect failed";
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd poller{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&poller, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return answer;
}

std::string Get(std::uint16_t port, const std::string& target, const std::string& extraHeaders = "") {
    return Exchange(port,
                    "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders + "\r\n");
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

std::string Body(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? "" : answer.substr(end + 4);
}

class TestHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ =
            std::filesystem::temp_directory_path() / ("vrexa-server-test-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root_ / "packages");
        std::ofstream(root_ / "packages" / "a.bin") << "0123456789";
        std::ofstream(root_.parent_path() / (root_.filename().string() + "-secret")) << "secret";
    }
    void TearDown() override {
        std::filesystem::remove_all(root_);
        std::filesystem::remove(root_.parent_path() / (root_.filename().string() + "-secret"));
    }

    std::filesystem::path root_;
};

TEST_F(TestHttpServerTest, ServesFilesAndSingleRanges) {
    TestHttpServer server(root_.string());
    struct Case {
        std::string range;
        std::string status;
        std::string body;
        std::string contentRange;
    };
    const Case cases[] = {
        {"", "HTTP/1.1 200 OK", "0123456789", ""},
        {"bytes=2-4", "HTTP/1.1 206 Partial Content", "234", "Content-Range: bytes 2-4/10"},
        {"bytes=7-", "HTTP/1.1 206 Partial Content", "789", "Content-Range: bytes 7-9/10"},
        {"bytes=8-18446744073709551615", "HTTP/1.1 206 Partial Content", "89", "Content-Range: bytes 8-9/10"},
        {"bytes=-3", "HTTP/1.1 206 Partial Content", "789", "Content-Range: bytes 7-9/10"},
        {"bytes=10-", "HTTP/1.1 416 Requested Range Not Satisfiable", "", "Content-Range: bytes */10"},
        {"bytes=0-1,4-5", "HTTP/1.1 200 OK", "0123456789", ""},  // several ranges: the whole file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        const std::string answer =
            Get(server.Port(), "/packages/a.bin", c.range.empty() ? "" : "Range: " + c.range + "\r\n");
        EXPECT_EQ(StatusLine(answer), c.status);
        EXPECT_EQ(Body(answer), c.body);
        if (!c.contentRange.empty()) {
            EXPECT_NE(answer.find(c.contentRange + "\r\n"), std::string::npos) << answer;
        }
    }
}

TEST_F(TestHttpServerTest, FaultsChangeTheHeadersOfAnAnswer) {
    TestHttpServer server(root_.string());
    struct Case {
        const char* name;
        Fault fault;
        std::string range;
        std::string status;
        std::string body;
        std::vector<std::string> present;  // header lines the answer holds
        std::vector<std::string> absent;   // header names it must not hold
    };
    const Case cases[] = {
        {"other bytes than asked",
         Fault().Range(2, 4),
         "bytes=5-9",
         "HTTP/1.1 206 Partial Content",
         "234",
         {"Content-Range: bytes 2-4/10", "Content-Length: 3"},
         {}},
        {"unasked range",
         Fault().Range(0, 0),
         "",
         "HTTP/1.1 206 Partial Content",
         "0",
         {"Content-Range: bytes 0-0/10"},
         {}},
        {"unlabelled",
         Fault().Range(2, 4).Without("content-range"),
         "bytes=2-4",
         "HTTP/1.1 206 Partial Content",
         "234",
         {"Content-Length: 3"},
         {"Content-Range:"}},
        {"replaced",
         Fault().Header("Content-Range", "bytes 0-2/10"),
         "bytes=2-4",
         "HTTP/1.1 206 Partial Content",
         "234",
         {"Content-Range: bytes 0-2/10"},
         {"Content-Range: bytes 2-4/10"}},
        {"ended by closing",
         Fault().Without("Content-Length"),
         "",
         "HTTP/1.1 200 OK",
         "0123456789",
         {},
         {"Content-Length:"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.ClearFaults();
        server.SetFault("/packages/a.bin", c.fault);
        const std::string answer =
            Get(server.Port(), "/packages/a.bin", c.range.empty() ? "" : "Range: " + c.range + "\r\n");
        EXPECT_EQ(StatusLine(answer), c.status);
        const std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
        for (const std::string& line : c.present) {
            EXPECT_NE(head.find("\r\n" + line + "\r\n"), std::string::npos) << head;
        }
        for (const std::string& name : c.absent) {
            EXPECT_EQ(head.find("\r\n" + name), std::string::npos) << head;
        }
        EXPECT_EQ(Body(answer), c.body);
    }
}

TEST(ClosedPortTest, RefusesConnectionsAndKeepsThePortWhileItLives) {
    ClosedPort closed;
    const std::uint16_t port = closed.Port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(closed.Url("/x"), "http://127.0.0.1:" + std::to_string(port) + "/x");
    EXPECT_EQ(Get(port, "/x"), "connect failed");

    // Nobody else can take the port up meanwhile.
    const int other = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(errno, EADDRINUSE);
    ::close(other);
}

TEST_F(TestHttpServerTest, NeverServesOutsideItsRoot) {
    TestHttpServer server(root_.string());
    const std::string secret = "/../" + root_.filename().string() + "-secret";
    for (const std::string& target : {secret, "/packages/../../" + root_.filename().string() + "-secret",
                                      std::string("/missing.bin"), std::string("/packages")}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(StatusLine(Get(server.Port(), target)), "HTTP/1.1 404 Not Found");
    }
}

TEST_F(TestHttpServerTest, FaultsApplyInOrderForTheirCounts) {
    TestHttpServer server(root_.string());
    server.SetFault("/packages/a.bin", Fault().Status(503).Times(2));
    server.SetFault("/packages/a.bin", Fault().Status(404).Times(1));
    const char* expected[] = {"HTTP/1.1 503 Service Unavailable", "HTTP/1.1 503 Service Unavailable",
                              "HTTP/1.1 404 Not Found", "HTTP/1.1 200 OK", "HTTP/1.1 200 OK"};
    for (const char* status : expected) {
        EXPECT_EQ(StatusLine(Get(server.Port(), "/packages/a.bin?query=1")), status);
    }
    // Another path is not affected, and cleared faults are gone.
    server.SetFault("/other", Fault().Status(500));
    server.SetBody("/other", "x");
    server.ClearFaults();
    EXPECT_EQ(StatusLine(Get(server.Port(), "/other")), "HTTP/1.1 404 Not Found");
}

TEST_F(TestHttpServerTest, RecordsEveryRequest) {
    TestHttpServer server;
    server.SetBody("/post", "ok");
    const char first[] =
        "POST /post?x=1 HTTP/1.1\r\nHost: h\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n"
        "Connection: close\r\n\r\nab\0cd";
    Exchange(server.Port(), std::string(first, sizeof first - 1));
    const char second[] =
        "POST /post HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\nConnection: close\r\n\r\na\xff"
        "b";
    Exchange(server.Port(), std::string(second, sizeof second - 1));
    Get(server.Port(), "/nothing");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/post?x=1");
    EXPECT_EQ(requests[0].path, "/post");
    EXPECT_EQ(requests[0].Header("content-type"), "text/plain");
    EXPECT_EQ(requests[0].body, std::string("ab\0cd", 5));
    EXPECT_EQ(requests[1].body,
              "a\xff"
              "b");
    EXPECT_EQ(requests[2].path, "/nothing");
    EXPECT_FALSE(requests[2].proxied);
    EXPECT_EQ(requests[2].client.rfind("127.0.0.1:", 0), 0u);

    server.ClearRequests();
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(TestHttpServerTest, ForwardsProxyRequestsToLoopbackOnly) {
    TestHttpServer origin;
    origin.SetBody("/x", "from origin");
    TestHttpServer proxy;

    const std::string relayed = Get(proxy.Port(), origin.Url("/x"));
    EXPECT_EQ(StatusLine(relayed), "HTTP/1.1 200 OK");
    EXPECT_EQ(Body(relayed), "from origin");
    EXPECT_EQ(StatusLine(Get(proxy.Port(), "http://192.0.2.1/x")), "HTTP/1.1 502 Bad Gateway");

    const auto seen = proxy.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].proxied);
    EXPECT_EQ(seen[0].target, origin.Url("/x"));
    EXPECT_EQ(seen[0].path, "/x");
    EXPECT_EQ(origin.Requests().size(), 1u);
}

TEST_F(TestHttpServerTest, RunsFromItsCommandLineWithFaultsFromAFile) {
    const std::string portFile = (root_ / "port").string();
    std::ofstream(root_ / "faults.json") << R"([{"path": "/packages/a.bin", "status": 500, "times": 1}])";
    std::vector<std::string> args = {"python3",  TestHttpServer::ScriptPath(),     "--root",      root_.string(),
                                     "--faults", (root_ / "faults.json").string(), "--port-file", portFile};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(portFile); })) << "the server never wrote its port";
    std::uint16_t port = 0;
    std::ifstream(portFile) >> port;
    ASSERT_NE(port, 0);
    EXPECT_EQ(StatusLine(Get(port, "/packages/a.bin")), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(Body(Get(port, "/packages/a.bin")), "0123456789");

    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(TestHttpServerLifetimeTest, StopEndsTheServer) {
    TestHttpServer server;
    const std::uint16_t port = server.Port();
    EXPECT_EQ(StatusLine(Get(port, "/x")), "HTTP/1.1 404 Not Found");
    server.Stop();
    EXPECT_EQ(Get(port, "/x"), "connect failed");
    EXPECT_THROW(server.Requests(), std::runtime_error);
}

}  // namespace
}  // namespace vrexa::testsupport
