#include "tests/support/network/LocalNetwork.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

extern char** environ;

namespace vrexa::testsupport {
namespace {

using boost::property_tree::ptree;

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void CloseRead() { Close(fds_[0]); }
    void CloseWrite() { Close(fds_[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    int fds_[2] = {-1, -1};
};

ptree ParseJson(const std::string& text) {
    std::istringstream in(text);
    ptree tree;
    boost::property_tree::read_json(in, tree);
    return tree;
}

std::vector<std::string> LocalnetCommand(std::vector<std::string> args) {
    args.insert(args.begin(), {"python3", VREXA_LOCALNET_SCRIPT});
    return args;
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& args) {
    Pipe out;
    Pipe err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.Write(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.Write(), STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot run " + args[0] + ": " + std::strerror(spawned));
    }
    out.CloseWrite();
    err.CloseWrite();

    ProgramResult result;
    // Both pipes are drained together, so a program filling one cannot block
    // on it while we wait on the other.
    pollfd fds[2] = {{out.Read(), POLLIN, 0}, {err.Read(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProgramResult RunPublisher(const std::vector<std::string>& args) {
    std::vector<std::string> command = {VREXA_PUBLISHER_PROGRAM};
    command.insert(command.end(), args.begin(), args.end());
    return RunProgram(command);
}

LocalNetwork::LocalNetwork(const LocalNetworkOptions& options) {
    std::vector<std::string> args = {"start",
                                     "--tree",
                                     options.tree.string(),
                                     "--nodes",
                                     std::to_string(options.nodes),
                                     "--faulty",
                                     std::to_string(options.faulty),
                                     "--country",
                                     options.country,
                                     "--json",
                                     "--watch-pid",
                                     std::to_string(::getpid())};
    for (const auto& fault : options.faults) {
        args.insert(args.end(), {"--fault", fault});
    }
    for (const auto& partner : options.partners) {
        args.insert(args.end(), {"--partner", partner});
    }
    if (!options.partners.empty()) {
        args.insert(args.end(), {"--publisher", VREXA_PUBLISHER_PROGRAM});
    }
    if (options.tls) args.push_back("--tls");
    ProgramResult started = RunProgram(LocalnetCommand(args));
    if (started.exitCode != 0) {
        throw std::runtime_error("the local network did not start: " + started.err);
    }
    ptree state = ParseJson(started.out);
    folder_ = state.get<std::string>("dir");
    running_ = true;
    manifestHost_ = state.get<std::string>("manifestHost");
    geolocationUrl_ = state.get<std::string>("geolocationUrl");
    transferAnalyticsUrl_ = state.get<std::string>("transferAnalyticsUrl");
    eventsAnalyticsUrl_ = state.get<std::string>("eventsAnalyticsUrl");
    analyticsRecords_ = state.get<std::string>("analyticsRecords");
    caFile_ = state.get<std::string>("caFile", "");
    for (const auto& [_, node] : state.get_child("nodes")) {
        nodes_.push_back({node.get<std::string>("id"), node.get<std::string>("host"), node.get<std::string>("path"),
                          node.get<bool>("faulty")});
    }
}

LocalNetwork::~LocalNetwork() {
    try {
        Stop();
    } catch (const std::exception&) {
        // The watchdog stops whatever is left once this process ends.
    }
}

std::vector<AnalyticsRecord> LocalNetwork::AnalyticsRecords() const {
    std::vector<AnalyticsRecord> records;
    std::ifstream in(analyticsRecords_);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        ptree record = ParseJson(line);
        records.push_back({record.get<std::string>("endpoint"), record.get<std::string>("contentType"),
                           record.get<std::string>("body")});
    }
    return records;
}

void LocalNetwork::SetCountry(const std::string& code) {
    ProgramResult result = RunProgram(LocalnetCommand({"country", folder_.string(), code}));
    if (result.exitCode != 0) {
        throw std::runtime_error("cannot change the country: " + result.err);
    }
}

void LocalNetwork::ServeNodeList(const std::string& partner, const std::vector<NetworkNode>& nodes) {
    // A fresh folder, so the list holds exactly these nodes, then one rename
    // over the served list so nginx never sees half a document.
    const std::filesystem::path fresh = folder_ / "tmp" / ("nodes-" + partner);
    std::filesystem::remove_all(fresh);
    std::vector<std::string> args = {"--nodes-only", "--partner", partner};
    for (const auto& node : nodes) {
        args.insert(args.end(), {"--node", node.id + "=" + node.host + node.path});
    }
    args.push_back(fresh.string());
    ProgramResult result = RunPublisher(args);
    if (result.exitCode != 0) {
        throw std::runtime_error("cannot write the node list: " + result.err);
    }
    const std::string name = partner + ".xml";
    std::filesystem::rename(fresh / "nodes" / name, folder_ / "overlay" / "nodes" / name);
    std::filesystem::remove_all(fresh);
}

void LocalNetwork::Stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    ProgramResult result = RunProgram(LocalnetCommand({"stop", folder_.string()}));
    if (result.exitCode != 0) {
        throw std::runtime_error("the local network did not stop: " + result.err);
    }
}

}  // namespace vrexa::testsupport
