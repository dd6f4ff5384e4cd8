// velmo-cli asking the router itself: Debian's miniupnpd in a network namespace of the test's own
// (UPnP by search and by root URL, NAT-PMP by default route and by address, carrier-grade NAT, a
// gateway that never answers), and fake IGDs on loopback.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/FakeIgd.h"
#include "support/GatewayNamespace.h"
#include "support/HostileRouter.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/Wait.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr const char* kNoAddressOfItsOwn =
    "Your router has no internet address of its own: your provider's carrier-grade NAT or "
    "another router stands in front of it, so no page of this router can show your public "
    "address";

class GatewayCliTest : public testing::Test {
protected:
    GatewayCliTest() {
        std::string pattern = testing::TempDir() + "velmo-gateway-cli-XXXXXX";
        folder = mkdtemp(pattern.data());
    }
    ~GatewayCliTest() override { std::filesystem::remove_all(folder); }

    ProcessResult RunCli(std::vector<std::string> args,
                         const std::function<void(pid_t)>& whileRunning = {}) const {
        args.insert(args.begin(), VELMO_CLI);
        return RunProgram(args, {}, whileRunning,
                          {"XDG_CONFIG_HOME=" + folder.string(), "http_proxy=http://127.0.0.1:9",
                           "no_proxy=127.0.0.1,localhost"});
    }

    std::string ReadFile(const std::string& name) const {
        std::ifstream in(folder / name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path folder;
    CGatewayNamespace gateway;
};

// Each line of `gateway --each`: what was asked, the answer, the time taken.
void ExpectEach(const ProcessResult& run, const Lines& asked, const std::string& answer) {
    const Lines lines = run.Lines();
    ASSERT_EQ(lines.size(), asked.size()) << run.out << run.err;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const std::string& line = lines[i];
        EXPECT_EQ(line.rfind(asked[i] + '\t' + answer + '\t', 0), 0u) << line;
        EXPECT_TRUE(line.ends_with(" ms")) << line;
    }
}

TEST_F(GatewayCliTest, MiniupnpdTellsItsWanAddressByBothMethods) {
    if (const std::string why = gateway.Start("100.128.0.45/24"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string search = "--test-gateway-limits=1000,5000";
    const ProcessResult plain = RunCli({"gateway", search});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "100.128.0.45 (UPnP IGD http://192.168.77.1:5000/rootDesc.xml)\n");

    // Found by an SSDP search and through the default route.
    const ProcessResult found = RunCli({"gateway", "--each", search});
    EXPECT_EQ(found.status, 0) << found.err;
    ExpectEach(found, {"UPnP IGD http://192.168.77.1:5000/rootDesc.xml", "NAT-PMP 192.168.77.1"},
               "100.128.0.45");

    // Given.
    const ProcessResult given = RunCli(
        {"gateway", "--each", "--igd", CGatewayNamespace::kRootUrl, "--natpmp", "192.168.77.1"});
    EXPECT_EQ(given.status, 0) << given.err;
    ExpectEach(given, {"UPnP IGD http://192.168.77.1:5000/rootDesc.xml", "NAT-PMP 192.168.77.1"},
               "100.128.0.45");
}

TEST_F(GatewayCliTest, CarrierGradeNatIsExplained) {
    if (const std::string why = gateway.Start("100.64.12.7/10"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string search = "--test-gateway-limits=1000,5000";
    const ProcessResult asked = RunCli({"gateway", search});
    EXPECT_EQ(asked.status, 1);
    EXPECT_EQ(asked.out, "none (UPnP IGD http://192.168.77.1:5000/rootDesc.xml)\n");
    EXPECT_TRUE(asked.err.ends_with(std::string(kNoAddressOfItsOwn) + ".\n")) << asked.err;
    const ProcessResult each = RunCli({"gateway", "--each", search});
    EXPECT_EQ(each.status, 1);
    ExpectEach(each, {"UPnP IGD http://192.168.77.1:5000/rootDesc.xml", "NAT-PMP 192.168.77.1"},
               "none");

    // The router's own web server shows no status page: the crawl ends, the router explains.
    const ProcessResult spider =
        RunCli({"spider", "192.168.77.1:5000", "--external-address", "203.0.113.45", search});
    EXPECT_EQ(spider.status, 1);
    EXPECT_EQ(spider.Lines().back(), "Unable to identify the status page");
    EXPECT_TRUE(spider.err.ends_with(std::string(kNoAddressOfItsOwn) + " 203.0.113.45.\n"))
        << spider.err;

    CLoopbackServer detection;  // on this namespace's own loopback
    detection.Serve("/", 200, "Current IP Address: 203.0.113.45");
    const ProcessResult detect =
        RunCli({"detect", "--gateway-check", "--detect-url", detection.Url("/"), search});
    EXPECT_EQ(detect.status, 0);
    EXPECT_EQ(detect.out, "203.0.113.45\n");
    EXPECT_EQ(detect.err, std::string(kNoAddressOfItsOwn) + " 203.0.113.45.\n");
}

TEST_F(GatewayCliTest, SilentGatewayEndsWithinItsLimits) {
    if (const std::string why = gateway.Start("100.128.0.45/24"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    gateway.Freeze();
    // Search 1 s (cut off 0.5 s later), each request 0.5 s.
    const std::vector<std::vector<std::string>> runs = {
        {"gateway", "--test-gateway-limits=1000,500"},
        {"gateway", "--igd", CGatewayNamespace::kRootUrl, "--natpmp", "192.168.77.1",
         "--test-gateway-limits=1000,500"},
    };
    for (const std::vector<std::string>& args : runs) {
        const auto start = Clock::now();
        const ProcessResult silent = RunCli(args);
        // Some 2 s of limits and room for a loaded machine; ignored, the program's own limits
        // would take 7 s or more.
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5000)) << args.size();
        EXPECT_EQ(silent.status, 2);
        EXPECT_EQ(silent.out, "");
        EXPECT_NE(silent.err.find("timed out"), std::string::npos) << silent.err;
    }

    // Ctrl-C ends the wait at once, well before the 5 s of a request.
    Clock::time_point stopped;
    const ProcessResult interrupted =
        RunCli({"gateway", "--igd", CGatewayNamespace::kRootUrl}, [&](pid_t pid) {
            EXPECT_TRUE(WaitUntil([&] { return CatchesInterrupt(pid); }));
            kill(pid, SIGINT);
            stopped = Clock::now();
        });
    EXPECT_EQ(interrupted.status, 3);
    EXPECT_LT(Clock::now() - stopped, std::chrono::milliseconds(3000));
}

// poll --gateway against a fake IGD on loopback whose answer changes: A, A, B.
TEST_F(GatewayCliTest, PollGatewayRunsTheCommandOncePerChange) {
    CHostileRouter igd;
    igd.Serve("/rootDesc.xml", CHostileRouter::Page(IgdDescription()));
    std::atomic<int> asked{0};
    igd.ServeOthers([&](const std::string&) {
        return CHostileRouter::Page(
            ExternalAddressAnswer(++asked < 3 ? "198.51.100.1" : "198.51.100.2"));
    });
    const std::string changes = (folder / "changes").string();
    // --natpmp keeps a fault from asking the machine's own default gateway.
    const ProcessResult poll =
        RunCli({"poll", "--gateway", "--igd", igd.Url("/rootDesc.xml"), "--natpmp", "127.0.0.1",
                "--count", "3", "--interval", "1", "--test-interval", "10", "--on-change",
                "echo \"$VELMO_PREVIOUS_ADDRESS>$VELMO_ADDRESS\" >> '" + changes + "'"});
    EXPECT_EQ(poll.status, 0) << poll.err;
    const Lines lines = poll.Lines();
    ASSERT_EQ(lines.size(), 3u) << poll.out;
    EXPECT_TRUE(lines[0].ends_with(" - 198.51.100.1")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" - 198.51.100.1")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" - 198.51.100.2")) << lines[2];
    EXPECT_EQ(ReadFile("changes"), ">198.51.100.1\n198.51.100.1>198.51.100.2\n");

    // detect --gateway-check asks the gateway given as gateway does.
    CLoopbackServer detection;
    detection.Serve("/", 200, "Current IP Address: 198.51.100.2");
    const ProcessResult detect =
        RunCli({"detect", "--detect-url", detection.Url("/"), "--gateway-check", "--igd",
                igd.Url("/rootDesc.xml"), "--natpmp", "127.0.0.1"});
    EXPECT_EQ(detect.status, 0) << detect.err;
    EXPECT_EQ(detect.out, "198.51.100.2\n");
    EXPECT_EQ(detect.err,
              "velmo-cli: gateway: 198.51.100.2 (UPnP IGD " + igd.Url("/rootDesc.xml") + ")\n")
        << detect.err;

    // Nothing answers: n/a and why, and the poll goes on.
    const ProcessResult silent =
        RunCli({"poll", "--gateway", "--igd", "http://127.0.0.1:1/rootDesc.xml", "--natpmp",
                "127.0.0.1", "--count", "1", "--test-interval", "1"});
    EXPECT_EQ(silent.status, 0);
    EXPECT_TRUE(silent.out.ends_with(" - n/a\n")) << silent.out;
    EXPECT_NE(silent.err.find("velmo-cli: gateway: UPnP IGD http://127.0.0.1:1/rootDesc.xml: "),
              std::string::npos)
        << silent.err;
}

// A router on this machine has no gateway to ask, but its status page shows the shared WAN
// address in place of the public one.
TEST_F(GatewayCliTest, SpiderExplainsAPageThatShowsASharedAddress) {
    CLoopbackServer router;
    router.Serve("/", 200, "<a href=lan.htm>LAN</a> <a href=wan.htm>WAN</a>");
    router.Serve("/lan.htm", 200, "LAN 127.0.0.1 mask 255.255.255.0 DHCP 10.0.0.2 - 10.0.0.99");
    router.Serve("/wan.htm", 200, "WAN IP 100.64.12.7 gateway 100.64.0.1 mask 255.192.0.0");
    const ProcessResult spider = RunCli({"spider", "127.0.0.1:" + std::to_string(router.Port()),
                                         "--external-address", "203.0.113.45"});
    EXPECT_EQ(spider.status, 1);
    EXPECT_EQ(spider.err,
              "Your router's internet address is 100.64.12.7, a carrier-grade NAT address shared "
              "by your provider: no page of this router can show your public address "
              "203.0.113.45.\n");
}

}  // namespace
