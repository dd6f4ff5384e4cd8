#include "core/spider/Crawl.h"

#include <gtest/gtest.h>

#include <clocale>
#include <future>
#include <memory>

#include "core/net/HttpFetch.h"
#include "core/spider/SpiderRules.h"
#include "support/CrawlOnce.h"
#include "support/HostileRouter.h"
#include "support/LoopbackServer.h"
#include "support/RecordingSink.h"
#include "support/TestHostLookup.h"
#include "support/Wait.h"

namespace {

using Lines = std::vector<std::string>;

class CrawlTest : public testing::Test {
protected:
    CrawlTest() {
        params.strExternalAddress = "203.0.113.45";
        params.strPath = "/";
        params.nRouterAddress = 0x7F000001;
        params.nRouterPort = server.Port();
        params.pInternet = internet.get();
    }

    void Crawl() {
        CrawlContext context{parsed, sink, cancel, lookup, lookupLimit, lookupBudget, &footprint};
        CrawlPage(params, context);
    }

    CLoopbackServer server;
    std::atomic<bool> cancel{false};
    InternetHandle internet = OpenInternetHandle({{}, {}, {}, &cancel});  // as a run opens it
    SpiderParams params;
    CParsedPageList parsed;
    CRecordingSink sink;
    HostLookup lookup = TestHostLookup();
    std::chrono::milliseconds lookupLimit{5000};
    std::chrono::milliseconds lookupBudget{15000};
    CrawlFootprint footprint;
};

TEST_F(CrawlTest, VisitsDepthFirstAndReportsFoundBeforeAndParsedAfterChildren) {
    server.Serve("/", 200,
                 "<a href=\"a.htm\">A</a> <a href=\"/b.htm\">B</a> <frame src=\"f.htm\">"
                 "<form action=\"/cgi/post.cgi\">");
    server.Serve("/a.htm", 200, "WAN 203.0.113.45 <a href=\"/\">home</a> <a href=a.htm>self</a>");
    server.Serve("/b.htm", 200,
                 "<a href=\"#\">x</a> <a href=\" # \">y</a> <a href=\"#top\">z</a>"
                 "<a href=\"JavaScript:void(0)\">j</a> <a href=\"  \">e</a>");
    server.Serve("/f.htm", 200, "frame 11.203.0.113.456");
    server.Serve("/cgi/post.cgi", 404, "<h1>Not Found</h1><a href=\"/\">Home</a>");
    Crawl();
    EXPECT_EQ(server.RequestedTargets(),
              (Lines{"/", "/a.htm", "/", "/b.htm", "/f.htm", "/cgi/post.cgi"}));
    EXPECT_EQ(sink.Messages(), (Lines{"FOUND /a.htm", "PARSED", "FOUND /f.htm", "PARSED", "PARSED",
                                      "PARSED", "PARSED", "PARSED"}));
    EXPECT_EQ(parsed.Paths(), (Lines{"/a.htm", "/", "/b.htm", "/f.htm", "/cgi/post.cgi"}));
}

TEST_F(CrawlTest, LetterCaseQueriesAndFragmentsMakeDifferentPages) {
    server.Serve("/", 200,
                 "<a href=/Status.htm> <a href=/status.htm> <a href=p.htm?x=1> "
                 "<a href=p.htm#top> <a href=p.htm>");
    Crawl();
    EXPECT_EQ(parsed.Paths(),
              (Lines{"/Status.htm", "/status.htm", "/p.htm?x=1", "/p.htm#top", "/p.htm"}));
    EXPECT_EQ(server.RequestedTargets(),
              (Lines{"/", "/Status.htm", "/status.htm", "/p.htm?x=1", "/p.htm", "/p.htm"}));
}

TEST_F(CrawlTest, FailedPagesStayListedButAreNotCountedCutShortOnesAre) {
    server.Serve("/", 200, "<a href=empty.htm> <a href=gone.htm>");
    server.Serve("/empty.htm", 200, "");
    CLoopbackServer::Page dropped;
    dropped.body = std::string(1000, 'x');
    dropped.pieceSize = 100;
    dropped.bDropMidBody = true;
    server.Serve("/gone.htm", dropped);
    Crawl();
    EXPECT_EQ(parsed.Paths(), (Lines{"/empty.htm", "/gone.htm"}));
    EXPECT_EQ(sink.Messages(), (Lines{"PARSED", "PARSED"}));
}

TEST_F(CrawlTest, ErrorBodiesAreSearchedAndFollowed) {
    server.Serve("/", 401, "<h1>401</h1> <a href=\"login.htm\">login</a>");
    server.Serve("/login.htm", 404, "203.0.113.45 not found");
    Crawl();
    EXPECT_EQ(sink.Messages(), (Lines{"FOUND /login.htm", "PARSED", "PARSED"}));
}

TEST_F(CrawlTest, AbsoluteLinksAreFollowedOnlyToTheRoutersAddressAndPort) {
    const std::string self = "HTTP://127.0.0.1:" + std::to_string(server.Port());
    server.Serve("/", 200,
                 "<a href=\"" + self + "/x.htm\"> <a href=\"" + self + "\"> " +
                     "<a href=\"http://127.0.0.1:1/y.htm\"> <a href=\"http://127.0.0.2:" +
                     std::to_string(server.Port()) +
                     "/z.htm\"> <a href=\"http://nowhere.invalid/\"> <a href=\"" + self +
                     "/t\tab.htm\">");
    Crawl();
    EXPECT_EQ(parsed.Paths(), (Lines{"/x.htm", "/t\tab.htm"}));
    EXPECT_EQ(server.RequestedTargets(), (Lines{"/", "/x.htm", "/t%09ab.htm"}));
}

// The page in flight at Cancel is still read, and counted, when it ends within a second.
TEST_F(CrawlTest, CancelStopsNewRequestsButCountsEveryPageRead) {
    server.ServeOthers([this](const std::string& target) {
        const int n = target == "/" ? 0 : std::stoi(target.substr(1));
        CLoopbackServer::Page page;
        page.body = "<a href=\"/" + std::to_string(n + 1) + "\">next</a>";
        if (n == 5) {
            cancel = true;
            page.delay = std::chrono::milliseconds(200);
            page.body += " WAN 203.0.113.45";
        }
        return page;
    });
    Crawl();
    EXPECT_EQ(server.RequestedTargets(), (Lines{"/", "/1", "/2", "/3", "/4", "/5"}));
    EXPECT_EQ(sink.Messages(),
              (Lines{"FOUND /5", "PARSED", "PARSED", "PARSED", "PARSED", "PARSED", "PARSED"}));
}

TEST_F(CrawlTest, CancelAbandonsAPageStillUnreadASecondLater) {
    std::chrono::steady_clock::time_point cancelled;
    server.Serve("/", 200, "<a href=stalls.htm>");
    server.ServeOthers([&](const std::string&) {
        cancelled = std::chrono::steady_clock::now();
        cancel = true;
        return CLoopbackServer::Stalling();
    });
    Crawl();
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
    EXPECT_EQ(sink.Messages(), Lines{"PARSED"});
}

TEST_F(CrawlTest, ListedPathsAreTheRequestedOnesDotSegmentsIncluded) {
    server.Serve("/", 200,
                 "<a href=/x/../../etc/passwd> <a href=/a/./././c.htm> <a href=/a/../../b.htm> "
                 "<a href=/b.htm>");
    Crawl();
    EXPECT_EQ(parsed.Paths(), (Lines{"/x/../etc/passwd", "/a/./c.htm", "/a/../b.htm", "/b.htm"}));
    EXPECT_EQ(server.RequestedTargets(),
              (Lines{"/", "/x/../etc/passwd", "/a/./c.htm", "/a/../b.htm", "/b.htm"}));
}

TEST(CrawlHostileRouter, ControlBytesInLinksNeverReachTheRequestLineRaw) {
    CHostileRouter router;
    router.Serve("/", CHostileRouter::TrickyLinks());
    CParsedPageList parsed;
    CRecordingSink sink;
    CrawlLoopbackRouter(router.Port(), {}, parsed, sink);
    EXPECT_EQ(router.RequestedTargets(), (Lines{"/", "/a%0Db.htm", "/c%0AX-Injected:%201",
                                                "/e%1B.htm", "/../up.htm", "/f.htm"}));
    EXPECT_EQ(router.Header(2, "X-Injected"), "<none>");
}

// Memory follows what is left to do, not the depth: a page's text is let go once its links are
// taken, and a link waiting on several pages of the chain is held once.
TEST_F(CrawlTest, DeepChainHoldsOnePageTextAndEachWaitingLinkOnce) {
    constexpr int kDepth = 40;
    constexpr int kLeaves = 30;
    constexpr std::size_t kPageBytes = 256 * 1024;
    CHostileRouter router;
    router.ServeOthers([](const std::string& target) {
        if (target.starts_with("/leaf")) {
            return CHostileRouter::Page("leaf");
        }
        const int n = target == "/" ? 0 : std::stoi(target.substr(2));
        std::string body = n < kDepth ? "<a href=\"c" + std::to_string(n + 1) + "\">" : "";
        for (int leaf = 0; leaf < kLeaves; ++leaf) {
            body += "<a href=\"/leaf" + std::to_string(leaf) + "\">";
        }
        body.resize(kPageBytes, 'x');
        return CHostileRouter::Page(std::move(body));
    });
    params.nRouterPort = router.Port();
    Crawl();
    Lines expected;
    for (int n = 1; n <= kDepth; ++n) {
        expected.push_back("/c" + std::to_string(n));
    }
    for (int leaf = 0; leaf < kLeaves; ++leaf) {
        expected.push_back("/leaf" + std::to_string(leaf));
    }
    EXPECT_EQ(parsed.Paths(), expected);
    EXPECT_EQ(sink.Messages(), Lines(kDepth + kLeaves + 1, "PARSED"));
    EXPECT_LE(footprint.peakTextBytes, kPageBytes);
    EXPECT_LE(footprint.peakLinks, static_cast<std::size_t>(kLeaves + 1));
    EXPECT_EQ(footprint.links, 0u);
}

TEST_F(CrawlTest, ChainOfTenThousandPagesNeedsNoDeepStack) {
    constexpr int kPages = 10000;
    server.ServeOthers([](const std::string& target) {
        const int n = target == "/" ? 0 : std::stoi(target.substr(2));
        CLoopbackServer::Page page;
        page.body = n < kPages ? "<a href=\"c" + std::to_string(n + 1) + "\">" : "end";
        return page;
    });
    Crawl();
    EXPECT_EQ(parsed.Size(), static_cast<std::size_t>(kPages));
    EXPECT_EQ(sink.Messages().size(), static_cast<std::size_t>(kPages + 1));
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

// Names in links: each looked up once per run, none waited on past the limit or past Cancel. What
// the lookup touches is its own, not the test's: a lookup thread may outlive the test.
class CrawlLookupTest : public CrawlTest {
protected:
    CrawlLookupTest() {
        lookup = [asked = asked, silentHangs = silentHangs, gate = gate.get_future().share()](
                     const std::string& name, std::uint32_t& address) {
            asked->fetch_add(1);
            if (name.starts_with("silent")) {
                if (silentHangs->load()) {
                    gate.wait();
                }
                return false;
            }
            return TestHostLookup()(name, address);
        };
        const std::string port = ":" + std::to_string(server.Port());
        server.Serve("/", 200,
                     "<a href=http://silent1.test/a> <a href=http://localhost" + port +
                         "/x.htm> <a href=http://silent2.test/> <a href=http://silent1.test/b>"
                         "<a href=http://localhost" +
                         port + "/y.htm>");
        server.Serve("/x.htm", 200, "<a href=http://silent2.test/c>");
    }
    ~CrawlLookupTest() override { gate.set_value(); }

    // Crawls on another thread; false when the crawl did not end in time.
    bool CrawlEnds() {
        auto crawl = std::async(std::launch::async, [this] { Crawl(); });
        if (crawl.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
            return true;
        }
        cancel = true;
        gate.set_value();
        gate = {};
        crawl.wait();
        return false;
    }

    std::shared_ptr<std::atomic<int>> asked = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<bool>> silentHangs = std::make_shared<std::atomic<bool>>(true);
    std::promise<void> gate;
};

TEST_F(CrawlLookupTest, EachNameIsLookedUpOnce) {
    silentHangs->store(false);
    lookupLimit = std::chrono::hours(1);
    ASSERT_TRUE(CrawlEnds());
    EXPECT_EQ(asked->load(), 3) << "silent1, localhost and silent2, once each";
    EXPECT_EQ(parsed.Paths(), (Lines{"/x.htm", "/y.htm"}));
}

TEST_F(CrawlLookupTest, NoLookupHoldsTheCrawlPastTheLimit) {
    lookupLimit = std::chrono::milliseconds(50);
    ASSERT_TRUE(CrawlEnds()) << "a lookup held the crawl past its limit";
}

TEST_F(CrawlLookupTest, NamesMetOnceTheRunsLookupTimeIsSpentAreSkippedAndCounted) {
    lookupLimit = std::chrono::hours(1);
    lookupBudget = std::chrono::milliseconds(100);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(CrawlEnds()) << "the lookups held the crawl past the run's budget";
    EXPECT_LT(std::chrono::steady_clock::now() - start, lookupBudget + std::chrono::seconds(2));
    EXPECT_EQ(asked->load(), 1) << "only silent1 is looked up";
    EXPECT_EQ(sink.Messages(), (Lines{"PARSED", "SKIPPED 2"})) << "localhost and silent2";
}

TEST_F(CrawlLookupTest, CancelEndsAWaitingLookup) {
    lookupLimit = std::chrono::hours(1);
    auto crawl = std::async(std::launch::async, [this] { Crawl(); });
    ASSERT_TRUE(WaitUntil([&] { return asked->load() == 1; })) << "the lookup never started";
    cancel = true;
    ASSERT_EQ(crawl.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "Cancel did not end the lookup";
    EXPECT_EQ(sink.Messages(), Lines{"PARSED"});
}

// Under a Turkish locale the C library folds "I" to a dotless i; protocol text must not care.
TEST_F(CrawlTest, LetterCaseIsAsciiWhateverTheLocale) {
    const char* folder = getenv("VELMO_TEST_LOCALES");
    if (folder != nullptr) {
        setenv("LOCPATH", folder, 1);
    }
    const bool bTurkish = setlocale(LC_ALL, "tr_TR.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    if (!bTurkish) {
        if (getenv("CI") != nullptr) {
            FAIL() << "no tr_TR.UTF-8 locale under " << (folder ? folder : "the system's");
        }
        GTEST_SKIP() << "no tr_TR.UTF-8 locale";
    }
    server.Serve("/", 200,
                 "<A HREF=\"JAVASCRIPT:go('x')\"> <A HREF=\"HTTP://127.0.0.1:" +
                     std::to_string(server.Port()) + "/INDEX.HTM\"> <FRAME SRC=\"I.HTM\">");
    Crawl();
    CFoundPages found;
    const bool bFoldedI = found.Add("/INDEX.HTM") && !found.Add("/index.htm");
    setlocale(LC_ALL, "C");
    EXPECT_EQ(server.RequestedTargets(), (Lines{"/", "/INDEX.HTM", "/I.HTM"}));
    EXPECT_TRUE(bFoldedI);
}

TEST(CParsedPageList, LongPathsOfADeepSiteCostLittleAndComeBackWhole) {
    CParsedPageList parsed;
    Lines paths;
    std::string directory = "/";
    for (int level = 0; level < 40; ++level) {
        directory += "level-" + std::to_string(level) + "-of-a-router-with-deep-folders/";
    }
    for (int page = 0; page < 5000; ++page) {
        paths.push_back(directory + "page" + std::to_string(page) + ".htm?x=1");
        EXPECT_FALSE(parsed.CheckParsedPage(paths.back()));
    }
    EXPECT_TRUE(parsed.CheckParsedPage(paths[1234]));
    EXPECT_EQ(parsed.Paths(), paths);
    std::size_t bytes = 0;
    for (const std::string& path : paths) {
        bytes += path.size();
    }
    EXPECT_LT(parsed.MemoryBytes(), bytes / 10) << "each path held in full";
}

TEST(ResolveLinkPath, ResolvesRelativeLinksAgainstThePagesDirectory) {
    SpiderParams params;
    params.nRouterAddress = 0x7F000001;
    params.nRouterPort = 80;
    const struct {
        const char* page;
        const char* link;
        const char* path;
    } cases[] = {
        {"/cgi/page.htm", "../status.htm", "/cgi/status.htm"},
        {"/d/", "./a.htm", "/d/a.htm"},
        {"/d/p.htm", "https://example.invalid/x", "/d/https://example.invalid/x"},
        {"/d/p.htm", "mailto:admin@example.invalid", "/d/mailto:admin@example.invalid"},
        {"/", "  status.htm\t", "/status.htm"},
        {"/d/p.htm", "/a/../../b", "/a/../b"},
        {"/d/p.htm", "/a/b/../c", "/a/b/c"},
        {"/d/p.htm", "/a/./././b", "/a/./b"},
        {"/", "http://127.0.0.1/x.htm", "/x.htm"},
        {"/", "http://127.0.0.1:80/x.htm?y=1#z", "/x.htm?y=1#z"},
        {"/", "http://127.0.0.1:8080/x.htm", ""},
        {"/", "http://127.0.0.1/a\tb.htm", "/a\tb.htm"},
        {"/", "http://127.0.0.1/c\nd.htm?e=\x01\x7F", "/c\nd.htm?e=\x01\x7F"},
        {"/", "http://127.0.0.1\t/x.htm", ""},
        {"/", "http://127.0.0.1:8\n0/x.htm", ""},
        {"/", "http://127.0.0.1", ""},
        {"/", "http://", ""},
        {"/", "javascript:go('x.htm')", ""},
        {"/", "#top", ""},
        {"/", "", ""},
    };
    for (const auto& c : cases) {
        params.strPath = c.page;
        EXPECT_EQ(ResolveLinkPath(params, c.link, TestHostLookup()), c.path)
            << c.page << " + " << c.link;
    }
}

}  // namespace
