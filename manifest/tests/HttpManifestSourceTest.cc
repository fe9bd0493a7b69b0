#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "http/CurlRequestFactory.h"
#include "http/RoundRobinSessionFactory.h"
#include "http/posix/ProxyFactoryImpl.h"
#include "manifest/GeolocationManifest.h"
#include "manifest/HttpManifestException.h"
#include "manifest/JsonHttpGeolocationManifestFactory.h"
#include "manifest/JsonHttpManifestSource.h"
#include "manifest/ManifestException.h"
#include "manifest/ManifestTrust.h"
#include "manifest/Minisign.h"
#include "manifest/NodeListManifest.h"
#include "manifest/NodeManifest.h"
#include "manifest/PackageManifest.h"
#include "manifest/XmlHttpManifestSource.h"
#include "manifest/XmlHttpNodeListManifestFactory.h"
#include "manifest/XmlHttpPackageManifestFactory.h"
#include "manifest/tests/TreeDocuments.h"
#include "tests/support/Eventually.h"
#include "tests/support/FinishesWithin.h"
#include "tests/support/TestHttpServer.h"

namespace vrexa {
namespace {

using testsupport::Fault;
using testsupport::TestHttpServer;

const std::string kPackage =
    testing::PackageXml(testing::FileXml("run.exe", "4", "10", std::string(24, '0')), "<run>run.exe</run>");
const std::string kNodes =
    "<ArrayOfNodeInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">"
    "<NodeInfo NodeId=\"n1\" Host=\"a.example\"/><NodeInfo><NodeId>n2</NodeId><Host>b.example</Host></NodeInfo>"
    "</ArrayOfNodeInfo>";
const std::string kGeolocation = R"({"ip":"192.0.2.1","country_code":"SE","isp":"Example"})";

// HTTP components that connect directly, whatever the environment says.
class ManifestSourceTest : public ::testing::Test {
protected:
    // Bodies at the paths the factories ask for.
    ManifestSourceTest() {
        server_.SetBody("/manifests/P1/current.xml", kPackage);
        server_.SetBody("/manifests/P1/42.xml", kPackage);
        server_.SetBody("/nodes/N7.xml", kNodes);
        server_.SetBody("/geo-location", kGeolocation);
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

    std::unique_ptr<XmlHttpManifestSource> Source(const std::string& path, std::int32_t timeout = 30,
                                                  DocumentLimits limits = kPackageManifestLimits) {
        return std::make_unique<XmlHttpManifestSource>(server_.Url(path), requestFactory_, nullptr, 10, timeout,
                                                       limits);
    }

    // Waits until the server has seen count requests.
    bool ServerSaw(std::size_t count) {
        return testsupport::Eventually([&] { return server_.Requests().size() >= count; });
    }

    TestHttpServer server_;
    http::posix::ProxyFactoryImpl proxyFactory_{[](const std::string&) { return std::optional<std::string>(); }};
    http::CurlRequestFactory requestFactory_{proxyFactory_};
    http::RoundRobinSessionFactory sessionFactory_;
};

TEST_F(ManifestSourceTest, EveryFetchOutcomeEndsAsItsManifestFailure) {
    enum class Outcome { Success, Locator, Stream };
    const struct {
        const char* name;
        Fault fault;
        std::int32_t timeout;
        Outcome outcome;
        int responseCode;
        std::optional<http::State> state;  // none where the platform decides
    } cases[] = {
        {"ok", Fault(), 30, Outcome::Success, 200, http::State::Succeeded},
        {"not found", Fault().Status(404), 30, Outcome::Locator, 404, http::State::ClientError},
        {"forbidden", Fault().Status(403), 30, Outcome::Locator, 403, http::State::ClientError},
        {"server error", Fault().Status(500), 30, Outcome::Stream, 500, http::State::ServerError},
        {"unavailable", Fault().Status(503), 30, Outcome::Stream, 503, http::State::ServerError},
        {"cut short", Fault().Cut(20), 30, Outcome::Stream, 200, http::State::RangeError},
        {"time-out", Fault().Stall(10), 1, Outcome::Stream, 200, http::State::Timeout},
        {"reset", Fault().Reset(), 30, Outcome::Stream, 0, std::nullopt},
        // A host's answer too large for libcurl is that host's fault, never an
        // out-of-memory of ours.
        {"header over 100 KB", Fault().Header("X-Padding", std::string(200 * 1024, 'p')), 30, Outcome::Stream, 200,
         http::State::TransmitError},
    };
    for (const auto& c : cases) {
        server_.ClearFaults();
        server_.SetBody("/doc.xml", kPackage);
        server_.SetFault("/doc.xml", c.fault);
        auto source = Source("/doc.xml", c.timeout);
        std::stringstream stream;
        try {
            source->Fetch("ignored", stream);
            EXPECT_EQ(c.outcome, Outcome::Success) << c.name;
            EXPECT_EQ(stream.str(), kPackage) << c.name;
        } catch (const HttpManifestLocatorException& failure) {
            EXPECT_EQ(c.outcome, Outcome::Locator) << c.name;
            EXPECT_EQ(failure.GetStatus().responseCode, c.responseCode) << c.name;
            EXPECT_EQ(failure.GetStatus().state, c.state) << c.name;
        } catch (const HttpManifestStreamException& failure) {
            EXPECT_EQ(c.outcome, Outcome::Stream) << c.name;
            EXPECT_EQ(failure.GetStatus().responseCode, c.responseCode) << c.name;
            if (c.state) {
                EXPECT_EQ(failure.GetStatus().state, *c.state) << c.name;
            }
        }
    }
}

TEST_F(ManifestSourceTest, UnusableUrlIsALocatorFailureAndNoListenerAStreamFailure) {
    XmlHttpManifestSource bad("unknown-scheme://127.0.0.1/x.xml", requestFactory_, nullptr, 10, 30,
                              kPackageManifestLimits);
    std::stringstream stream;
    EXPECT_THROW(bad.Fetch("", stream), HttpManifestLocatorException);

    const std::string closed = server_.Url("/x.xml");
    server_.Stop();
    XmlHttpManifestSource refused(closed, requestFactory_, nullptr, 10, 30, kPackageManifestLimits);
    std::stringstream other;
    try {
        refused.Fetch("", other);
        ADD_FAILURE() << "fetched from a stopped server";
    } catch (const HttpManifestStreamException& failure) {
        EXPECT_EQ(failure.GetStatus().state, http::State::ConnectError);
    }
}

// A body over the cap is refused like a missing document, not retried: the
// same answer would come again, and each attempt would read the whole cap.
// A dead or trickling host is given up on within the document's time, and a
// slow body ends by the speed floor long before the per-attempt limit.
TEST_F(ManifestSourceTest, BoundsEndAFetchByTheDeadlineOrTheSpeedFloor) {
    using std::chrono::seconds;
    using std::chrono::steady_clock;
    const struct {
        const char* name;
        Fault fault;
        steady_clock::duration deadlineIn;
        std::int32_t lowSpeedLimit;
        std::int32_t lowSpeedTime;
        std::string message;
        std::size_t requests;
    } cases[] = {
        {"deadline passed", Fault(), -seconds(1), 0, 0, "time for the document spent", 0},
        {"stalled until the deadline", Fault().Stall(10), seconds(1), 0, 0, "libcurl error 28 (HTTP 200)", 1},
        {"below the speed floor", Fault().Stall(10), seconds(600), 1024, 1, "libcurl error 28 (HTTP 200)", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.ClearFaults();
        server_.ClearRequests();
        server_.SetBody("/doc.xml", kPackage);
        server_.SetFault("/doc.xml", c.fault);
        // The per-attempt limit alone would hold the fetch for ten minutes.
        auto source = Source("/doc.xml", 600);
        source->Bound(steady_clock::now() + c.deadlineIn, c.lowSpeedLimit, c.lowSpeedTime);
        testsupport::FinishesWithin(seconds(60), [&] {
            std::stringstream stream;
            try {
                source->Fetch("ignored", stream);
                ADD_FAILURE() << "fetched";
            } catch (const HttpManifestStreamException& failure) {
                EXPECT_EQ(failure.GetStatus().state, http::State::Timeout);
                EXPECT_EQ(failure.GetStatus().errorMessage, c.message);
            }
        });
        EXPECT_EQ(server_.Requests().size(), c.requests);
    }
}

TEST_F(ManifestSourceTest, BodyBeyondTheCapIsALocatorFailureAndIsNotKept) {
    server_.SetBody("/big.xml", std::string(5000, 'x'));
    auto source = Source("/big.xml", 30, DocumentLimits{4096, kMaxDocumentDepth});
    std::stringstream stream;
    try {
        source->Fetch("", stream);
        ADD_FAILURE() << "a body over the cap was taken";
    } catch (const HttpManifestLocatorException& failure) {
        EXPECT_EQ(failure.GetStatus().state, http::State::WriteError);
        EXPECT_EQ(failure.GetStatus().errorMessage, "document larger than 4096 bytes");
    }
    EXPECT_LE(stream.str().size(), 4096u);

    // Exactly at the cap is still a document.
    server_.SetBody("/fits.xml", std::string(4096, 'x'));
    auto fits = Source("/fits.xml", 30, DocumentLimits{4096, kMaxDocumentDepth});
    std::stringstream fitting;
    fits->Fetch("", fitting);
    EXPECT_EQ(fitting.str().size(), 4096u);
}

TEST_F(ManifestSourceTest, ASignedFetchHandsDocumentAndSignatureToTheCheckBeforeTheStream) {
    server_.SetBody("/s/doc.xml", kNodes);
    server_.SetBody("/s/doc.xml.minisig", "sig");
    server_.SetFault("/s/busy.xml.minisig", Fault().Status(503));
    server_.SetBody("/s/busy.xml", kNodes);
    server_.SetBody("/s/huge.xml", kNodes);
    server_.SetBody("/s/huge.xml.minisig", std::string(kMaxMinisignFileBytes + 1, 's'));
    server_.SetBody("/s/missing.xml", kNodes);

    // Refusals the check makes: the first fetch's, and the second's.
    struct Case {
        const char* name;
        const char* path;
        int refusals;
        std::string failure;  // empty: the document arrives
        std::size_t checks;
    };
    const std::string base = server_.Url("/s/");
    const std::vector<Case> cases = {
        {"accepted", "doc.xml", 0, "", 1},
        {"refused once, as while a publisher swaps the pair", "doc.xml", 1, "", 2},
        {"refused twice", "doc.xml", 2, "refused", 2},
        {"no signature", "missing.xml", 0, "no signature at " + base + "missing.xml.minisig (HTTP 404)", 0},
        {"signature too large", "huge.xml", 0,
         "the signature at " + base + "huge.xml.minisig is larger than " + std::to_string(kMaxMinisignFileBytes) +
             " bytes",
         0},
        {"signature unavailable", "busy.xml", 0, "stream", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = Source(std::string("/s/") + c.path, 30, kNodeListLimits);
        std::size_t checks = 0;
        source->RequireSignature([&](const std::string& document, const std::string& signature) {
            EXPECT_EQ(document, kNodes);
            EXPECT_EQ(signature, "sig");
            if (++checks <= static_cast<std::size_t>(c.refusals)) throw ManifestSignatureException("refused");
        });
        std::stringstream stream;
        std::string failure;
        try {
            source->Fetch("", stream);
        } catch (const ManifestSignatureException& refused) {
            failure = refused.what();
        } catch (const HttpManifestStreamException&) {
            failure = "stream";
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(checks, c.checks);
        // Nothing of a refused document is ever handed on to be parsed.
        EXPECT_EQ(stream.str(), c.failure.empty() ? kNodes : "");
    }
}

TEST_F(ManifestSourceTest, AbortDuringAFetchEndsItAborted) {
    server_.SetBody("/slow.xml", kPackage);
    server_.SetFault("/slow.xml", Fault().Stall(5));
    auto source = Source("/slow.xml");
    std::thread aborter([&] {
        if (ServerSaw(1)) source->Abort();
    });
    std::stringstream stream;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(source->Fetch("", stream), ManifestAbortedException);
    aborter.join();
    // Ended by the abort, not by the 30 s time limit.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(25));
}

// A work may store its source and be cancelled before it starts the fetch:
// that abort must still end the fetch that follows, or the cancel would wait
// for the whole time limit.
TEST_F(ManifestSourceTest, AbortBeforeAFetchEndsTheNextFetchOnlyAndSendsNothing) {
    auto source = Source("/manifests/P1/current.xml");
    source->Abort();
    std::stringstream aborted;
    EXPECT_THROW(source->Fetch("", aborted), ManifestAbortedException);
    EXPECT_TRUE(server_.Requests().empty());

    std::stringstream fetched;
    source->Fetch("", fetched);
    EXPECT_EQ(fetched.str(), kPackage);
}

TEST_F(ManifestSourceTest, MalformedDocumentsAreParseFailures) {
    const struct {
        bool json;
        std::string document;
    } cases[] = {
        {false, kPackage.substr(0, kPackage.size() / 2)},        {false, "<a x=\"1"}, {false, "<a><b>"},
        {true, kGeolocation.substr(0, kGeolocation.size() - 3)}, {true, ""},          {true, "{\"a\":}"},
    };
    for (const auto& c : cases) {
        server_.SetBody("/doc", c.document);
        std::unique_ptr<HttpManifestSource> source;
        if (c.json)
            source = std::make_unique<JsonHttpManifestSource>(server_.Url("/doc"), requestFactory_, nullptr, 10, 30,
                                                              kGeolocationLimits);
        else
            source = Source("/doc");
        std::stringstream stream;
        source->Fetch("", stream);
        boost::property_tree::ptree tree;
        EXPECT_THROW(source->Parse(stream, tree), ManifestParseException) << c.document;
    }
}

// About 40 000 nested elements would overflow the XML reader's stack.
TEST_F(ManifestSourceTest, DeeplyNestedDocumentsAreRefusedNotParsed) {
    server_.SetBody("/manifests/P1/current.xml", testing::Nested(100000, "<n>", "</n>"));
    XmlHttpPackageManifestFactory packages(Host(), requestFactory_, 10, 30);
    EXPECT_THROW(packages.GetManifest("P1"), ManifestParseException);

    server_.SetBody("/geo", testing::Nested(100000, "{\"a\":", "}"));
    JsonHttpGeolocationManifestFactory geolocation(server_.Url("/geo"), requestFactory_, 5, 10);
    // Larger than a geolocation answer may be: refused while it arrives.
    EXPECT_THROW(geolocation.GetManifest(), HttpManifestLocatorException);
    server_.SetBody("/geo", testing::Nested(10000, "{\"a\":", "}"));
    EXPECT_THROW(geolocation.GetManifest(), ManifestParseException);
}

TEST(ManifestUrlTest, FactoriesBuildTheDocumentUrls) {
    http::posix::ProxyFactoryImpl proxies([](const std::string&) { return std::optional<std::string>(); });
    http::CurlRequestFactory requests(proxies);
    XmlHttpPackageManifestFactory packages("manifests.example:8080", requests, 10, 30);
    XmlHttpNodeListManifestFactory nodes("manifests.example", requests, 10, 30);
    XmlHttpPackageManifestFactory securePackages("https://manifests.example:8443", requests, 10, 30);
    XmlHttpNodeListManifestFactory secureNodes("https://manifests.example", requests, 10, 30);
    const struct {
        std::string built;
        std::string expected;
    } cases[] = {
        {packages.BuildUrl("P1"), "http://manifests.example:8080/manifests/P1/current.xml"},
        {packages.BuildUrl("P1/42"), "http://manifests.example:8080/manifests/P1/42.xml"},
        {packages.BuildUrl("P 1?x#y"), "http://manifests.example:8080/manifests/P%201%3Fx%23y/current.xml"},
        {nodes.BuildUrl("N7"), "http://manifests.example/nodes/N7.xml"},
        {securePackages.BuildUrl("P1/42"), "https://manifests.example:8443/manifests/P1/42.xml"},
        {secureNodes.BuildUrl("N7"), "https://manifests.example/nodes/N7.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.expected);
    }
    for (const std::string host :
         {"", "manifests.example:99999", "manifests.example:port", "https://", "ftp://manifests.example"}) {
        XmlHttpPackageManifestFactory bad(host, requests, 10, 30);
        EXPECT_THROW(bad.BuildUrl("P1"), ManifestLocatorException) << host;
        EXPECT_THROW(bad.CreateSource("P1"), ManifestLocatorException) << host;
    }
}

TEST_F(ManifestSourceTest, IdsGoIntoTheRequestAsOneEncodedSegmentEach) {
    XmlHttpPackageManifestFactory packages(Host(), requestFactory_, 10, 30);
    XmlHttpNodeListManifestFactory nodes(Host(), requestFactory_, 10, 30);
    const struct {
        std::function<void()> fetch;
        const char* target;
    } cases[] = {
        {[&] { packages.GetManifest("P 1?x#y"); }, "/manifests/P%201%3Fx%23y/current.xml"},
        {[&] { packages.GetManifest("P%2F/v 1"); }, "/manifests/P%252F/v%201.xml"},
        {[&] { packages.GetManifest("\xC3\xA5/..x"); }, "/manifests/%C3%A5/..x.xml"},
        {[&] { nodes.GetManifest("N 7%#"); }, "/nodes/N%207%25%23.xml"},
        {[&] { nodes.GetManifest("N\\7"); }, "/nodes/N%5C7.xml"},
    };
    for (const auto& c : cases) {
        server_.ClearRequests();
        // Nothing is served there: the answer is a 404.
        EXPECT_THROW(c.fetch(), HttpManifestLocatorException) << c.target;
        const auto requests = server_.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.target;
        EXPECT_EQ(requests[0].target, c.target);
    }
}

TEST_F(ManifestSourceTest, IdsThatAreNotOneSegmentAreRefusedBeforeAnyRequest) {
    XmlHttpPackageManifestFactory packages(Host(), requestFactory_, 10, 30);
    XmlHttpNodeListManifestFactory nodes(Host(), requestFactory_, 10, 30);
    // A package id may carry one "/" before its version; nothing else may
    // leave its segment.
    for (const char* id :
         {"../../nodes/pb", "..", ".", "", "/P1", "P1/", "P1/..", "P1/.", "../42", "P1/4/2", "P1//42"}) {
        EXPECT_THROW(packages.BuildUrl(id), ManifestLocatorException) << id;
        EXPECT_THROW(packages.GetManifest(id), ManifestLocatorException) << id;
    }
    for (const char* id : {"..", ".", "", "N7/x", "../manifests/P1/current"}) {
        EXPECT_THROW(nodes.BuildUrl(id), ManifestLocatorException) << id;
        EXPECT_THROW(nodes.GetManifest(id), ManifestLocatorException) << id;
    }
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(ManifestSourceTest, PackageManifestMustBeTheRequestedPackageAndVersion) {
    const struct {
        const char* id;
        const char* path;
        std::string served;
        bool accepted;
    } cases[] = {
        {"P1", "/manifests/P1/current.xml", kPackage, true},  {"P1/42", "/manifests/P1/42.xml", kPackage, true},
        {"P2", "/manifests/P2/current.xml", kPackage, false},  // the document is of P1
        {"P2/42", "/manifests/P2/42.xml", kPackage, false},    // likewise, with a version
        {"P1/43", "/manifests/P1/43.xml", kPackage, false},    // version 42 answered for 43
        {"P", "/manifests/P/current.xml", kPackage, false},    // a prefix is not the id
    };
    XmlHttpPackageManifestFactory factory(Host(), requestFactory_, 10, 30);
    for (const auto& c : cases) {
        server_.SetBody(c.path, c.served);
        if (c.accepted) {
            const auto manifest = factory.GetManifest(c.id);
            ASSERT_NE(manifest, nullptr);
            EXPECT_EQ(manifest->GetId(), "P1");
            EXPECT_EQ(manifest->GetRun(), "run.exe");
        } else {
            try {
                factory.GetManifest(c.id);
                ADD_FAILURE() << c.id << " accepted";
            } catch (const HttpManifestException&) {
                ADD_FAILURE() << c.id << " refused as an HTTP failure";
            } catch (const ManifestLocatorException&) {
            }
        }
    }
}

TEST_F(ManifestSourceTest, FactoriesLoadEachDocumentWithAndWithoutASession) {
    XmlHttpPackageManifestFactory packages(Host(), requestFactory_, 10, 30);
    XmlHttpNodeListManifestFactory nodes(Host(), requestFactory_, 10, 30);
    JsonHttpGeolocationManifestFactory geolocation(server_.Url("/geo-location"), requestFactory_, 5, 10);
    const auto session = sessionFactory_.CreateSession();
    for (const auto& use : {std::shared_ptr<http::Session>(), session}) {
        const auto package = packages.GetManifest("P1", use);
        EXPECT_EQ(package->GetFiles().size(), 1u);
        EXPECT_EQ(package->GetRunFile()->GetPath(), "run.exe");

        // The list element's namespace attribute is lifted into a child that
        // is not a node; the first node is given in attribute form.
        const auto list = nodes.GetManifest("N7", use);
        ASSERT_EQ(list->GetNodes().size(), 2u);
        EXPECT_EQ(list->GetNodes()[0]->GetNodeId(), "n1");
        EXPECT_EQ(list->GetNodes()[0]->GetHost(), "a.example");
        EXPECT_EQ(list->GetNodes()[1]->GetHost(), "b.example");

        const auto location = geolocation.GetManifest(use);
        EXPECT_EQ(location->GetCountryCode(), "SE");
        EXPECT_EQ(location->GetIsp(), "Example");
    }
    std::vector<std::string> paths;
    for (const auto& request : server_.Requests())
        paths.push_back(request.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/manifests/P1/current.xml", "/nodes/N7.xml", "/geo-location",
                                               "/manifests/P1/current.xml", "/nodes/N7.xml", "/geo-location"}));
    // The sources made without a session fetch the same documents.
    EXPECT_EQ(packages.GetManifest("P1/42")->GetVersionId(), "42");
    EXPECT_EQ(nodes.GetManifest("N7")->GetNodes().size(), 2u);
    EXPECT_EQ(geolocation.GetManifest()->GetIp(), "192.0.2.1");
}

}  // namespace
}  // namespace vrexa
