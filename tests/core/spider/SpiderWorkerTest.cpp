#include "core/spider/SpiderRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "core/address/DetectScript.h"
#include "support/LoopbackServer.h"
#include "support/RecordingSink.h"
#include "support/TestHostLookup.h"
#include "support/Wait.h"

namespace {

using Lines = std::vector<std::string>;

class SpiderWorkerTest : public testing::Test {
protected:
    SpiderWorkerTest() : detector({detection.Url("/")}) {
        detection.Serve("/", 200, "Current IP Address: 203.0.113.45");
        params.strPath = "/";
        params.nRouterAddress = 0x7F000001;
        params.nRouterPort = router.Port();
    }

    void Run() {
        SpiderRunContext context{sink, &detector, parsed, cancel, shutdown, {}, TestHostLookup()};
        SpiderThreadProc(params, context);
    }

    CLoopbackServer router;
    CLoopbackServer detection;
    CDetectScript detector;
    SpiderParams params;
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
    EXPECT_EQ(params.pInternet, nullptr);
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
    params.strExternalAddress = "198.51.100.7";
    SpiderRunContext context{sink, nullptr, parsed, cancel, shutdown, {}, TestHostLookup()};
    SpiderThreadProc(params, context);
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
    auto run = std::make_unique<CSpiderRun>(
        sink, detector,
        SpiderSettings{.timeouts = {.cancelGrace = std::chrono::hours(1)},
                       .lookup = TestHostLookup()});
    run->Prepare("", "", 0x7F000001, router.Port());
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
    CSpiderRun run(sink, detector, {{}, TestHostLookup()});
    run.Prepare("", "", 0x7F000001, router.Port());
    run.Abandon();  // before it ever ran
    run.Prepare("", "", 0x7F000001, router.Port());
    run.Run();
    EXPECT_FALSE(run.IsCancelled());
    EXPECT_EQ(sink.Messages(), (Lines{"ADDRESS 203.0.113.45", "FOUND /", "PARSED", "DONE"}));

    // Nor the answer to an earlier login: a refusal is told by the run's own start page.
    router.RequireAuthorization("Basic YTpi");  // a:b
    for (const auto& [password, status] : {std::pair{"", 401L}, std::pair{"b", 200L}}) {
        run.Prepare("a", password, 0x7F000001, router.Port());
        run.SetExternalAddress("203.0.113.45");
        run.Run();
        EXPECT_EQ(run.StartStatus(), status);
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
        CSpiderRun run(sink, detector, {{}, silent, c.limit, c.budget});
        run.Prepare("", "", 0x7F000001, router.Port());
        run.SetExternalAddress("203.0.113.45");
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
    CSpiderRun firstRun(firstSink, detector, {{}, TestHostLookup()});
    CSpiderRun secondRun(secondSink, detector, {{}, TestHostLookup()});
    firstRun.Prepare("", "", 0x7F000001, first.Port());
    firstRun.SetExternalAddress("203.0.113.45");
    secondRun.Prepare("", "", 0x7F000001, second.Port());
    secondRun.SetExternalAddress("203.0.113.45");

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
