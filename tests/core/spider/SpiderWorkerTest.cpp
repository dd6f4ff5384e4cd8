#include "core/spider/SpiderRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "core/address/DetectScript.h"
#include "core/spider/SpiderRules.h"
#include "support/LoopbackServer.h"
#include "support/RecordingSink.h"
#include "support/TestHostLookup.h"
#include "support/Wait.h"

namespace {

using Lines = std::vector<std::string>;

// The settings of a run on the loopback router at `port`, with no password and no name lookups.
SpiderSettings Loopback(std::uint16_t port) {
    return {.router = {.nAddress = 0x7F000001, .nPort = port}, .lookup = TestHostLookup()};
}

class SpiderWorkerTest : public testing::Test {
protected:
    SpiderWorkerTest() : detector({detection.Url("/")}), settings(Loopback(router.Port())) {
        detection.Serve("/", 200, "Current IP Address: 203.0.113.45");
    }

    void Run() {
        SpiderRunState state{.sink = sink,
                             .detector = detector,
                             .parsed = parsed,
                             .cancel = cancel,
                             .shutdown = shutdown};
        SpiderThreadProc(settings, state);
    }

    CLoopbackServer router;
    CLoopbackServer detection;
    CDetectScript detector;
    SpiderSettings settings;
    CParsedPageList parsed;
    CRecordingSink sink;
    std::atomic<bool> cancel{false};
    std::atomic<bool> shutdown{false};
};

TEST_F(SpiderWorkerTest, DetectsThenCrawlsAndEndsWithDone) {
    router.Serve("/", 200, "<a href=status.htm>Status</a>");
    router.Serve("/status.htm", 200, "WAN IP 203.0.113.45");
    parsed.CheckParsedPage("/left-from-last-run");
    Run();
    EXPECT_EQ(sink.Messages(),
              (Lines{"ADDRESS 203.0.113.45", "FOUND /status.htm", "PARSED", "PARSED", "DONE"}));
    EXPECT_EQ(parsed.Paths(), Lines{"/status.htm"});
}

TEST_F(SpiderWorkerTest, FailedDetectionPostsOnlyDone) {
    detection.Serve("/", 200, "no address");
    parsed.CheckParsedPage("/left-from-last-run");
    Run();
    EXPECT_EQ(sink.Messages(), Lines{"DONE"});
    EXPECT_TRUE(router.Requests().empty());
    EXPECT_EQ(parsed.Size(), 0u);
}

TEST_F(SpiderWorkerTest, CancelDuringDetectionStillShowsTheAddressButFetchesNothing) {
    cancel = true;
    Run();
    EXPECT_EQ(sink.Messages(), (Lines{"ADDRESS 203.0.113.45", "DONE"}));
    EXPECT_TRUE(router.Requests().empty());
}

TEST_F(SpiderWorkerTest, CancelLetsThePageInFlightFinishAndCountsIt) {
    router.Serve("/", 200, "<a href=status.htm>Status</a>");
    router.ServeOthers([this](const std::string&) {
        cancel = true;
        CLoopbackServer::Page page;
        page.body = "WAN IP 203.0.113.45 <a href=more.htm>";
        page.delay = std::chrono::milliseconds(200);
        return page;
    });
    Run();
    EXPECT_EQ(sink.Messages(),
              (Lines{"ADDRESS 203.0.113.45", "FOUND /status.htm", "PARSED", "PARSED", "DONE"}));
    EXPECT_EQ(router.RequestedTargets(), (Lines{"/", "/status.htm"}));
}

TEST_F(SpiderWorkerTest, KnownAddressSkipsDetection) {
    router.Serve("/", 200, "WAN 198.51.100.7");
    settings.strExternalAddress = "198.51.100.7";
    Run();
    EXPECT_EQ(sink.Messages(), (Lines{"ADDRESS 198.51.100.7", "FOUND /", "PARSED", "DONE"}));
    EXPECT_TRUE(detection.Requests().empty());
}

// Abandoning ends the transfer in flight at once, however long Cancel would let it run.
TEST(CSpiderRun, ShutdownAbandonsARunInProgress) {
    CLoopbackServer router;
    router.Serve("/", CLoopbackServer::Stalling());
    router.Serve("/detect", 200, "203.0.113.45");
    CRecordingSink sink;
    CDetectScript detector({router.Url("/detect")});
    auto run = std::make_unique<CSpiderRun>(sink, detector);
    SpiderSettings settings = Loopback(router.Port());
    settings.timeouts.cancelGrace = std::chrono::hours(1);
    run->Prepare(settings);
    ASSERT_TRUE(run->Start());
    ASSERT_TRUE(WaitUntil([&] { return router.Requests().size() >= 2; }))
        << "the crawl never reached the stalling page";
    const auto start = std::chrono::steady_clock::now();
    run.reset();
    // At once: its cancel grace of an hour would hold it far longer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(sink.Messages().back(), "DONE");
}

TEST(CSpiderRun, PrepareStartsAfreshAfterAnAbandonedRun) {
    CLoopbackServer router;
    router.Serve("/", 200, "WAN 203.0.113.45");
    router.Serve("/detect", 200, "203.0.113.45");
    CRecordingSink sink;
    CDetectScript detector({router.Url("/detect")});
    CSpiderRun run(sink, detector);
    run.Prepare(Loopback(router.Port()));
    run.Abandon();  // before it ever ran
    run.Prepare(Loopback(router.Port()));
    run.Run();
    EXPECT_FALSE(run.IsCancelled());
    EXPECT_EQ(sink.Messages(), (Lines{"ADDRESS 203.0.113.45", "FOUND /", "PARSED", "DONE"}));

    // Nor the answer to an earlier login: a refusal, a 401 or a 403, is told by the run's own
    // start page, whatever later pages answer.
    router.RequireAuthorization("Basic YTpi");  // a:b
    const struct {
        const char* password;
        int root;  // the status of "/" once the login is let in, and of the page it links to
        int next;
        long start;
        bool bRefused;
    } logins[] = {
        {"", 200, 200, 401, true},
        {"b", 200, 200, 200, false},
        {"b", 403, 200, 403, true},
        {"b", 200, 401, 200, false},
    };
    for (const auto& login : logins) {
        router.Serve("/", login.root, "<a href=next.htm>");
        router.Serve("/next.htm", login.next, "next");
        SpiderSettings settings = Loopback(router.Port());
        settings.router = RouterAccessFor("a", login.password, 0x7F000001, router.Port());
        settings.strExternalAddress = "203.0.113.45";
        run.Prepare(settings);
        run.Run();
        EXPECT_EQ(run.StartStatus(), login.start) << login.root << ' ' << login.next;
        EXPECT_EQ(IsLoginRefused(run.StartStatus()), login.bRefused) << login.root;
    }
}

// Each limit of the settings, the one per name and the one for all, ends the run's lookups.
TEST(CSpiderRun, NameLookupsStopAtTheRunsLimits) {
    using std::chrono::milliseconds;
    CLoopbackServer router;
    router.Serve("/", 200, "<a href=http://silent.test/> <a href=http://silent2.test/>");
    std::promise<void> gate;
    const HostLookup silent = [answer = gate.get_future().share()](const std::string&,
                                                                   std::uint32_t&) {
        answer.wait();
        return false;
    };
    CDetectScript detector(std::vector<std::string>{});
    const struct {
        milliseconds limit;
        milliseconds budget;
        Lines messages;
    } cases[] = {
        {milliseconds(20), milliseconds(15000), {"ADDRESS 203.0.113.45", "PARSED", "DONE"}},
        {std::chrono::hours(1),
         milliseconds(20),
         {"ADDRESS 203.0.113.45", "PARSED", "SKIPPED 1", "DONE"}}};
    for (const auto& c : cases) {
        CRecordingSink sink;
        CSpiderRun run(sink, detector);
        run.Prepare({.router = {.nAddress = 0x7F000001, .nPort = router.Port()},
                     .strExternalAddress = "203.0.113.45",
                     .lookup = silent,
                     .lookupLimit = c.limit,
                     .lookupBudget = c.budget});
        ASSERT_TRUE(run.Start());
        // Far below the defaults (5 s a name, 15 s in all) a lost setting would fall back to.
        EXPECT_TRUE(
            WaitUntil([&] { return !sink.Messages().empty() && sink.Messages().back() == "DONE"; },
                      std::chrono::seconds(3)))
            << "the run waited on the names past its limits";
        run.Shutdown();
        EXPECT_EQ(sink.Messages(), c.messages);
    }
    gate.set_value();
}

TEST(CSpiderRun, TwoRunsShareNeitherPagesNorCancelFlag) {
    CLoopbackServer first;
    CLoopbackServer second;
    first.Serve("/", 200, "<a href=one.htm>");
    first.Serve("/one.htm", CLoopbackServer::Stalling());
    second.Serve("/", 200, "<a href=two.htm>203.0.113.45");
    second.Serve("/two.htm", 200, "203.0.113.45");
    CDetectScript detector(std::vector<std::string>{});
    CRecordingSink firstSink;
    CRecordingSink secondSink;
    CSpiderRun firstRun(firstSink, detector);
    CSpiderRun secondRun(secondSink, detector);
    SpiderSettings settings = Loopback(first.Port());
    settings.strExternalAddress = "203.0.113.45";
    firstRun.Prepare(settings);
    settings.router.nPort = second.Port();
    secondRun.Prepare(settings);

    ASSERT_TRUE(firstRun.Start());
    ASSERT_TRUE(WaitUntil([&] { return first.Requests().size() >= 2; }));
    firstRun.Cancel();
    secondRun.Run();
    firstRun.Shutdown();

    EXPECT_FALSE(secondRun.IsCancelled());
    EXPECT_TRUE(firstRun.IsCancelled());
    EXPECT_EQ(secondRun.ParsedPages().Paths(), (Lines{"/two.htm"}));
    EXPECT_EQ(firstRun.ParsedPages().Paths(), (Lines{"/one.htm"}));
    EXPECT_EQ(secondSink.Messages(), (Lines{"ADDRESS 203.0.113.45", "FOUND /", "FOUND /two.htm",
                                            "PARSED", "PARSED", "DONE"}));
}

}  // namespace
