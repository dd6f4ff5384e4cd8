#include "core/spider/SpiderWorker.h"

#include <gtest/gtest.h>

#include <chrono>

#include "core/address/DetectScript.h"
#include "support/LoopbackServer.h"
#include "support/RecordingSink.h"

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
        SpiderRunContext context{sink, &detector, parsed, cancel, shutdown};
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
    SpiderRunContext context{sink, nullptr, parsed, cancel, shutdown};
    SpiderThreadProc(params, context);
    EXPECT_EQ(sink.Messages(), (Lines{"ADDRESS 198.51.100.7", "FOUND /", "PARSED", "DONE"}));
    EXPECT_TRUE(detection.Requests().empty());
}

TEST(CSpiderThread, ShutdownAbandonsARunInProgress) {
    CLoopbackServer router;
    router.Serve("/", CLoopbackServer::Stalling());
    router.Serve("/detect", 200, "203.0.113.45");
    CRecordingSink sink;
    // The thread works on the process-wide state, as the Status page's runs do.
    PrepareRun("", "", 0x7F000001, router.Port());
    CDetectScript& detector = TheDetectScript();
    detector = CDetectScript({router.Url("/detect")});
    {
        CSpiderThread thread(sink);
        g_bSpiderCancel = false;
        ASSERT_TRUE(thread.Start());
        while (router.Requests().size() < 2) {
            std::this_thread::yield();
        }
    }  // must return without waiting out the server
    EXPECT_EQ(sink.Messages().back(), "DONE");
    detector = CDetectScript();
}

}  // namespace
