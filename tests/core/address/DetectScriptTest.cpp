#include "core/address/DetectScript.h"

#include "core/address/DetectionServers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

#include "support/LoopbackServer.h"
#include "support/Wait.h"

namespace {

// Ten detection servers on loopback, each failing until told to answer.
class DetectScriptTest : public testing::Test {
protected:
    DetectScriptTest() {
        std::vector<std::string> urls;
        for (int i = 0; i < 10; ++i) {
            servers.push_back(std::make_unique<CLoopbackServer>());
            servers.back()->Serve("/", 200, "no address here");
            urls.push_back(servers.back()->Url("/"));
        }
        detector = std::make_unique<CDetectScript>(urls);
    }

    void Answer(int server, const std::string& body) { servers[server]->Serve("/", 200, body); }

    std::vector<std::size_t> RequestCounts() const {
        std::vector<std::size_t> counts;
        for (const auto& server : servers) {
            counts.push_back(server->Requests().size());
        }
        return counts;
    }

    std::vector<std::unique_ptr<CLoopbackServer>> servers;
    std::unique_ptr<CDetectScript> detector;
    std::string address = "unchanged";
};

TEST_F(DetectScriptTest, TheDefaultListHasTenServersOnTheFixedPortsAndPaths) {
    const CDetectScript publicServers;
    const auto& urls = publicServers.Servers();
    ASSERT_EQ(urls.size(), 10u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NE(urls[i].find(":8245/"), std::string::npos) << urls[i];
    }
    EXPECT_TRUE(urls[4].ends_with(":8245/ip.php"));
    EXPECT_TRUE(urls[9].ends_with(":7777/myip.php"));
    EXPECT_EQ(publicServers.NextServerIndex(), 0);
}

TEST_F(DetectScriptTest, EachDetectionStartsAfterTheServerAskedLast) {
    Answer(0, "Current IP Address: 203.0.113.45");
    Answer(1, "Current IP Address: 203.0.113.46");
    ASSERT_TRUE(detector->Detect(false, address));
    EXPECT_EQ(address, "203.0.113.45");
    EXPECT_EQ(detector->NextServerIndex(), 1);
    ASSERT_TRUE(detector->Detect(false, address));
    EXPECT_EQ(address, "203.0.113.46");
    EXPECT_EQ(detector->NextServerIndex(), 2);
}

TEST_F(DetectScriptTest, FailingServersArePassedOver) {
    Answer(3, "203.0.113.45");
    ASSERT_TRUE(detector->Detect(false, address));
    EXPECT_EQ(RequestCounts(), (std::vector<std::size_t>{1, 1, 1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(detector->NextServerIndex(), 4);
}

TEST_F(DetectScriptTest, RotationWrapsFromTheLastServerToTheFirst) {
    Answer(8, "198.51.100.1");
    ASSERT_TRUE(detector->Detect(false, address));
    ASSERT_EQ(detector->NextServerIndex(), 9);
    Answer(8, "nothing");
    Answer(0, "203.0.113.45");
    ASSERT_TRUE(detector->Detect(false, address));
    EXPECT_EQ(address, "203.0.113.45");
    EXPECT_EQ(RequestCounts(), (std::vector<std::size_t>{2, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(detector->NextServerIndex(), 1);
}

TEST_F(DetectScriptTest, AllFailingAsksEachOnceAndKeepsTheAddress) {
    EXPECT_FALSE(detector->Detect(false, address));
    EXPECT_EQ(address, "unchanged");
    EXPECT_EQ(RequestCounts(), std::vector<std::size_t>(10, 1));
    EXPECT_EQ(detector->NextServerIndex(), 0);
}

TEST_F(DetectScriptTest, AbortEndsTheProbeInFlightAndTheRotation) {
    servers[0]->Serve("/", CLoopbackServer::Stalling());
    Answer(1, "203.0.113.45");
    std::atomic<bool> abort{false};
    auto detection = std::async(std::launch::async, [&] {
        return detector->Detect(false, address, {{}, CAbortSignal(&abort)});
    });
    ASSERT_TRUE(WaitUntil([&] { return RequestCounts()[0] == 1; })) << "no request arrived";
    const auto start = std::chrono::steady_clock::now();
    abort = true;
    EXPECT_FALSE(detection.get());
    // At once, long before the stall limit of 10 s would end it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(RequestCounts(), (std::vector<std::size_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(detector->NextServerIndex(), 1) << "the rotation went on past the abort";
    EXPECT_EQ(address, "unchanged");
}

TEST_F(DetectScriptTest, ReservedAddressesBeforeThePublicOneAreSkipped) {
    Answer(0, "You are behind 10.0.0.1; your address is 203.0.113.45");
    ASSERT_TRUE(detector->Detect(false, address));
    EXPECT_EQ(address, "203.0.113.45");
    Answer(1, "You are behind 10.0.0.1; your address is 203.0.113.45");
    ASSERT_TRUE(detector->Detect(true, address));
    EXPECT_EQ(address, "10.0.0.1");
}

TEST(DetectionServers, OnlyPlainHttpUrlsAreUsable) {
    for (const char* url : {"http://echo.example:8245/", "http://127.0.0.1:7777/ip.php",
                            "http://a.example", "HTTP://B.EXAMPLE/"}) {
        EXPECT_TRUE(IsDetectionServerUrl(url)) << url;
    }
    for (const char* url :
         {"https://echo.example/", "ftp://a.example/", "http://:80/", "http://a.example:0/",
          "http://a.example:65536/", "http://user@a.example/", "http://a.example/?q", "",
          "http://a.example:8245/x y"}) {
        EXPECT_FALSE(IsDetectionServerUrl(url)) << url;
    }
}

}  // namespace
