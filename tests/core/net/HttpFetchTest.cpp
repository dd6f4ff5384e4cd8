#include "core/net/HttpFetch.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>

#include "support/HostileRouter.h"
#include "support/LoopbackServer.h"
#include "support/TlsRouter.h"
#include "support/Wait.h"

namespace {

class HttpFetchTest : public testing::Test {
protected:
    // One GET on a fresh handle; nullopt when no page was read.
    std::optional<std::string> Fetch(const std::string& target, const std::string& headers = {},
                                     FetchError* error = nullptr) {
        InternetHandle internet = OpenInternetHandle(options);
        EXPECT_TRUE(internet);
        PageRequest request = OpenPage(*internet, server.Url(target), headers);
        if (!request) {
            return std::nullopt;
        }
        return ReadWholeResponse(*request, error);
    }

    std::string Header(std::size_t request, const std::string& name) const {
        const auto requests = server.Requests();
        const auto found = requests.at(request).headers.find(name);
        return found != requests.at(request).headers.end() ? found->second : "<none>";
    }

    CLoopbackServer server;
    FetchOptions options;
};

TEST_F(HttpFetchTest, SendsTheAgentNoCacheAndTheHeaderTextUnchanged) {
    server.Serve("/", 200, "<html>home</html>");
    EXPECT_EQ(Fetch("/", "Authorization: Basic YWRtaW46c2VjcmV0\r\n\r\n"), "<html>home</html>");
    EXPECT_EQ(Header(0, "User-Agent"), "Velmo/1.0");
    EXPECT_EQ(Header(0, "Pragma"), "no-cache");
    EXPECT_EQ(Header(0, "Authorization"), "Basic YWRtaW46c2VjcmV0");
    EXPECT_EQ(Fetch("/"), "<html>home</html>");
    EXPECT_EQ(Header(1, "Authorization"), "<none>");
}

TEST_F(HttpFetchTest, ErrorStatusBodiesArePageText) {
    server.Serve("/secret.htm", 401, "<h1>Unauthorized</h1><a href=\"/login.htm\">login</a>");
    EXPECT_EQ(Fetch("/secret.htm"), "<h1>Unauthorized</h1><a href=\"/login.htm\">login</a>");
    EXPECT_EQ(Fetch("/nothing-here"), "<html><body><h1>404 Not Found</h1></body></html>");
}

TEST_F(HttpFetchTest, NeverAuthenticatesByItselfNorKeepsCookies) {
    server.RequireAuthorization("Basic YWRtaW46c2VjcmV0");
    CLoopbackServer::Page withCookie;
    withCookie.body = "cookie set";
    withCookie.headers = {{"Set-Cookie", "session=42; Path=/"}};
    server.Serve("/cookie", withCookie);
    const std::string header = BuildAuthorizationHeader("admin", "secret");
    InternetHandle internet = OpenInternetHandle();
    for (int i = 0; i < 2; ++i) {
        PageRequest request = OpenPage(*internet, server.Url("/cookie"), header);
        ASSERT_TRUE(request);
        EXPECT_EQ(ReadWholeResponse(*request), "cookie set");
    }
    PageRequest denied = OpenPage(*internet, server.Url("/cookie"), "");
    ASSERT_TRUE(denied);
    EXPECT_NE(ReadWholeResponse(*denied)->find("401"), std::string::npos);
    for (const auto& request : server.Requests()) {
        EXPECT_EQ(request.headers.count("Cookie"), 0u);
    }
    EXPECT_EQ(server.Requests().size(), 3u) << "a 401 must not be retried with other credentials";
}

TEST_F(HttpFetchTest, LongCredentialsPassTheServersCheck) {
    for (const std::size_t length : {57u, 58u, 200u}) {
        CLoopbackServer router;
        const std::string login(length - 7, 'a');
        const std::string header = BuildAuthorizationHeader(login, "secret");
        router.RequireAuthorization(header.substr(15, header.size() - 19));
        router.Serve("/", 200, "welcome");
        InternetHandle internet = OpenInternetHandle();
        PageRequest request = OpenPage(*internet, router.Url("/"), header);
        ASSERT_TRUE(request);
        EXPECT_EQ(ReadWholeResponse(*request), "welcome") << length << "-byte credentials";
    }
}

TEST_F(HttpFetchTest, FollowsTheFiveRedirectStatusesOnlyAnyOtherIsThePage) {
    server.Serve("/landing", 200, "landing");
    const struct {
        int status;
        std::optional<std::string> body;
    } cases[] = {{301, "landing"}, {302, "landing"}, {303, "landing"},   {307, "landing"},
                 {308, "landing"}, {300, "choices"}, {304, std::nullopt}};
    for (const auto& c : cases) {
        const std::string target = "/" + std::to_string(c.status);
        server.Serve(target, {c.status, "choices", {{"Location", "/landing"}}});
        EXPECT_EQ(Fetch(target), c.body) << c.status;
    }
    EXPECT_EQ(server.RequestedTargets(),
              (std::vector<std::string>{"/301", "/landing", "/302", "/landing", "/303", "/landing",
                                        "/307", "/landing", "/308", "/landing", "/300", "/304"}));
}

TEST_F(HttpFetchTest, FollowsTenRedirectsOnOneConnectionAndFailsOnTheEleventh) {
    // "/hop/N" sends N more redirects before the page.
    server.ServeOthers([](const std::string& target) {
        const int left = std::stoi(target.substr(5));
        CLoopbackServer::Page page;
        page.body = "arrived";
        if (left > 0) {
            page.status = 302;
            page.headers = {{"Location", "/hop/" + std::to_string(left - 1)}};
        }
        return page;
    });
    InternetHandle internet = OpenInternetHandle();
    PageRequest request = OpenPage(*internet, server.Url("/hop/10"), "");
    ASSERT_TRUE(request) << LastFetchFailure(*internet);
    EXPECT_EQ(ReadWholeResponse(*request), "arrived");
    EXPECT_EQ(server.Requests().size(), 11u);
    EXPECT_EQ(server.ConnectionCount(), 1u) << "the redirects did not reuse the connection";
    EXPECT_FALSE(OpenPage(*internet, server.Url("/hop/11"), ""));
    EXPECT_EQ(server.Requests().size(), 22u);
    EXPECT_EQ(LastFetchFailure(*internet), "too many redirects (more than 10 redirects)");
}

TEST_F(HttpFetchTest, BodiesComeBackWholeAndInOrder) {
    std::string big;
    for (int i = 0; big.size() < 100000; ++i) {
        big += "<tr><td>row " + std::to_string(i) + "</td></tr>\n";
    }
    CLoopbackServer::Page trickle;
    trickle.body = big;
    trickle.pieceSize = 7;
    server.Serve("/big", 200, big);
    server.Serve("/trickle", trickle);
    EXPECT_EQ(Fetch("/big"), big);
    EXPECT_EQ(Fetch("/trickle"), big);
}

TEST_F(HttpFetchTest, EmptyBodyIsNoPage) {
    server.Serve("/empty", 200, "");
    FetchError error = FetchError::Failed;
    EXPECT_EQ(Fetch("/empty", {}, &error), std::nullopt);
    EXPECT_EQ(error, FetchError::None);
}

TEST_F(HttpFetchTest, EachChunkOfABodyWithNulBytesEndsAtItsFirstNul) {
    std::string body = std::string("abc") + '\0' + "hidden";
    body.resize(4096, 'x');
    body += std::string("second") + '\0' + "gone";
    server.Serve("/nul", 200, body);
    EXPECT_EQ(Fetch("/nul"), "abcsecond");
}

TEST_F(HttpFetchTest, OversizedBodyFailsAsTooLarge) {
    server.Serve("/huge", 200, std::string(kMaxResponseBytes + 1, 'a'));
    server.Serve("/limit", 200, std::string(kMaxResponseBytes, 'a'));
    FetchError error = FetchError::None;
    EXPECT_EQ(Fetch("/huge", {}, &error), std::nullopt);
    EXPECT_EQ(error, FetchError::TooLarge);
    EXPECT_EQ(Fetch("/limit")->size(), kMaxResponseBytes);
}

TEST_F(HttpFetchTest, ConnectionClosedInMidBodyGivesTheBytesThatArrived) {
    CLoopbackServer::Page dropped;
    dropped.body = std::string(10000, 'd');
    dropped.pieceSize = 1000;
    dropped.bDropMidBody = true;
    server.Serve("/drop", dropped);
    FetchError error = FetchError::Failed;
    EXPECT_EQ(Fetch("/drop", {}, &error), std::string(5000, 'd'));
    EXPECT_EQ(error, FetchError::None);
}

TEST_F(HttpFetchTest, StalledServerEndsTheTransfer) {
    options.timeouts = {std::chrono::milliseconds(2000), std::chrono::milliseconds(100)};
    CLoopbackServer::Page silent;
    silent.body = "late";
    silent.delay = std::chrono::seconds(30);
    server.Serve("/silent", silent);
    CLoopbackServer::Page stalls;
    stalls.body = std::string(100, 's');
    stalls.pieceSize = 50;
    stalls.pieceDelay = std::chrono::seconds(30);
    server.Serve("/stalls", stalls);
    EXPECT_EQ(Fetch("/silent"), std::nullopt);
    EXPECT_EQ(Fetch("/stalls"), std::nullopt);
}

TEST_F(HttpFetchTest, RefusedConnectionOpensNoPage) {
    std::string url;
    {
        CLoopbackServer gone;
        url = gone.Url("/");
    }
    InternetHandle internet = OpenInternetHandle();
    EXPECT_FALSE(OpenPage(*internet, url, ""));
    EXPECT_FALSE(OpenPage(*internet, "", ""));
    EXPECT_FALSE(OpenPage(*internet, "https://127.0.0.1:1/", ""));
}

TEST_F(HttpFetchTest, SettingTheAbortFlagEndsATransferInFlightAtOnce) {
    server.Serve("/slow", CLoopbackServer::Stalling());
    std::atomic<bool> abort{false};
    InternetHandle internet = OpenInternetHandle({{}, CAbortSignal(&abort)});
    auto fetch = std::async(std::launch::async, [&] {
        PageRequest request = OpenPage(*internet, server.Url("/slow"), "");
        return request ? ReadWholeResponse(*request) : std::nullopt;
    });
    ASSERT_TRUE(WaitUntil([&] { return !server.Requests().empty(); })) << "no request arrived";
    const auto start = std::chrono::steady_clock::now();
    abort = true;
    EXPECT_EQ(fetch.get(), std::nullopt);
    // At once, long before the stall limit of 10 s would end it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(LastFetchFailure(*internet).starts_with("cancelled"))
        << LastFetchFailure(*internet);
    // Nobody accepts on this listener: a connection made would wait in its queue.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_FALSE(
        OpenPage(*internet, "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), ""));
    const int connection = accept(listener, nullptr, nullptr);
    EXPECT_LT(connection, 0) << "the aborted handle connected";
    if (connection >= 0) {
        close(connection);
    }
    close(listener);
}

TEST_F(HttpFetchTest, OneHandleKeepsOneConnectionAlive) {
    for (int i = 0; i < 20; ++i) {
        server.Serve("/p" + std::to_string(i), 200, "page " + std::to_string(i));
    }
    InternetHandle internet = OpenInternetHandle();
    for (int i = 0; i < 20; ++i) {
        PageRequest request = OpenPage(*internet, server.Url("/p" + std::to_string(i)), "");
        ASSERT_TRUE(request);
        EXPECT_EQ(ReadWholeResponse(*request), "page " + std::to_string(i));
    }
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST_F(HttpFetchTest, RequestLineCarriesPathsTheServerCanRead) {
    server.Serve("/a%20b.htm", 200, "space");
    server.Serve("/100%25.htm", 200, "percent");
    server.Serve("/%C3%A9t%C3%A9.htm", 200, "accents");
    EXPECT_EQ(Fetch("/a b.htm"), "space");
    EXPECT_EQ(Fetch("/a%20b.htm"), "space");
    EXPECT_EQ(Fetch("/100%.htm"), "percent");
    EXPECT_EQ(Fetch("/\xC3\xA9t\xC3\xA9.htm"), "accents");
    EXPECT_EQ(server.Requests().at(2).path, "/100%.htm");
}

// Detection goes through the proxy of the environment; credentials never do, whatever handle
// carries them.
TEST_F(HttpFetchTest, RequestsGoThroughTheProxyOfTheEnvironment) {
    CLoopbackServer proxy;
    proxy.ServeOthers([](const std::string&) {
        CLoopbackServer::Page page;
        page.body = "via proxy";
        return page;
    });
    const std::string noProxy = getenv("no_proxy");
    setenv("http_proxy", proxy.Url("").c_str(), 1);
    setenv("no_proxy", "localhost", 1);
    InternetHandle internet = OpenInternetHandle();
    PageRequest request = OpenPage(*internet, "http://127.0.0.2:9/status.htm", "");
    PageRequest withLogin =
        OpenPage(*internet, "http://127.0.0.2:9/status.htm", "Authorization: Basic YTpi\r\n");
    unsetenv("http_proxy");
    setenv("no_proxy", noProxy.c_str(), 1);
    ASSERT_TRUE(request);
    EXPECT_EQ(ReadWholeResponse(*request), "via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].target, "http://127.0.0.2:9/status.htm");
    EXPECT_FALSE(withLogin);  // straight to a closed port
}

// What a broken or hostile router sends: whatever body arrives is the page, nothing holds a
// request longer than its limits.
TEST(HostileRouter, EveryAnswerEndsAsAPageOrAFailure) {
    using namespace std::chrono_literals;
    using Hostile = CHostileRouter;
    const std::string page = "<html>WAN 203.0.113.45</html>";
    const struct {
        const char* name;
        Hostile::Answer answer;
        std::optional<std::string> body;
        const char* failure;  // how LastFetchFailure begins
        // Only the limit a row's misbehaviour must run into is tight; a willing router, however
        // slow a loaded, sanitised build reads it, gets the limits of seconds of the program.
        HttpTimeouts limits = {};
    } cases[] = {
        {"HTTP/0.9", Hostile::Http09(page), page, ""},
        {"short body", Hostile::ShortBody(page, 1000), page, ""},
        {"reset mid-body", Hostile::ResetMidBody(page), std::nullopt, "connection dropped"},
        {"bad chunking", Hostile::BadChunking(page), std::nullopt, "connection dropped"},
        {"100 MB body", Hostile::Huge(100u << 20), std::nullopt, "too large"},
        {"endless body", Hostile::EndlessBody(), std::nullopt, "too large"},
        {"silent",
         Hostile::Silent(),
         std::nullopt,
         "timed out (nothing received for 300 ms)",
         {.stall = 300ms}},
        {"endless 100 Continue",
         Hostile::EndlessInterim(5ms),
         std::nullopt,
         "timed out (no whole answer within 600 ms)",
         {.total = 600ms}},
        {"drip",
         Hostile::Drip(std::string(100000, 'd'), 5ms),
         std::nullopt,
         "timed out (no whole answer within 600 ms)",
         {.total = 600ms}},
    };
    for (const auto& c : cases) {
        Hostile router;
        router.Serve("/", c.answer);
        InternetHandle internet = OpenInternetHandle({c.limits, {}});
        PageRequest request = OpenPage(*internet, router.Url("/"), "");
        const std::optional<std::string> body =
            request ? ReadWholeResponse(*request) : std::nullopt;
        EXPECT_EQ(body, c.body) << c.name;
        EXPECT_EQ(LastFetchFailure(*internet).rfind(c.failure, 0), 0u)
            << c.name << ": " << LastFetchFailure(*internet);
    }
}

TEST(HostileRouter, PathsGoOutAsListedDotSegmentsIncluded) {
    CHostileRouter router;
    const std::vector<std::string> paths = {"/a/../b.htm", "/a/./c.htm", "/x/../etc/passwd",
                                            "/a/../../b"};
    InternetHandle internet = OpenInternetHandle();
    for (const std::string& path : paths) {
        EXPECT_TRUE(OpenPage(*internet, router.Url(path), "")) << path;
    }
    EXPECT_EQ(router.RequestedTargets(), paths);
}

// Each row a redirect chain through the router (0), the router on another port (1) and two other
// hosts (2, 3): whether each hop carries the credentials given for the first. Hop n's target names
// the hops still to come.
TEST(HostileRouter, CredentialsFollowRedirectsOnTheRoutersHostAndPortOnly) {
    CHostileRouter router;
    CHostileRouter routerOtherPort;
    CHostileRouter elsewhere("127.0.0.2");
    CHostileRouter third("127.0.0.3");
    CHostileRouter* const hosts[] = {&router, &routerOtherPort, &elsewhere, &third};
    for (CHostileRouter* host : hosts) {
        host->ServeOthers([&hosts](const std::string& target) {
            const std::string rest = target.substr(3);  // "/c/…"
            return rest.empty() ? CHostileRouter::Page("end")
                                : CHostileRouter::Redirect(
                                      hosts[rest[0] - '0']->Url("/c/" + rest.substr(1)));
        });
    }
    router.Serve("/https", CHostileRouter::Redirect("https://127.0.0.1:1/"));
    const struct {
        const char* way;
        int start;
        std::string next;  // the hosts the redirects lead to, in order
        std::vector<bool> sent;
    } chains[] = {
        {"the router on another port", 0, "1", {true, false}},
        {"back from another port", 0, "10", {true, false, true}},
        {"another host", 0, "2", {true, false}},
        {"credentials given for another host stay there", 2, "0", {true, false}},
        {"the second hop leaves the router", 0, "03", {true, true, false}},
        {"a host met again", 0, "22", {true, false, false}},
        {"two other hosts by turns", 0, "2323", {true, false, false, false, false}},
        {"back and forth on another port first",
         0,
         "12323",
         {true, false, false, false, false, false}},
    };
    const std::string header = BuildAuthorizationHeader("admin", "secret");
    InternetHandle internet = OpenInternetHandle();
    for (const auto& chain : chains) {
        std::size_t before[4];
        for (std::size_t i = 0; i < 4; ++i) {
            before[i] = hosts[i]->RequestCount();
        }
        PageRequest request =
            OpenPage(*internet, hosts[chain.start]->Url("/c/" + chain.next), header);
        ASSERT_TRUE(request) << chain.way;
        EXPECT_EQ(ReadWholeResponse(*request), "end") << chain.way;
        const std::string hops = std::to_string(chain.start) + chain.next;
        for (std::size_t hop = 0; hop < hops.size(); ++hop) {
            const std::size_t host = static_cast<std::size_t>(hops[hop] - '0');
            EXPECT_EQ(hosts[host]->Header(before[host]++, "Authorization"),
                      chain.sent[hop] ? "Basic YWRtaW46c2VjcmV0" : "<none>")
                << chain.way << ", hop " << hop;
        }
    }
    EXPECT_EQ(OpenPage(*internet, router.Url("/https"), header), nullptr);
    EXPECT_EQ(router.Header(router.RequestCount() - 1, "Authorization"), "Basic YWRtaW46c2VjcmV0");
}

// Knows `pin` for every host, or none; records what the fetch told it.
class CTestTrust final : public ITlsTrust {
public:
    std::string pin;
    bool bTrustNew = false;
    std::vector<std::string> told;

    std::string KnownPin(const std::string&, std::uint16_t) override { return pin; }
    bool TrustNewKey(const std::string& host, std::uint16_t, const ServerKey& key) override {
        told.push_back("new " + host + " " + key.pin + " " + key.subject);
        return bTrustNew;
    }
    void KeyChanged(const std::string& host, std::uint16_t, const ServerKey& key,
                    const std::string& known) override {
        told.push_back("changed " + host + " " + key.pin + " " + known);
    }
};

// Each row one https request: what the trust knows and says, and what the router then saw. A key
// is judged once the handshake has shown it, before any request: a refused one hears nothing.
TEST(TlsRouter, TheKeyIsTheTrustAndARefusedKeyHearsNothing) {
    CTlsRouter router;
    router.Serve("/status.htm", "WAN 203.0.113.45");
    const std::string header = BuildAuthorizationHeader("admin", "secret");
    const std::string pin = router.Pin();
    const std::string subject = "CN = router1.test";
    const struct {
        const char* name;
        std::string known;  // the pin the trust knows
        bool bTrustNew;
        FetchError error;
        std::size_t requests;  // that reached the router
        std::vector<std::string> told;
    } rows[] = {
        {"a new key refused",
         "",
         false,
         FetchError::Untrusted,
         0,
         {"new 127.0.0.1 " + pin + " " + subject}},
        {"a new key trusted",
         "",
         true,
         FetchError::None,
         1,
         {"new 127.0.0.1 " + pin + " " + subject}},
        {"the key known", pin, false, FetchError::None, 1, {}},
        {"another key known",
         "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=",
         true,
         FetchError::KeyChanged,
         0,
         {"changed 127.0.0.1 " + pin + " sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="}},
    };
    for (const auto& row : rows) {
        CTestTrust trust;
        trust.pin = row.known;
        trust.bTrustNew = row.bTrustNew;
        const std::size_t before = router.Requests().size();
        InternetHandle internet = OpenInternetHandle({.trust = &trust});
        PageRequest request = OpenPage(*internet, router.Url("/status.htm"), header);
        EXPECT_EQ(LastFetchError(*internet), row.error) << row.name;
        EXPECT_EQ(request ? ReadWholeResponse(*request) : std::nullopt,
                  row.error == FetchError::None ? std::optional<std::string>("WAN 203.0.113.45")
                                                : std::nullopt)
            << row.name << ": " << LastFetchFailure(*internet);
        EXPECT_EQ(router.Requests().size() - before, row.requests) << row.name;
        EXPECT_EQ(trust.told, row.told) << row.name;
        EXPECT_EQ(LastServerKey(*internet).pin, pin) << row.name;
    }
    // Without a trust, https is no scheme of ours; with one, the run keeps one TLS connection.
    InternetHandle plain = OpenInternetHandle();
    EXPECT_FALSE(OpenPage(*plain, router.Url("/status.htm"), header));
    EXPECT_EQ(LastFetchError(*plain), FetchError::NotHttp);
    router.ChangeKey();
    CTestTrust trust;
    trust.pin = router.Pin();
    InternetHandle internet = OpenInternetHandle({.trust = &trust});
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(OpenPage(*internet, router.Url("/status.htm"), header));
    }
    EXPECT_EQ(router.Requests().size(), 5u);
    EXPECT_EQ(router.ConnectionCount(), 1u);
}

// Each row a request that redirects: the server address and port of each hop, and whether it
// carried the credentials. Only the first request's scheme, address and port get them, and its
// https on the same address when the first was plain http; nothing goes back to http.
TEST(TlsRouter, CredentialsGoToTheRoutersSchemeAddressAndPortOnly) {
    CTlsRouter router;
    CTestTrust trust;
    trust.pin = router.Pin();
    const std::string tls = std::to_string(router.Port());
    const std::string plain = std::to_string(router.PlainPort());
    const std::string other = std::to_string(router.OtherPort());
    const struct {
        const char* way;
        std::string url;
        std::vector<std::string> hops;  // "address:port credentials-or-none"
        bool bOpened = true;
    } rows[] = {
        {"the plain port to https",
         router.PlainUrl("/landing"),
         {"127.0.0.1:" + plain + " yes", "127.0.0.1:" + tls + " yes"}},
        {"https back to http",
         router.Url("/to-http"),
         {"127.0.0.1:" + tls + " yes", "127.0.0.1:" + plain + " no", "127.0.0.1:" + tls + " yes"}},
        {"another port",
         router.Url("/to-other-port"),
         {"127.0.0.1:" + tls + " yes", "127.0.0.1:" + other + " no"}},
        // https elsewhere is not even connected to: no key of it could be trusted.
        {"another address", router.Url("/to-other-address"), {"127.0.0.1:" + tls + " yes"}, false},
    };
    InternetHandle internet = OpenInternetHandle({.trust = &trust});
    for (const auto& row : rows) {
        const std::size_t before = router.Requests().size();
        EXPECT_EQ(!!OpenPage(*internet, row.url, BuildAuthorizationHeader("admin", "secret")),
                  row.bOpened)
            << row.way << ": " << LastFetchFailure(*internet);
        std::vector<std::string> hops;
        const auto requests = router.Requests();
        for (std::size_t i = before; i < requests.size(); ++i) {
            hops.push_back(requests[i].address + ":" + std::to_string(requests[i].port) +
                           (requests[i].authorization == "-" ? " no" : " yes"));
        }
        EXPECT_EQ(hops, row.hops) << row.way;
    }
}

TEST(HostileRouter, NamesWithAnIPv6AddressAreAskedOverIPv4) {
    CHostileRouter v4;
    std::unique_ptr<CHostileRouter> v6;
    try {
        v6 = std::make_unique<CHostileRouter>("::1", v4.Port());
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << "no IPv6 loopback: " << e.what();
    }
    v4.Serve("/", CHostileRouter::Page("over IPv4"));
    v6->Serve("/", CHostileRouter::Page("over IPv6"));
    const std::string port = std::to_string(v4.Port());
    InternetHandle internet =
        OpenInternetHandle({{}, {}, {"dual.test:" + port + ":[::1],127.0.0.1"}});
    PageRequest request = OpenPage(*internet, "http://dual.test:" + port + "/", "");
    ASSERT_TRUE(request) << LastFetchFailure(*internet);
    EXPECT_EQ(ReadWholeResponse(*request), "over IPv4");
}

TEST(EscapeRequestUrl, KeepsValidEscapesAndEscapesTheRest) {
    EXPECT_EQ(EscapeRequestUrl("http://1.2.3.4:80/a b?x=\"1\"#top"),
              "http://1.2.3.4:80/a%20b?x=%221%22#top");
    EXPECT_EQ(EscapeRequestUrl("/%41%zz%4"), "/%41%25zz%254");
}

}  // namespace
