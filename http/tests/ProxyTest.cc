#include <gtest/gtest.h>

#include <map>

#include "http/ManualProxy.h"
#include "http/posix/ProxyFactoryImpl.h"

namespace vrexa::http {
namespace {

TEST(SelectProxyTest, PicksTheSchemesProxyElseTheGenericOne) {
    struct Case {
        std::string proxyList;
        std::string url;
        std::string expected;
    };
    const Case cases[] = {
        {"p0:8080", "http://a.example/x", "p0:8080"},
        {"p0:8080", "https://a.example/x", "p0:8080"},
        {"http=p1:80;https=p2:443", "http://a.example/x", "p1:80"},
        {"http=p1:80;https=p2:443", "https://a.example/x", "p2:443"},
        {"http=p1:80;https=p2:443", "ftp://a.example/x", "p1:80"},  // other schemes count as http
        {"https=p2:443", "http://a.example/x", ""},
        {"https=p2:443 p0:8080", "http://a.example/x", "p0:8080"},
        {"p0:8080, https=p2:443", "https://a.example/x", "p2:443"},
        {"http=p1:80;http=p3:80;p4:1;p5:2", "http://a.example/x", "p1:80"},  // the first of each kind
        {"ftp=p6:21", "ftp://a.example/x", ""},
        {"", "http://a.example/x", ""},
        {" ;, ", "http://a.example/x", ""},
        {":", "http://a.example/x", ""},
        {"::", "http://a.example/x", ""},
        {"http=", "http://a.example/x", ""},
        {"http://p7:3128", "http://a.example/x", "http://p7:3128"},  // handed over unchanged
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SelectProxy(c.url, c.proxyList, ""), c.expected) << c.proxyList << " for " << c.url;
    }
}

TEST(SelectProxyTest, BypassPatternsMatchWholeHostsCaseSensitively) {
    struct Case {
        std::string bypassList;
        std::string host;
        bool bypassed;
    };
    const Case cases[] = {
        {"*.lan;10.*", "srv.lan", true},
        {"*.lan;10.*", "lan", false},
        {"*.lan;10.*", "10.1.2.3", true},
        {"*.lan;10.*", "SRV.LAN", false},
        {"*.lan;10.*", "110.1.2.3", false},
        {"*.lan;10.*", "srv.lan.example", false},
        {"a.b", "axb", false},           // a dot is only a dot
        {"<local>", "intranet", false},  // no token is special
        {"<local>", "<local>", true},
        {"x.example, y.example", "y.example", true},
        {"", "srv.lan", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bypassList + " / " + c.host);
        EXPECT_EQ(IsBypassed(c.host, c.bypassList), c.bypassed);
        EXPECT_EQ(SelectProxy("http://" + c.host + ":81/x", "p0:8080", c.bypassList), c.bypassed ? "" : "p0:8080");
    }
}

TEST(SelectProxyTest, UnparsableInputThrows) {
    EXPECT_ANY_THROW(SelectProxy("http://a.example/x", "p0:8080", "a(b"));
    EXPECT_ANY_THROW(SelectProxy("http://[::1/x", "p0:8080", ""));
}

TEST(ManualProxyTest, DescribesItsListAndSelectsPerUrl) {
    const ManualProxy proxy("http=p1:80;https=p2:443", "*.lan");
    EXPECT_EQ(proxy.Describe(), "http=p1:80;https=p2:443");
    EXPECT_EQ(proxy.GetProxyForUrl("https://a.example/"), "p2:443");
    EXPECT_EQ(proxy.GetProxyForUrl("http://srv.lan/"), "");
    EXPECT_EQ(EmptyProxy().GetProxyForUrl("http://a.example/"), "");
    EXPECT_EQ(EmptyProxy().Describe(), "");
}

TEST(ProxyEnvironmentTest, ProxyVariablesBecomeAProxyList) {
    using posix::ToProxyList;
    EXPECT_EQ(ToProxyList("", ""), "");
    EXPECT_EQ(ToProxyList("http://p:3128", ""), "http=http://p:3128");
    EXPECT_EQ(ToProxyList("", "p:443"), "https=p:443");
    EXPECT_EQ(ToProxyList(" p:1 ", "q:2\n"), "http=p:1;https=q:2");
}

TEST(ProxyEnvironmentTest, NoProxyBecomesABypassList) {
    struct Case {
        std::string noProxy;
        std::string bypassList;
    };
    const Case cases[] = {
        {"", ""},
        {"localhost", "localhost;*.localhost"},
        {".example.com,127.0.0.1", "example.com;*.example.com;127.0.0.1;*.127.0.0.1"},
        {"*", "*"},
        {"10.0.0.0/8, 192.168.1.0/24, 172.16.0.0/12", "10.*;192.168.1.*"},
        {"[::1]", "::1;*.::1"},
        {"a(b).example,good.example", "good.example;*.good.example"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(posix::ToBypassList(c.noProxy), c.bypassList) << c.noProxy;
    }
}

TEST(ProxyFactoryImplTest, BuildsTheProxyFromTheEnvironment) {
    struct Case {
        std::map<std::string, std::string> environment;
        std::string describe;  // "" for a direct connection
        std::string httpProxy;
        std::string httpsProxy;
        std::string bypassableProxy;  // for a host under a.example
    };
    const Case cases[] = {
        {{}, "", "", "", ""},
        {{{"http_proxy", "p:1"}}, "http=p:1", "p:1", "", "p:1"},
        {{{"HTTPS_PROXY", "q:2"}}, "https=q:2", "", "q:2", ""},
        {{{"http_proxy", "p:1"}, {"HTTP_PROXY", "u:9"}}, "http=p:1", "p:1", "", "p:1"},
        {{{"http_proxy", "p:1"}, {"https_proxy", "q:2"}, {"NO_PROXY", "a.example"}},
         "http=p:1;https=q:2",
         "p:1",
         "q:2",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.describe);
        posix::ProxyFactoryImpl factory([&](const std::string& name) -> std::optional<std::string> {
            const auto found = c.environment.find(name);
            if (found == c.environment.end()) return std::nullopt;
            return found->second;
        });
        const std::shared_ptr<Proxy> proxy = factory.Create();
        ASSERT_NE(proxy, nullptr);
        EXPECT_EQ(proxy->Describe(), c.describe);
        EXPECT_EQ(proxy->GetProxyForUrl("http://srv.example/"), c.httpProxy);
        EXPECT_EQ(proxy->GetProxyForUrl("https://srv.example/"), c.httpsProxy);
        EXPECT_EQ(proxy->GetProxyForUrl("http://sub.a.example/"), c.bypassableProxy);
    }
}

}  // namespace
}  // namespace vrexa::http
