#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "analytics/JsonHttpAnalyticsManager.h"
#include "http/CurlRequestFactory.h"
#include "http/RoundRobinSessionFactory.h"
#include "http/posix/ProxyFactoryImpl.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/transfer/TempFolderFilesystem.h"
#include "transfer/TransferBehavior.h"

namespace vrexa::testing {

using testsupport::TestFolder;

using testsupport::TempFolderFilesystem;

// The files directly inside folder, sorted by name; none when it is missing.
inline std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The lines of a text file, each without its line feed.
inline std::vector<std::string> Lines(const std::string& path) {
    std::istringstream content(TestFolder::Content(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(content, line);)
        lines.push_back(line);
    return lines;
}

// The log lines without their time stamps ("[YYYY-MM-DD HH:MM:SS] ").
inline std::vector<std::string> Records(const std::vector<std::string>& lines) {
    std::vector<std::string> records;
    for (const auto& line : lines)
        records.push_back(line.size() > 22 ? line.substr(22) : line);
    return records;
}

inline boost::property_tree::ptree ParseJson(const std::string& text) {
    std::istringstream stream(text);
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(stream, tree);
    return tree;
}

// The HTTP components an analytics manager needs, connecting directly
// whatever the environment says about proxies.
class HttpComponents {
public:
    std::unique_ptr<JsonHttpAnalyticsManager> MakeManager(const TransferSettings& settings) {
        return std::make_unique<JsonHttpAnalyticsManager>(requestFactory, sessionFactory.CreateSession(), settings);
    }

    http::posix::ProxyFactoryImpl proxyFactory{[](const std::string&) { return std::optional<std::string>(); }};
    http::CurlRequestFactory requestFactory{proxyFactory};
    http::RoundRobinSessionFactory sessionFactory;
};

// Two analytics endpoints on loopback and the HTTP components to reach them.
class AnalyticsEndpoints : public HttpComponents {
public:
    AnalyticsEndpoints() {
        transfer.SetBody("/", "ok");
        events.SetBody("/", "ok");
    }

    TransferSettings Settings() const {
        TransferSettings settings;
        settings.transferAnalyticsUrl = transfer.Url("");
        settings.eventsAnalyticsUrl = events.Url("");
        return settings;
    }

    using HttpComponents::MakeManager;
    std::unique_ptr<JsonHttpAnalyticsManager> MakeManager() { return MakeManager(Settings()); }

    // The bodies the server received, oldest first.
    static std::vector<std::string> Bodies(testsupport::TestHttpServer& server) {
        std::vector<std::string> bodies;
        for (const auto& request : server.Requests())
            bodies.push_back(request.body);
        return bodies;
    }

    testsupport::TestHttpServer transfer;
    testsupport::TestHttpServer events;
};

}  // namespace vrexa::testing
