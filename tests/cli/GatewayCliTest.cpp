// velmo-cli asking the router itself: Debian's miniupnpd in a network namespace of the test's own
// (UPnP by search and by root URL, NAT-PMP by default route and by address, carrier-grade NAT, a
// gateway that never answers), a hostile router and another device on that LAN, and fake IGDs on
// loopback.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
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
    // Search 1 s, each request 0.5 s.
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
    // --json: the answer, each method's, each reading, an object a line.
    using Json = nlohmann::json;
    const Json none = nullptr;
    const std::string igdSource = "UPnP IGD " + igd.Url("/rootDesc.xml");
    const struct {
        Lines args;
        std::vector<Json> objects;
    } rows[] = {
        {{"gateway"},
         {{{"source", igdSource},
           {"outcome", "address"},
           {"address", "198.51.100.2"},
           {"reason", none},
           {"diagnosis", none}}}},
        {{"gateway", "--each"},
         {{{"method", "upnp_igd"}, {"source", igdSource}, {"address", "198.51.100.2"}},
          {{"method", "nat_pmp"},
           {"source", "NAT-PMP 127.0.0.1"},
           {"outcome", "no_answer"},
           {"address", none}}}},
        {{"poll", "--gateway", "--count", "1"},
         {{{"source", igdSource},
           {"address", "198.51.100.2"},
           {"change", true},
           {"http_status", none},
           {"reason", none}}}},
    };
    for (const auto& [args, objects] : rows) {
        Lines json = args;
        json.insert(json.end(), {"--json", "--igd", igd.Url("/rootDesc.xml"), "--natpmp",
                                 "127.0.0.1", "--test-gateway-limits=2000,3000"});
        const ProcessResult run = RunCli(json);
        EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
        ASSERT_EQ(run.Lines().size(), objects.size()) << run.out;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            const Json object = Json::parse(run.Lines()[i], nullptr, false);
            for (const auto& [name, value] : objects[i].items()) {
                EXPECT_EQ(object.value(name, Json("missing")), value) << name << ": " << run.out;
            }
        }
    }

    // Nothing a library says reaches standard error raw: each line is the program's own.
    std::istringstream said(silent.err);
    for (std::string line; std::getline(said, line);) {
        EXPECT_EQ(line.rfind("velmo-cli: ", 0), 0u) << line;
    }
}

// The child's peak resident set starts at this test's own at the fork; sanitizers multiply it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMO_TEST_UNDER_SANITIZER
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || \
    defined(VELMO_TEST_UNDER_SANITIZER)
constexpr long kMaxRssMiB = 0;  // not checked
#else
constexpr long kMaxRssMiB = 24;
#endif

// The router of the namespace played by a gateway of the test's own, beside another device on the
// LAN (192.168.77.3) that answers the search for a WAN address of its own, 100.64.9.9: every read
// bounded in bytes, and only a well-formed answer from the router itself believed and explained.
TEST_F(GatewayCliTest, HostileRouterOnTheLan) {
    std::string why;
    const std::unique_ptr<CHostileGateway> router = gateway.StartHostileRouter(why);
    if (!router) {
        GTEST_SKIP() << why;
    }
    CHostileGateway other(CGatewayNamespace::kOtherDevice);
    other.http.Serve("/rootDesc.xml", CHostileRouter::Page(IgdDescription()));
    other.http.Serve("/ctl", CHostileRouter::Page(ExternalAddressAnswer("100.64.9.9")));

    using Hostile = CHostileRouter;
    using Datagrams = std::vector<std::string>;
    const Hostile::Answer kIgd = Hostile::Page(IgdDescription());
    const auto soap = [](const char* address) {
        return Hostile::Page(ExternalAddressAnswer(address));
    };
    const Hostile::Answer kAddress = soap("203.0.113.9");
    const Hostile::Answer kEndless = Hostile::EndlessBody();
    const Hostile::Answer kHuge = Hostile::Huge(100'000'000);
    const auto pmp = [](const char* address) {
        return Datagrams{CHostileGateway::NatPmpAnswer(address)};
    };
    const Datagrams kGood = pmp("203.0.113.9");
    const Datagrams kNone;
    const Datagrams kWrongOpcode = {std::string{0, '\x81', 0, 3, 0, 0, 0, 1}};
    const Datagrams kFlood(500, std::string{0, '\x80', 0, 0, 0});
    const Lines kPoll = {"poll", "--gateway", "--count", "100", "--test-interval", "1"};
    const Lines kPollTwice = {"poll", "--gateway", "--count", "2", "--test-interval", "1"};
    const Lines kEach = {"gateway", "--each"};
    const Lines kGateway = {"gateway"};
    const Lines kVerbose = {"gateway", "--verbose"};
    const Lines kQuiet = {"gateway", "--quiet"};
    const Lines kNoRoute = {"gateway",  "--each",   "--igd", "http://192.0.2.1:5000/",
                            "--natpmp", "192.0.2.1"};
    const char* const kIgnored =
        "velmo-cli: gateway: UPnP IGD search: ignored the answer of 192.168.77.3, which is not the "
        "router 192.168.77.1\n";
    const char* const kBad = "no router's WAN side can hold";
    const char* const kNotUnderstood = "NAT-PMP 192.168.77.1: no answer understood";
    const struct {
        Lines args;
        Hostile::Answer description;  // the router's
        Hostile::Answer control;
        Datagrams natpmp;
        bool bRouterSearch;  // the router answers the search; the other device always does
        int status;
        std::size_t lines;    // of standard output,
        const char* each;     // each holding this
        const char* err;      // in standard error ("": none)
        const char* notErr;   // never in it
        bool bWaits = false;  // ends at its limits, kept short
    } rows[] = {
        // Endless and 100 MB answers: memory flat over 100 readings.
        {kPoll, kEndless, kAddress, kGood, true, 0, 100, " - 203.0.113.9", "", ""},
        {kPoll, kHuge, kAddress, kGood, true, 0, 100, " - 203.0.113.9", "", ""},
        {kPoll, kIgd, kEndless, kGood, true, 0, 100, " - 203.0.113.9", "", ""},
        {kPoll, kIgd, kHuge, kGood, true, 0, 100, " - 203.0.113.9", "", ""},
        {kEach, kEndless, kAddress, kGood, true, 0, 2, "\t", "", ""},
        {kEach, kIgd, kHuge, kGood, true, 0, 2, "\t", "", ""},
        // Another device's answer is ignored, and named with --verbose.
        {kVerbose, kIgd, kAddress, kNone, false, 2, 0, "", kIgnored, "100.64.9.9", true},
        // Addresses no router holds and malformed answers: no address, no diagnosis.
        {kGateway, kIgd, soap("255.255.255.255"), pmp("127.0.0.1"), true, 2, 0, "", kBad, "Your"},
        {kPollTwice, kIgd, soap("224.0.0.1"), pmp("0.1.2.3"), true, 0, 2, " - n/a", kBad, ""},
        {kGateway, kIgd, kAddress, kWrongOpcode, false, 2, 0, "", kNotUnderstood, "Your", true},
        {kGateway, kIgd, kAddress, kFlood, false, 2, 0, "", kNotUnderstood, "Your", true},
        {kGateway, kIgd, soap("192.0.0.2"), kNone, true, 0, 1,
         "192.0.0.2 (UPnP IGD http://192.168.77.1:5000/rootDesc.xml)", "a DS-Lite address", ""},
        {kQuiet, kIgd, soap("192.0.0.2"), kNone, true, 0, 1,
         "192.0.0.2 (UPnP IGD http://192.168.77.1:5000/rootDesc.xml)", "", "DS-Lite"},
        // Could not connect is no refusal.
        {kNoRoute, kIgd, kIgd, kNone, true, 2, 2, "could not connect (", "", ""},
    };
    for (const auto& row : rows) {
        router->http.Serve("/rootDesc.xml", row.description);
        router->http.Serve("/ctl", row.control);
        router->AnswerNatPmp(row.natpmp);
        router->bAnswerSearch = row.bRouterSearch;
        Lines args = row.args;
        args.push_back(row.bWaits ? "--test-gateway-limits=500,500"
                                  : "--test-gateway-limits=2000,3000");
        const ProcessResult run = RunCli(args);
        const std::string said = args.front() + ' ' + args[1] + ": " + run.out + run.err;
        EXPECT_EQ(run.status, row.status) << said;
        const Lines lines = run.Lines();
        EXPECT_EQ(lines.size(), row.lines) << said;
        for (const std::string& line : lines) {
            EXPECT_NE(line.find(row.each), std::string::npos) << said;
        }
        if (std::string(row.err).empty()) {
            EXPECT_EQ(run.err, "") << said;
        } else {
            EXPECT_NE(run.err.find(row.err), std::string::npos) << said;
        }
        if (!std::string(row.notErr).empty()) {
            EXPECT_EQ((run.out + run.err).find(row.notErr), std::string::npos) << said;
        }
        if (kMaxRssMiB > 0) {
            EXPECT_LE(run.peakRssKiB, kMaxRssMiB * 1024) << said;
        }
    }
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
