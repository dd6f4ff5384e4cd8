#include "core/spider/Crawl.h"

#include <gtest/gtest.h>

#include "core/net/HttpFetch.h"
#include "support/LoopbackServer.h"
#include "support/RecordingSink.h"
#include "support/TestHostLookup.h"

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
        CrawlContext context{parsed, sink, cancel, lookup};
        CrawlPage(params, context);
    }

    CLoopbackServer server;
    InternetHandle internet = OpenInternetHandle();
    SpiderParams params;
    CParsedPageList parsed;
    CRecordingSink sink;
    std::atomic<bool> cancel{false};
    HostLookup lookup = TestHostLookup();
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

TEST_F(CrawlTest, FailedPagesStayListedButAreNotCounted) {
    server.Serve("/", 200, "<a href=empty.htm> <a href=gone.htm>");
    server.Serve("/empty.htm", 200, "");
    CLoopbackServer::Page dropped;
    dropped.body = std::string(1000, 'x');
    dropped.pieceSize = 100;
    dropped.bDropMidBody = true;
    server.Serve("/gone.htm", dropped);
    Crawl();
    EXPECT_EQ(parsed.Paths(), (Lines{"/empty.htm", "/gone.htm"}));
    EXPECT_EQ(sink.Messages(), Lines{"PARSED"});
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
                     "/z.htm\"> <a href=\"http://nowhere.invalid/\">");
    Crawl();
    EXPECT_EQ(parsed.Paths(), Lines{"/x.htm"});
}

TEST_F(CrawlTest, CancelStopsNewRequestsButCountsEveryPageRead) {
    server.ServeOthers([this](const std::string& target) {
        const int n = target == "/" ? 0 : std::stoi(target.substr(1));
        if (n == 5) {
            cancel = true;
        }
        CLoopbackServer::Page page;
        page.body = "<a href=\"/" + std::to_string(n + 1) + "\">next</a>";
        return page;
    });
    Crawl();
    EXPECT_EQ(server.RequestedTargets(), (Lines{"/", "/1", "/2", "/3", "/4", "/5"}));
    EXPECT_EQ(sink.Messages(), Lines(6, "PARSED"));
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
