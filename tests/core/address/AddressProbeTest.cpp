#include "core/address/AddressProbe.h"

#include <gtest/gtest.h>

#include "core/net/HttpFetch.h"
#include "support/LoopbackServer.h"

namespace {

struct ScanCase {
    const char* page;
    bool allowReserved;
    const char* exclusions;
    const char* expected;  // null: nothing found
};

TEST(FindAcceptableAddress, FirstAcceptableCandidateWins) {
    const ScanCase cases[] = {
        {"LAN 192.168.1.1 WAN 203.0.113.7", false, "", "203.0.113.7"},
        {"LAN 192.168.1.1 WAN 203.0.113.7", true, "", "192.168.1.1"},
        {"Firmware 2.0.0.1 WAN 198.51.100.2", false, "", "2.0.0.1"},
        {"WAN IP: 198.51.100.2.", false, "", "198.51.100.2"},
        {"...198.51.100.2...", false, "", "198.51.100.2"},
        {"Serial 1234567890", false, "", "1234567890"},
        {"WAN 198.51.100.2 backup 198.51.100.9", false, "198.51.100.2", "198.51.100.9"},
        {"WAN 198.51.100.2 backup 198.51.100.9", false, "198.51.100.*", nullptr},
        {"0.0.0.0 224.0.0.1 10.0.0.1", false, "", nullptr},
        {"0.0.0.1 0.255.255.255 10.0.0.0 10.255.255.255 127.0.0.0 127.255.255.255 172.16.0.0 "
         "172.31.255.255 192.168.0.0 192.168.255.255 224.0.0.0 255.0.0.0 255.255.255.255 "
         "223.255.255.255",
         false, "", "223.255.255.255"},
        {"ip=010.000.000.001;", false, "", "010.000.000.001"},
        {"<td>....</td> 1.2.3 <b>v2.1</b>", false, "", nullptr},
        {"", false, "", nullptr},
    };
    for (const ScanCase& c : cases) {
        std::string result = "n/a";
        const bool bFound = FindAcceptableAddress(c.page, c.allowReserved, c.exclusions, result);
        EXPECT_EQ(bFound, c.expected != nullptr) << c.page;
        EXPECT_EQ(result, c.expected != nullptr ? c.expected : "n/a") << c.page;
    }
}

class ProbeAddressTest : public testing::Test {
protected:
    CLoopbackServer server;
    std::string result = "n/a";

    bool Probe(const std::string& target, std::string_view login = {},
               std::string_view password = {}) {
        return ProbeAddress(server.Url(target), login, password, false, {}, result);
    }
};

TEST_F(ProbeAddressTest, ScansTheBodyWhateverTheStatus) {
    server.Serve("/ok", 200, "<b>WAN</b> 203.0.113.7");
    server.Serve("/denied", 401, "<p>Access from 198.51.100.4 denied</p>");
    server.Serve("/missing", 404, "Not found");
    EXPECT_TRUE(Probe("/ok"));
    EXPECT_EQ(result, "203.0.113.7");
    EXPECT_TRUE(Probe("/denied"));
    EXPECT_EQ(result, "198.51.100.4");
    EXPECT_FALSE(Probe("/missing"));
    EXPECT_EQ(result, "198.51.100.4") << "result must be untouched on failure";
}

TEST_F(ProbeAddressTest, EmptyBodyOrNoServerLeavesTheResultAloneAndSaysWhy) {
    server.Serve("/empty", 200, "");
    server.Serve("/plain", 200, "no address here");
    server.Serve("/denied", 401, "<h1>401 Unauthorized</h1>");
    server.Serve("/excluded", 200,
                 "WAN 198.51.100.2 198.51.100.2 198.51.100.3 198.51.100.4 198.51.100.5");
    const auto why = [&](const std::string& url, long status = 0) {
        ProbeFailure failure;
        EXPECT_FALSE(ProbeAddress(url, {}, {}, false, "198.51.100.*", result, {}, &failure)) << url;
        EXPECT_EQ(failure.status, status) << url;
        return failure.why;
    };
    EXPECT_EQ(why(server.Url("/empty"), 200), "empty page");
    EXPECT_EQ(why(server.Url("/plain"), 200), "no address in the page");
    EXPECT_EQ(why(server.Url("/denied"), 401), "no address in the page");
    // A few of the excluded candidates, each once.
    EXPECT_EQ(why(server.Url("/excluded"), 200),
              "only excluded addresses (198.51.100.2, 198.51.100.3, 198.51.100.4)");
    EXPECT_TRUE(why("http://127.0.0.1:1/").starts_with("refused ("));
    EXPECT_TRUE(why("not a url").starts_with("not an http URL"));
    EXPECT_EQ(result, "n/a");
}

TEST_F(ProbeAddressTest, SendsCredentials) {
    server.RequireAuthorization("Basic YWRtaW46c2VjcmV0");  // admin:secret
    server.Serve("/status.htm", 200, "WAN 203.0.113.9");
    EXPECT_TRUE(Probe("/status.htm", "admin", "secret"));
    EXPECT_EQ(result, "203.0.113.9");
    result = "n/a";
    EXPECT_FALSE(Probe("/status.htm", "admin", "wrong"));
}

}  // namespace
