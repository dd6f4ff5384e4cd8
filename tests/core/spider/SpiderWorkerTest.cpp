#include "core/spider/SpiderRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

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

TEST_F(SpiderWorkerTest, KnownAddressSkipsDetection) {
    router.Serve("/", 200, "WAN 198.51.100.7");
    params.strExternalAddress = "198.51.100.7";
    SpiderRunContext context{sink, nullptr, parsed, cancel, shutdown, {}, TestHostLookup()};
    SpiderThreadProc(params, context);
    EXPECT_EQ(sink.Messages(), (Lines{"ADDRESS 198.51.100.7", "FOUND /", "PARSED", "DONE"}));
    EXPECT_TRUE(detection.Requests().empty());
}

TEST(CSpiderRun, ShutdownAbandonsARunInProgress) {
    CLoopbackServer router;
    router.Serve("/", CLoopbackServer::Stalling());
    router.Serve("/detect", 200, "203.0.113.45");
    CRecordingSink sink;
    CDetectScript detector({router.Url("/detect")});
    {
        CSpiderRun run(sink, detector, {{}, TestHostLookup()});
        run.Prepare("", "", 0x7F000001, router.Port());
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(WaitUntil([&] { return router.Requests().size() >= 2; }))
            << "the crawl never reached the stalling page";
    }  // must return without waiting out the server
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
}

TEST(CSpiderRun, NameLookupsStopAtTheRunsLimit) {
    CLoopbackServer router;
    router.Serve("/", 200, "<a href=http://silent.test/>203.0.113.45");
    std::promise<void> gate;
    const HostLookup silent = [answer = gate.get_future().share()](const std::string&,
                                                                   std::uint32_t&) {
        answer.wait();
        return false;
    };
    CRecordingSink sink;
    CDetectScript detector(std::vector<std::string>{});
    CSpiderRun run(sink, detector, {{}, silent, std::chrono::milliseconds(20)});
    run.Prepare("", "", 0x7F000001, router.Port());
    run.SetExternalAddress("203.0.113.45");
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(WaitUntil([&] {
        return !sink.Messages().empty() && sink.Messages().back() == "DONE";
    })) << "the run waited on the name past its limit";
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
