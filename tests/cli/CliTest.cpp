// velmo-cli end to end: the real binary against loopback routers and detection servers.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/Wait.h"

namespace {

ProcessResult RunCli(std::vector<std::string> args, const std::string& input = {},
                     const std::function<void(pid_t)>& whileRunning = {}) {
    args.insert(args.begin(), VELMO_CLI);
    return RunProgram(args, input, whileRunning);
}

class CliTest : public testing::Test {
protected:
    CliTest() { detection.Serve("/", 200, "Current IP Address: 203.0.113.45"); }
    std::string Router() const { return "127.0.0.1:" + std::to_string(router.Port()); }

    CLoopbackServer router;
    CLoopbackServer detection;
};

using Lines = std::vector<std::string>;

TEST_F(CliTest, SpiderPrintsAddressPagesCountAndOutcome) {
    router.Serve("/", 200, "<a href=Status.htm> <a href=status.htm> <a href=other.htm>");
    router.Serve("/Status.htm", 200, "WAN 203.0.113.45");
    router.Serve("/status.htm", 200, "WAN 203.0.113.45");
    router.Serve("/other.htm", 200, "LAN only");
    const ProcessResult run =
        RunCli({"spider", Router(), "--detect-url", detection.Url("/"), "--list-parsed"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Lines(),
              (Lines{"Detected IP address: 203.0.113.45", "Found: /Status.htm", "Parsed pages: 4",
                     "Parsed: /Status.htm", "Parsed: /status.htm", "Parsed: /other.htm",
                     "A status page was identified. Please select a path and click the Polling "
                     "tab."}));
}

TEST_F(CliTest, SpiderOutcomesGiveTheirExitStatus) {
    router.Serve("/", 200, "nothing here");
    const ProcessResult none = RunCli({"spider", Router(), "--external-address", "198.51.100.7"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.Lines().back(), "Unable to identify the status page");
    EXPECT_TRUE(detection.Requests().empty());

    detection.Serve("/", 200, "no address");
    const ProcessResult undetected =
        RunCli({"spider", Router(), "--detect-url", detection.Url("/")});
    EXPECT_EQ(undetected.status, 2);
    EXPECT_EQ(undetected.Lines(),
              (Lines{"Parsed pages: 0",
                     "Unable to autodetect your external IP address. Please make sure that you "
                     "are connected to the Internet."}));

    const ProcessResult refused =
        RunCli({"spider", "127.0.0.1:1", "--external-address", "198.51.100.7"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("no page could be read"), std::string::npos);
}

TEST_F(CliTest, RouterTargetIsCheckedLikeTheRouterTab) {
    const ProcessResult outside = RunCli({"spider", "8.8.8.8"});
    EXPECT_EQ(outside.status, 64);
    EXPECT_EQ(outside.err, "velmo-cli: Invalid IP address, local address expected\n");
    const ProcessResult port = RunCli({"spider", "192.168.1.1:0"});
    EXPECT_EQ(port.status, 64);
    EXPECT_EQ(port.err, "velmo-cli: Invalid TCP port number\n");
    EXPECT_EQ(RunCli({"spider", "router.invalid"}).status, 64);
    EXPECT_EQ(RunCli({"poll", Router(), ""}).status, 64);
    EXPECT_EQ(RunCli({"spider"}).status, 64);
    EXPECT_EQ(RunCli({"frobnicate"}).status, 64);
    EXPECT_EQ(RunCli({"probe", "http://x/", "--count", "zero"}).status, 64);
}

TEST_F(CliTest, EachCommandRefusesWhatItDoesNotTake) {
    const std::vector<std::vector<std::string>> refused = {
        {"detect", "--report", "f"},
        {"probe", "http://x/", "--count", "3"},
        {"poll", Router(), "/s", "--interval", "0"},
        {"poll", Router(), "/s", "--interval=86401"},
        {"poll", Router(), "/s", "--interval", "nan"},
        {"poll", Router(), "/s", "--count=0"},
        {"spider", Router(), "extra"},
        {"spider", "--bogus", Router()},
        {"detect", "--test-timeouts", "1,2"},
    };
    for (const std::vector<std::string>& args : refused) {
        const ProcessResult run = RunCli(args);
        EXPECT_EQ(run.status, 64) << args[1];
        EXPECT_EQ(run.err.rfind("velmo-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    router.Serve("/s", 200, "WAN 203.0.113.9");
    EXPECT_EQ(RunCli({"probe", "--allow-reserved", "--", router.Url("/s")}).out, "203.0.113.9\n");
}

TEST_F(CliTest, PasswordComesFromStandardInput) {
    router.RequireAuthorization("Basic YWRtaW46czNjcjN0");  // admin:s3cr3t
    router.Serve("/status.htm", 200, "WAN 203.0.113.9");
    const ProcessResult probe = RunCli(
        {"probe", router.Url("/status.htm"), "--login", "admin", "--password-stdin"}, "s3cr3t\n");
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out, "203.0.113.9\n");
    const ProcessResult wrong = RunCli({"probe", router.Url("/status.htm"), "--login", "admin"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "n/a\n");
}

TEST_F(CliTest, ProbeAppliesReservedAndNormalisedExclusions) {
    router.Serve("/s", 200, "LAN 192.168.1.1 WAN 198.51.100.15 backup 198.51.100.30");
    EXPECT_EQ(RunCli({"probe", router.Url("/s")}).out, "198.51.100.15\n");
    EXPECT_EQ(RunCli({"probe", router.Url("/s"), "--allow-reserved"}).out, "192.168.1.1\n");
    EXPECT_EQ(RunCli({"probe", router.Url("/s"), "--exclude", "198.51.100.10 - 198.51.100.20"}).out,
              "198.51.100.30\n");
}

TEST_F(CliTest, PollPrintsOneLinePerInterval) {
    router.Serve("/status.htm", 200, "WAN 203.0.113.9.");
    const ProcessResult poll = RunCli(
        {"poll", Router(), "/status.htm", "--interval=5", "--test-interval", "10", "--count=3"});
    EXPECT_EQ(poll.status, 0) << poll.err;
    ASSERT_EQ(poll.Lines().size(), 3u);
    for (const std::string& line : poll.Lines()) {
        EXPECT_EQ(line.find(" - "), 24u) << line;
        EXPECT_TRUE(line.ends_with(" - 203.0.113.9")) << line;
    }
}

TEST_F(CliTest, DetectRotatesOverTheGivenServers) {
    CLoopbackServer dead;
    dead.Serve("/", 200, "nothing");
    const ProcessResult found =
        RunCli({"detect", "--detect-url", dead.Url("/"), "--detect-url", detection.Url("/")});
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, "203.0.113.45\n");
    const ProcessResult failed = RunCli({"detect", "--detect-url", dead.Url("/")});
    EXPECT_EQ(failed.status, 2);
    EXPECT_NE(failed.err.find("Unable to autodetect"), std::string::npos);
}

TEST_F(CliTest, InterruptCancelsTheRun) {
    router.Serve("/", 200, "<a href=slow.htm>");
    router.Serve("/slow.htm", CLoopbackServer::Stalling());
    const ProcessResult run =
        RunCli({"spider", Router(), "--external-address", "203.0.113.45"}, {}, [&](pid_t pid) {
            EXPECT_TRUE(WaitUntil([&] { return router.Requests().size() >= 2; }))
                << "the crawl never reached the stalling page";
            kill(pid, SIGINT);
        });
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.Lines().back(), "The test was cancelled");
    EXPECT_NE(std::find(run.Lines().begin(), run.Lines().end(), "Parsed pages: 1"),
              run.Lines().end());
}

TEST_F(CliTest, ReportIsWrittenEscaped) {
    router.Serve("/", 200, "<a href=\"a.htm?x=<1>\">");
    const std::string report = testing::TempDir() + "velmo-cli-report.htm";
    RunCli({"spider", Router(), "--external-address", "203.0.113.45", "--report", report});
    std::ifstream in(report, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("/a.htm?x=&lt;1&gt;<br>\r\n"), std::string::npos);
    std::filesystem::remove(report);
}

TEST_F(CliTest, HelpAndVersion) {
    EXPECT_EQ(RunCli({"--version"}).out, "Version: 1.00 (Build 0.0)\n");
    for (const char* command : {"spider", "probe", "poll", "detect"}) {
        const ProcessResult help = RunCli({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: velmo-cli ") + command, 0), 0u);
    }
    EXPECT_EQ(RunCli({"--help"}).status, 0);
}

}  // namespace
