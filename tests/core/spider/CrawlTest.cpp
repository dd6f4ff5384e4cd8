#include "core/spider/Crawl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <future>
#include <map>
#include <memory>
#include <optional>

#include "core/net/HttpFetch.h"
#include "core/net/ScriptScan.h"
#include "core/spider/FoundPages.h"
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
    void Crawl() {
        CrawlState state{.internet = *pInternet,
                         .externalAddress = "203.0.113.45",
                         .parsed = parsed,
                         .sink = sink,
                         .cancel = cancel,
                         .footprint = &footprint};
        if (asideLimit) {
            state.asideLimit = *asideLimit;
        }
        if (waitingLimit) {
            state.waitingLimit = *waitingLimit;
        }
        CrawlPage({.router = {.nAddress = 0x7F000001, .nPort = nRouterPort},
                   .bDeep = bDeep,
                   .lookup = lookup,
                   .lookupLimit = lookupLimit,
                   .lookupBudget = lookupBudget},
                  state);
    }

    CLoopbackServer server;
    std::atomic<bool> cancel{false};
    InternetHandle internet = OpenInternetHandle({.cancel = &cancel});  // as a run opens it
    CInternetHandle* pInternet = internet.get();
    std::uint16_t nRouterPort = server.Port();
    CParsedPageList parsed;
    CRecordingSink sink;
    HostLookup lookup = TestHostLookup();
    std::chrono::milliseconds lookupLimit{5000};
    std::chrono::milliseconds lookupBudget{15000};
    CrawlFootprint footprint;
    bool bDeep = false;
    std::optional<std::size_t> asideLimit;
    std::optional<std::size_t> waitingLimit;
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

// The page in flight at Cancel is still read, and counted, when it ends within a second; a chain
// of pages named in scripts ends the same way.
TEST_F(CrawlTest, CancelStopsNewRequestsButCountsEveryPageRead) {
    for (const bool bDeepChain : {false, true}) {
        CLoopbackServer chain;
        chain.ServeOthers([this, bDeepChain](const std::string& target) {
            const int n = target == "/" ? 0 : std::stoi(target.substr(1));
            const std::string next = "/" + std::to_string(n + 1) + ".htm";
            CLoopbackServer::Page page;
            page.body = bDeepChain ? "<script>location = '" + next + "';</script>"
                                   : "<a href=\"" + next + "\">next</a>";
            if (n == 5) {
                cancel = true;
                page.delay = std::chrono::milliseconds(200);
                page.body += " WAN 203.0.113.45";
            }
            return page;
        });
        // Gone before its server, which would wait for the kept-alive connection.
        const InternetHandle handle = OpenInternetHandle({.cancel = &cancel});
        pInternet = handle.get();
        nRouterPort = chain.Port();
        bDeep = bDeepChain;
        cancel = false;
        sink.Clear();
        parsed.Clear();
        Crawl();
        EXPECT_EQ(chain.RequestedTargets(),
                  (Lines{"/", "/1.htm", "/2.htm", "/3.htm", "/4.htm", "/5.htm"}));
        EXPECT_EQ(sink.Messages(), (Lines{"FOUND /5.htm", "PARSED", "PARSED", "PARSED", "PARSED",
                                          "PARSED", "PARSED"}));
    }
}

TEST_F(CrawlTest, CancelAbandonsAPageStillUnreadASecondLater) {
    const std::pair<const char*, bool> roots[] = {{"<a href=stalls.htm>", false},
                                                  {"<script src=stalls.js></script>", true}};
    for (const auto& [root, bDeepRoot] : roots) {
        CLoopbackServer router;
        std::chrono::steady_clock::time_point cancelled;
        router.Serve("/", 200, root);
        router.ServeOthers([&](const std::string&) {
            cancelled = std::chrono::steady_clock::now();
            cancel = true;
            return CLoopbackServer::Stalling();
        });
        const InternetHandle handle = OpenInternetHandle({.cancel = &cancel});
        pInternet = handle.get();
        nRouterPort = router.Port();
        bDeep = bDeepRoot;
        cancel = false;
        sink.Clear();
        Crawl();
        // The grace of 1 s and room for a loaded machine; the stall limit of 10 s is far later.
        EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(5)) << root;
        EXPECT_EQ(sink.Messages(), Lines{"PARSED"}) << root;
    }
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

// Deep discovery: a site for each way router menus are built by scripts, and for the names it must
// not request. Without it the crawl finds the status page on none of them but the last.
TEST(CrawlDeepDiscovery, FollowsEachWayScriptsNavigate) {
    constexpr const char* kWan = "WAN 203.0.113.45";
    const struct {
        const char* way;
        std::map<std::string, std::string> pages;  // "{self}" stands for the router's address:port
        Lines requested;                           // with deep discovery, in order
        Lines listed;                              // with deep discovery, as --list-parsed marks
        const char* found;
        Lines plainFound = {};
    } sites[] = {
        {"script-written root redirect",
         {{"/", "<script>location.replace(\"/index.asp\")</script>"}, {"/index.asp", kWan}},
         {"/", "/index.asp"},
         {"/index.asp (script)"},
         "/index.asp"},
        {"meta refresh",
         {{"/", "<meta http-equiv=\"Refresh\" content=\"0; URL='cgi/main.htm'\">"},
          {"/cgi/main.htm", kWan}},
         {"/", "/cgi/main.htm"},
         {"/cgi/main.htm (script)"},
         "/cgi/main.htm"},
        {"iframe written by document.write",
         {{"/",
           "<script>document.write('<iframe src=\"left_list.asp\" width=\"100%\">');</script>"},
          {"/left_list.asp", kWan}},
         {"/", "/left_list.asp"},
         {"/left_list.asp (script)"},
         "/left_list.asp"},
        {"javascript: menu, resolved as a browser resolves it",
         {{"/", "<a href=\"menu/tree.htm\">Menu</a>"},
          {"/menu/tree.htm", "<a href=\"javascript:go('../adm/status.shtml')\">Status</a>"},
          {"/adm/status.shtml", kWan}},
         {"/", "/menu/tree.htm", "/adm/status.shtml"},
         {"/menu/tree.htm", "/adm/status.shtml (script)"},
         "/adm/status.shtml"},
        {"event handler",
         {{"/", "<td class=menu onclick=\"location='st_wan.htm'\">WAN</td>"},
          {"/st_wan.htm", kWan}},
         {"/", "/st_wan.htm"},
         {"/st_wan.htm (script)"},
         "/st_wan.htm"},
        {"data script holding the address",
         {{"/", "<script src=\"status-data.jsx\"></script>"},
          {"/status-data.jsx", "var status = { wan_ipaddr: '203.0.113.45', mask: '255.0.0.0' };"}},
         {"/", "/status-data.jsx"},
         {"/status-data.jsx (script)"},
         "/status-data.jsx"},
        {"names in a loaded script resolve against the loading page; comments are passed over",
         {{"/", "<a href=\"app/index.htm\">"},
          {"/app/index.htm", "<script type=\"text/javascript\" src=\"/js/menu.js\"></script>"},
          {"/js/menu.js",
           "add('Status', \"wan.asp\"); // add('Old', 'old.asp');\nadd('Exit', 'logout.asp');"},
          {"/app/wan.asp", kWan}},
         {"/", "/app/index.htm", "/js/menu.js", "/app/wan.asp"},
         {"/app/index.htm", "/js/menu.js (script)", "/app/wan.asp (script)",
          "/app/logout.asp (script, not requested)"},
         "/app/wan.asp"},
        {"after the links, in document order",
         {{"/",
           "<script src=\"a.js\"></script><iframe src=\"b.htm\"></iframe><a href=\"c.htm\">"
           "<meta http-equiv=\"refresh\" content=\"5;url=d.htm\"><frame src=\"e.htm\">"
           "<div onmouseover=\"show('f.htm')\"><script>var g = \"g.htm\";</script>"
           "<a href=\"javascript:go('h.htm')\">"},
          {"/h.htm", kWan}},
         {"/", "/c.htm", "/e.htm", "/a.js", "/b.htm", "/d.htm", "/f.htm", "/g.htm", "/h.htm"},
         {},
         "/h.htm"},
        {"absolute URLs only to the router",
         {{"/",
           "<script>go('http://{self}/x.htm'); go('//{self}/y.htm'); go('http://127.0.0.2/z.htm');"
           "go('https://{self}/s.htm'); go('ftp://{self}/f.htm');</script>"},
          {"/y.htm", kWan}},
         {"/", "/x.htm", "/y.htm"},
         {},
         "/y.htm"},
        {"names of actions: listed, requested only where a link leads",
         {{"/",
           "<a href=\"b.htm\"> <a href=\"d.htm\"> <a href=\"restart.htm\"> <script>var menu = "
           "[\"logout.asp\", \"sys/REBOOT.cgi\", 'FactoryDefault.asp', 'st.asp'];</script>"},
          {"/b.htm", "<a href=\"c.htm\"> <script>go('Restore.asp')</script>"},
          {"/d.htm", "<a href=\"Restore.asp\">"},
          {"/st.asp", kWan}},
         {"/", "/b.htm", "/c.htm", "/d.htm", "/Restore.asp", "/restart.htm", "/st.asp"},
         {"/b.htm", "/c.htm", "/Restore.asp", "/d.htm", "/restart.htm",
          "/logout.asp (script, not requested)", "/sys/REBOOT.cgi (script, not requested)",
          "/FactoryDefault.asp (script, not requested)", "/st.asp (script)"},
         "/st.asp"},
        {"each word of an action, in names a script alone gives",
         {{"/",
           "<script>var menu = ['logout.asp', 'logoff.asp', 'reboot.asp', 'restart.asp', "
           "'reset.asp', 'factory.asp', 'upgrade.asp', 'firmware.asp', 'restore.asp', "
           "'erase.asp', 'format.asp', 'st.asp'];</script>"},
          {"/st.asp", kWan}},
         {"/", "/st.asp"},
         {"/logout.asp (script, not requested)", "/logoff.asp (script, not requested)",
          "/reboot.asp (script, not requested)", "/restart.asp (script, not requested)",
          "/reset.asp (script, not requested)", "/factory.asp (script, not requested)",
          "/upgrade.asp (script, not requested)", "/firmware.asp (script, not requested)",
          "/restore.asp (script, not requested)", "/erase.asp (script, not requested)",
          "/format.asp (script, not requested)", "/st.asp (script)"},
         "/st.asp"},
        {"an action in any segment of a name is named by it: listed, never requested",
         {{"/",
           "<script>go('cgi-bin/reboot.cgi/status.htm'); go('Logout/st.asp'); "
           "go('%72eboot.cgi/x.htm'); go('st.asp');</script>"},
          {"/st.asp", kWan}},
         {"/", "/st.asp"},
         {"/cgi-bin/reboot.cgi/status.htm (script, not requested)",
          "/Logout/st.asp (script, not requested)", "/%72eboot.cgi/x.htm (script, not requested)",
          "/st.asp (script)"},
         "/st.asp"},
        {"an action behind parameters, an escaped slash or an escaped dot segment, in a loaded URL",
         {{"/",
           "<iframe src=\"reset.cgi;id=1/st.htm\"><iframe src=\"cgi-bin%2Fupgrade.cgi/st.htm\">"
           "<iframe src=\"erase.cgi/%2e%2e/st.htm\"><iframe src=\"st.asp?next=/restart.cgi\">"
           "<iframe src=\"firmware.cgi/../st.asp\">"},
          {"/st.asp", kWan}},
         {"/", "/st.asp"},
         {"/reset.cgi;id=1/st.htm (script, not requested)",
          "/cgi-bin%2Fupgrade.cgi/st.htm (script, not requested)",
          "/erase.cgi/%2e%2e/st.htm (script, not requested)",
          "/st.asp?next=/restart.cgi (script, not requested)", "/st.asp (script)"},
         "/st.asp"},
        {"a script a link leads to as well: its links are followed, as without deep discovery",
         {{"/", "<a href=\"a.htm\"> <a href=\"c.htm\">"},
          {"/a.htm", "<script src=\"m.asp\"></script>"},
          {"/m.asp", "document.write('<a href=\"logout.htm\">'); // <a href=st.htm>"},
          {"/c.htm", "<a href=\"m.asp\">"},
          {"/st.htm", kWan}},
         {"/", "/a.htm", "/m.asp", "/c.htm", "/logout.htm", "/st.htm"},
         {"/a.htm", "/m.asp", "/logout.htm", "/c.htm", "/st.htm"},
         "/st.htm",
         {"/st.htm"}},
    };
    for (const auto& site : sites) {
        for (const bool bDeep : {false, true}) {
            CLoopbackServer server;
            const std::string self = "127.0.0.1:" + std::to_string(server.Port());
            for (const auto& [target, body] : site.pages) {
                std::string text = body;
                for (std::size_t at; (at = text.find("{self}")) != std::string::npos;) {
                    text.replace(at, 6, self);
                }
                server.Serve(target, 200, text);
            }
            CParsedPageList parsed;
            CRecordingSink sink;
            CrawlLoopbackRouter(server.Port(), "203.0.113.45", parsed, sink, bDeep);
            Lines found;
            for (const std::string& message : sink.Messages()) {
                if (message.starts_with("FOUND ")) {
                    found.push_back(message.substr(6));
                }
            }
            if (!bDeep) {
                EXPECT_EQ(found, site.plainFound) << site.way;
                continue;
            }
            EXPECT_EQ(found, Lines{site.found}) << site.way;
            EXPECT_EQ(server.RequestedTargets(), site.requested) << site.way;
            Lines listed;
            parsed.ForEachPath([&](const std::string& path, PageOrigin origin) {
                listed.push_back(path + std::string(OriginMark(origin)));
                return true;
            });
            if (!site.listed.empty()) {
                EXPECT_EQ(listed, site.listed) << site.way;
            }
        }
    }
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
// taken, and a link waiting on several pages of the chain is held once, whether links or names in
// scripts lead there.
TEST_F(CrawlTest, DeepChainHoldsOnePageTextAndEachWaitingLinkOnce) {
    constexpr int kDepth = 40;
    constexpr int kLeaves = 30;
    constexpr std::size_t kPageBytes = 256 * 1024;
    for (const bool bScriptNames : {false, true}) {
        CHostileRouter router;
        router.ServeOthers([bScriptNames](const std::string& target) {
            if (target.starts_with("/leaf")) {
                return CHostileRouter::Page("leaf");
            }
            const int n = target == "/" ? 0 : std::stoi(target.substr(2));
            std::string body = n < kDepth ? "<a href=\"c" + std::to_string(n + 1) + "\">" : "";
            for (int leaf = 0; leaf < kLeaves; ++leaf) {
                const std::string name = "/leaf" + std::to_string(leaf) + ".htm";
                body += bScriptNames ? "<script>go('" + name + "')</script>"
                                     : "<a href=\"" + name + "\">";
            }
            body.resize(kPageBytes, 'x');
            return CHostileRouter::Page(std::move(body));
        });
        nRouterPort = router.Port();
        bDeep = bScriptNames;
        parsed.Clear();
        sink.Clear();
        footprint = {};
        Crawl();
        Lines expected;
        for (int n = 1; n <= kDepth; ++n) {
            expected.push_back("/c" + std::to_string(n));
        }
        for (int leaf = 0; leaf < kLeaves; ++leaf) {
            expected.push_back("/leaf" + std::to_string(leaf) + ".htm");
        }
        EXPECT_EQ(parsed.Paths(), expected);
        EXPECT_EQ(sink.Messages(), Lines(kDepth + kLeaves + 1, "PARSED"));
        EXPECT_LE(footprint.peakTextBytes, kPageBytes);
        EXPECT_LE(footprint.peakLinks, static_cast<std::size_t>(kLeaves + 1));
        EXPECT_EQ(footprint.links, 0u);
    }
}

// A script is read once and searched in one pass, and let go before the next is read.
TEST_F(CrawlTest, BigScriptsAreReadOnceEachAndOneAtATime) {
    constexpr int kScripts = 40;
    constexpr std::size_t kScriptBytes = 256 * 1024;
    CHostileRouter router;
    std::string root;
    for (int n = 0; n < kScripts; ++n) {
        root += "<script src=\"s" + std::to_string(n) + ".js\"></script>";
    }
    router.Serve("/", CHostileRouter::Page(root));
    router.ServeOthers([](const std::string&) {
        std::string script;
        while (script.size() < kScriptBytes) {
            script += "tree.add(\"Wireless\", 'node' + i, /[\"']/); // \"no names\"\n";
        }
        return CHostileRouter::Page(std::move(script));
    });
    nRouterPort = router.Port();
    bDeep = true;
    Crawl();
    EXPECT_EQ(router.RequestedTargets().size(), static_cast<std::size_t>(kScripts + 1));
    EXPECT_EQ(parsed.Size(), static_cast<std::size_t>(kScripts));
    EXPECT_LE(footprint.peakTextBytes, kScriptBytes + 100);
    EXPECT_EQ(footprint.links, 0u);
}

// The links of scripts that deep discovery alone loaded are kept aside within a bound, and not at
// all when they lead to a page a link listed already; a script whose links did not fit is read
// again once a link leads there, so that they are followed as without deep discovery.
TEST_F(CrawlTest, LinksOfScriptsAreKeptAsideWithinABound) {
    const struct {
        std::size_t links;  // that the bound holds, each path 3 bytes long
        Lines requested;
    } bounds[] = {
        {5,
         {"/", "/x.htm", "/a.htm", "/s1.js", "/s2.js", "/b.htm", "/p1", "/p2", "/q1", "/q2",
          "/q3"}},
        {4,
         {"/", "/x.htm", "/a.htm", "/s1.js", "/s2.js", "/b.htm", "/p1", "/p2", "/s2.js", "/q1",
          "/q2", "/q3"}},
    };
    for (const auto& bound : bounds) {
        const std::size_t limit = bound.links * (kAsideLinkBytes + 3);
        CLoopbackServer router;
        router.Serve("/", 200, "<a href=x.htm> <a href=a.htm> <a href=b.htm>");
        router.Serve("/x.htm", 200, "x");
        router.Serve("/a.htm", 200, "<script src=s1.js></script><script src=s2.js></script>");
        router.Serve("/s1.js", 200, "w('<a href=\"x.htm\"><a href=p1>'); w('<a href=p2>');");
        router.Serve("/s2.js", 200, "w('<a href=q1><a href=q2><a href=q3>'); // 203.0.113.45");
        router.Serve("/b.htm", 200, "<a href=s1.js> <a href=s2.js>");
        const InternetHandle handle = OpenInternetHandle({.cancel = &cancel});
        pInternet = handle.get();
        nRouterPort = router.Port();
        parsed.Clear();
        sink.Clear();
        footprint = {};
        bDeep = true;
        asideLimit = limit;
        Crawl();
        EXPECT_EQ(router.RequestedTargets(), bound.requested) << bound.links;
        const Lines messages = sink.Messages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), "FOUND /s2.js"), 1) << bound.links;
        EXPECT_LE(footprint.peakAsideBytes, limit);
        EXPECT_EQ(footprint.asideBytes, 0u);
    }
}

// The links waiting to be followed stay within their bound: a page that meets it gives up the rest
// of its links, and the pages that did are counted. Those kept are followed in their order.
TEST_F(CrawlTest, LinksPastTheBoundOfThoseWaitingAreGivenUpAndCounted) {
    const struct {
        bool bDeep;
        const char* root;
        const char* a;
        Lines requested;
    } rows[] = {
        {false,
         "<a href=a.htm> <a href=b.htm> <a href=c.htm> <a href=d.htm>",
         "<a href=e.htm> <a href=f.htm> <a href=g.htm>",
         {"/", "/a.htm", "/e.htm", "/b.htm", "/c.htm", "/d.htm"}},
        {true,
         "<script>go('a.htm'); go('b.htm'); go('c.htm'); go('d.htm')</script>",
         "<script>go('e.htm'); go('f.htm')</script> <a href=g.htm>",
         {"/", "/a.htm", "/g.htm", "/b.htm", "/c.htm", "/d.htm"}},
    };
    for (const auto& row : rows) {
        CLoopbackServer router;
        router.Serve("/", 200, row.root);
        router.Serve("/a.htm", 200, row.a);
        const InternetHandle handle = OpenInternetHandle({.cancel = &cancel});
        pInternet = handle.get();
        nRouterPort = router.Port();
        bDeep = row.bDeep;
        parsed.Clear();
        sink.Clear();
        footprint = {};
        waitingLimit = 4 * (kWaitingLinkBytes + 6);  // four paths of six bytes
        Crawl();
        EXPECT_EQ(router.RequestedTargets(), row.requested) << row.bDeep;
        EXPECT_EQ(sink.Messages().back(), "GAVE UP 1") << row.bDeep;
        EXPECT_LE(footprint.peakWaitingBytes, *waitingLimit);
        EXPECT_EQ(footprint.waitingBytes, 0u);
    }
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
    EXPECT_LT(std::chrono::steady_clock::now() - start, lookupBudget + std::chrono::seconds(5));
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

// A link as the crawl resolves it, and the same text found by deep discovery, as a browser does.
TEST(ResolveLinkPath, ResolvesRelativeLinksAgainstThePagesDirectory) {
    const RouterAccess router{.nAddress = 0x7F000001, .nPort = 80};
    SpiderParams params{.router = router};
    const RouterCheck isRouter = [](const std::string& url) {
        std::string host;
        std::uint16_t port = 0;
        return CrackUrlHost(url, host, port) && host == "127.0.0.1" && port == 80;
    };
    const struct {
        const char* page;
        const char* link;
        const char* path;
        const char* browser;
    } cases[] = {
        {"/cgi/page.htm", "../status.htm", "/cgi/status.htm", "/status.htm"},
        {"/d/", "./a.htm", "/d/a.htm", "/d/a.htm"},
        {"/d/p.htm", "https://example.invalid/x", "/d/https://example.invalid/x", ""},
        {"/d/p.htm", "mailto:admin@example.invalid", "/d/mailto:admin@example.invalid", ""},
        {"/", "  status.htm\t", "/status.htm", "/status.htm"},
        {"/d/p.htm", "/a/../../b", "/a/../b", "/b"},
        {"/d/p.htm", "/a/b/../c", "/a/b/c", "/a/c"},
        {"/d/p.htm", "/a/./././b", "/a/./b", "/a/b"},
        {"/d/p.htm?x=/y/z", "q.htm", "/d/p.htm?x=/y/q.htm", "/d/q.htm"},
        {"/d/p.htm", "?page=2#top", "/d/?page=2#top", "/d/p.htm?page=2"},
        {"/d/p.htm", "//127.0.0.1/w.htm", "//127.0.0.1/w.htm", "/w.htm"},
        {"/", "http://127.0.0.1/x.htm", "/x.htm", "/x.htm"},
        {"/", "http://127.0.0.1:80/x.htm?y=1#z", "/x.htm?y=1#z", "/x.htm?y=1"},
        {"/", "http://127.0.0.1:8080/x.htm", "", ""},
        {"/", "HTTP://127.0.0.1/a\tb.htm", "/a\tb.htm", "/ab.htm"},
        {"/", "http://127.0.0.1/c\nd.htm?e=\x01\x7F", "/c\nd.htm?e=\x01\x7F", "/cd.htm?e=\x01\x7F"},
        {"/", "http://127.0.0.1\t/x.htm", "", "/x.htm"},
        {"/", "http://127.0.0.1", "", "/"},
        {"/", "http://", "", ""},
        {"/", "javascript:go('x.htm')", "", ""},
        {"/", "#top", "", ""},
        {"/", "", "", ""},
    };
    for (const auto& c : cases) {
        params.strPath = c.page;
        EXPECT_EQ(ResolveLinkPath(params, c.link, TestHostLookup()), c.path)
            << c.page << " + " << c.link;
        EXPECT_EQ(ResolveBrowserPath(c.page, c.link, isRouter), c.browser)
            << c.page << " + " << c.link;
    }
}

}  // namespace
