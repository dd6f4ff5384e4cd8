// velmo-cli end to end: the real binary against loopback routers and detection servers.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

#include "cli/Journal.h"
#include "core/net/HttpFetch.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/TlsRouter.h"
#include "support/Wait.h"

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// True once the process is gone or a zombie.
bool HasEnded(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(status, line)) {
        return true;
    }
    const std::size_t state = line.rfind(')') + 2;
    return state >= line.size() || line[state] == 'Z' || line[state] == 'X';
}

// A router that logs in by a form (admin, secret) and keeps the session by a cookie; every page
// without it is the login form. Counts the logins it is sent.
// A router whose login form is sent by POST, or with `bGet` by GET; `posts` counts the logins.
void ServeLoginForm(CLoopbackServer& server, std::shared_ptr<std::atomic<int>> posts,
                    bool bGet = false) {
    server.Route([posts, bGet](const CLoopbackServer::Request& request) {
        CLoopbackServer::Page page;
        const bool bLogin =
            bGet ? request.target.find("pass=") != std::string::npos : request.method == "POST";
        if (bLogin) {
            ++*posts;
            page.status = 302;
            page.headers = {{"Location", "/"}};
            if ((bGet ? request.target.substr(request.target.find('?') + 1) : request.body) ==
                "user=admin&pass=secret") {
                page.headers.emplace_back("Set-Cookie", "sid=1");
            }
        } else if (request.Header("Cookie") != "sid=1") {
            page.body = std::string("<form method=") + (bGet ? "get" : "post") +
                        "><input name=user><input type=password name=pass></form>";
        } else {
            page.body = request.path == "/" ? "<a href=/status.htm>s</a>" : "WAN 203.0.113.9";
        }
        return std::optional(page);
    });
}

class CliTest : public testing::Test {
protected:
    CliTest() {
        detection.Serve("/", 200, "Current IP Address: 203.0.113.45");
        std::string pattern = testing::TempDir() + "velmo-cli-XXXXXX";
        folder = mkdtemp(pattern.data());
        std::filesystem::create_directories(folder / "config");
    }
    ~CliTest() override { std::filesystem::remove_all(folder); }

    std::string Router() const { return "127.0.0.1:" + std::to_string(router.Port()); }

    // The real program, with a settings folder of its own. Should a fault send it to the built-in
    // detection servers, the proxy on a closed loopback port stops the request on this machine;
    // should it hang, it is killed.
    ProcessResult RunCli(std::vector<std::string> args, const std::string& input = {},
                         const std::function<void(pid_t)>& whileRunning = {},
                         bool holdInput = false,
                         const std::vector<std::string>& environment = {}) const {
        args.insert(args.begin(), VELMO_CLI);
        std::vector<std::string> variables = Environment();
        variables.insert(variables.end(), environment.begin(), environment.end());
        return RunProgram(args, input, whileRunning, variables, holdInput,
                          std::chrono::seconds(60));
    }

    // The settings folder, the closed proxy, and the names velmo-cli may look up: no name but
    // "localhost" reaches the system resolver.
    std::vector<std::string> Environment() const {
        return {"XDG_CONFIG_HOME=" + (folder / "config").string(), "http_proxy=http://127.0.0.1:9",
                "no_proxy=127.0.0.1,localhost",
                "VELMO_TEST_HOSTS=router.test=127.0.0.1,public.test=198.51.100.7,"
                "stalling.test=stall"};
    }

    CLoopbackServer router;
    CLoopbackServer detection;
    std::filesystem::path folder;
};

using Lines = std::vector<std::string>;
using Json = nlohmann::json;

// The lines of --json output, each parsed; a line that is not a JSON object, or holds a byte that
// is not plain printable ASCII, fails the test.
std::vector<Json> JsonLines(const ProcessResult& run) {
    std::vector<Json> objects;
    for (const std::string& line : run.Lines()) {
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) {
            return c >= ' ' && c < 0x7f;
        })) << line;
        objects.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(objects.back().is_object()) << line;
    }
    return objects;
}

TEST_F(CliTest, SpiderPrintsAddressPagesCountAndOutcome) {
    router.Serve("/", 200,
                 "<a href=Status.htm> <a href=status.htm> <a href=other.htm> "
                 "<script>go('menu/st.asp'); go('logout.asp')</script>");
    router.Serve("/Status.htm", 200, "WAN 203.0.113.45");
    router.Serve("/status.htm", 200, "WAN 203.0.113.45");
    router.Serve("/other.htm", 200, "LAN only");
    router.Serve("/menu/st.asp", 200, "WAN 203.0.113.45");
    const ProcessResult run =
        RunCli({"spider", Router(), "--detect-url", detection.Url("/"), "--list-parsed"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Lines(),
              (Lines{"Detected IP address: 203.0.113.45", "Found: /Status.htm", "Parsed pages: 4",
                     "Parsed: /Status.htm", "Parsed: /status.htm", "Parsed: /other.htm",
                     "A status page was identified. Please select a path and click the Polling "
                     "tab."}));

    const ProcessResult deep =
        RunCli({"spider", Router(), "--detect-url", detection.Url("/"), "--list-parsed", "--deep"});
    EXPECT_EQ(deep.status, 0) << deep.err;
    EXPECT_EQ(deep.Lines(),
              (Lines{"Detected IP address: 203.0.113.45", "Found: /Status.htm",
                     "Found: /menu/st.asp", "Parsed pages: 5", "Parsed: /Status.htm",
                     "Parsed: /status.htm", "Parsed: /other.htm", "Parsed: /menu/st.asp (script)",
                     "Parsed: /logout.asp (script, not requested)",
                     "A status page was identified. Please select a path and click the Polling "
                     "tab."}));
}

TEST_F(CliTest, SpiderOutcomesGiveTheirExitStatus) {
    router.Serve("/", 200, "nothing here");
    const ProcessResult none = RunCli({"spider", Router(), "--external-address", "198.51.100.7"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.Lines().back(), "Unable to identify the status page");
    EXPECT_EQ(none.err, "velmo-cli: a deeper search may find it: run again with --deep\n");
    EXPECT_TRUE(detection.Requests().empty());
    const ProcessResult quiet =
        RunCli({"spider", Router(), "--external-address", "198.51.100.7", "-q"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.out, none.out);
    EXPECT_EQ(quiet.err, "");
    const ProcessResult deepNone =
        RunCli({"spider", Router(), "--external-address", "198.51.100.7", "--deep"});
    EXPECT_EQ(deepNone.status, 1);
    EXPECT_EQ(deepNone.Lines().back(), "Unable to identify the status page");
    EXPECT_EQ(deepNone.err, "");

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
    EXPECT_EQ(refused.err.find("--deep"), std::string::npos) << "nothing to search deeper";
}

TEST_F(CliTest, RouterTargetIsCheckedLikeTheRouterTab) {
    const std::string address = "velmo-cli: Invalid IP address, local address expected\n";
    const std::string port = "velmo-cli: Invalid TCP port number\n";
    const std::string noName = "velmo-cli: router.invalid: no IPv4 address for this name";
    const struct {
        std::string host;
        int status;
        std::string err;  // how standard error begins
    } refused[] = {
        {"8.8.8.8", 64, address},
        {"public.test", 64, address},  // a name, looked up, must give a local address too
        {"192.168.1.256", 64, address},
        {"3232235777", 64, address},  // 192.168.1.1 in the classic one-part form
        {"0x7f.0.0.1", 64, address},  // nor hexadecimal, which the resolver would take
        {"192.168.1.1/x", 64, address},
        {"192.168.1.1:0", 64, port},
        {"127.0.0.1:65616", 64, port},  // not port 80 by its low 16 bits
        {"127.0.0.1:", 64, port},
        {"router.invalid", 68, noName},
        // What is taken instead of a URL or another kind of address is said.
        {"http://127.0.0.1:8080/status.htm", 64,
         "velmo-cli: http://127.0.0.1:8080/status.htm is a URL, not [https://]HOST[:PORT]: give "
         "the router's IPv4 address or name, with :PORT when it is not 80 (443 over https) "
         "(127.0.0.1:8080 here)\n"},
        {"https://127.0.0.1/status.htm", 64,
         "velmo-cli: https://127.0.0.1/status.htm is a URL, not [https://]HOST[:PORT]: give the "
         "router's IPv4 address or name, with :PORT when it is not 80 (443 over https) "
         "(https://127.0.0.1 here)\n"},
        {"ftp://127.0.0.1", 64, "velmo-cli: ftp://127.0.0.1 is a URL"},
        {"https://admin@127.0.0.1", 64, "velmo-cli: https://admin@127.0.0.1 is a URL"},
        {"https://8.8.8.8", 64, address},
        {"https://127.0.0.1:0", 64, port},
        {"http://[::1]:8080", 64, "velmo-cli: [::1]:8080 is an address in brackets"},
        {"[::1]:8080", 64, "velmo-cli: [::1]:8080 is an address in brackets, not [https://]HOST"},
        {"fe80::1", 64, "velmo-cli: fe80::1 is an IPv6 address, not [https://]HOST[:PORT]"},
        // A name server that never answers: the lookup gives up on time.
        {"stalling.test", 68, "velmo-cli: stalling.test: no IPv4 address for this name"},
    };
    for (const auto& [host, status, err] : refused) {
        // Only the silent name server gets a tight limit: the others answer at once, within the
        // program's 5 s however loaded the machine.
        std::vector<std::string> args = {"spider", host};
        if (host == "stalling.test") {
            args.insert(args.end(), {"--test-lookup-limit", "200"});
        }
        const ProcessResult run = RunCli(args);
        EXPECT_EQ(run.status, status) << host;
        EXPECT_EQ(run.err.rfind(err, 0), 0u) << host << ": " << run.err;
    }
    // Leading zeros are decimal, as in the window: 127.0.0.010 is the server at 127.0.0.10, not
    // 127.0.0.8. A name is looked up once and the password goes to the address it gave.
    CLoopbackServer tenth("127.0.0.10");
    tenth.Serve("/s", 200, "WAN 203.0.113.10");
    router.Serve("/s", 200, "WAN 203.0.113.1");
    const std::string port10 = ":" + std::to_string(tenth.Port());
    const std::string port1 = ":" + std::to_string(router.Port());
    for (const auto& [host, expected] : {std::pair{"127.000.000.010" + port10, "203.0.113.10"},
                                         std::pair{"router.test" + port1, "203.0.113.1"},
                                         std::pair{"HTTP://127.0.0.1" + port1 + "/", "203.0.113.1"},
                                         std::pair{"localhost" + port1, "203.0.113.1"}}) {
        const ProcessResult poll = RunCli({"poll", host, "/s", "--count", "1"});
        EXPECT_EQ(poll.status, 0) << host << ": " << poll.err;
        EXPECT_TRUE(poll.out.ends_with(std::string(" - ") + expected + "\n")) << host << poll.out;
    }
    EXPECT_EQ(RunCli({"poll", Router(), ""}).status, 64);
    EXPECT_EQ(RunCli({"spider"}).status, 64);
    EXPECT_EQ(RunCli({"frobnicate"}).status, 64);
    EXPECT_EQ(RunCli({"probe", "http://x/", "--count", "zero"}).status, 64);
}

TEST_F(CliTest, EachCommandRefusesWhatItDoesNotTake) {
    const std::vector<std::vector<std::string>> refused = {
        {"probe", "http://x/", "--max-time", "0"},
        {"detect", "--report", "f"},
        {"probe", "http://x/", "--count", "3"},
        {"poll", Router(), "/s", "--interval", "0"},
        {"poll", Router(), "/s", "--interval=86401"},
        {"poll", Router(), "/s", "--interval", "nan"},
        {"poll", Router(), "/s", "--count=0"},
        {"spider", Router(), "extra"},
        {"spider", Router(), "--external-address", "198.51.100.256"},
        {"spider", "--bogus", Router()},
        {"probe", "http://x/", "-V"},  // the version, before any command
        {"probe", "http://x/", "-q"},  // nothing to leave out
        {"detect", "--test-timeouts", "1,2"},
        {"gateway", "--igd", "https://192.168.1.1/rootDesc.xml"},
        {"gateway", "--igd", "http://[::1]:5000/rootDesc.xml"},
        {"gateway", "--natpmp", "192.168.1"},
        {"gateway", "--test-gateway-limits", "100"},
        // Past a day: should it be taken, only loopback is asked.
        {"gateway", "--igd", "http://127.0.0.1:1/", "--natpmp", "127.0.0.1",
         "--test-gateway-limits", "86400001,1000"},
        {"gateway", "--igd", "http://127.0.0.1:1/", "--natpmp", "127.0.0.1",
         "--test-gateway-limits", "1000,9223372036854775807"},
        {"detect", "--detect-url", "http://127.0.0.1:9/", "--natpmp", "127.0.0.1"},
        {"detect", "--detect-url", "http://127.0.0.1:9/", "--each", "--gateway-check", "--igd",
         "http://127.0.0.1:1/", "--natpmp", "127.0.0.1"},
        {"poll", "--gateway", Router(), "/s"},
        {"poll", "--gateway", "--exclude", "198.51.100.1"},
        {"poll", Router(), "/s", "--natpmp", "127.0.0.1"},
        {"poll"},
    };
    for (const std::vector<std::string>& args : refused) {
        const ProcessResult run = RunCli(args);
        EXPECT_EQ(run.status, 64) << args[1];
        EXPECT_EQ(run.err.rfind("velmo-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    // What is missing or unknown is named, with the way to the help.
    const std::pair<std::vector<std::string>, std::string> hinted[] = {
        {{"-v"}, "velmo-cli: -v goes after a command"},
        {{"--verbose", "probe", "http://x/"}, "velmo-cli: --verbose goes after a command"},
        {{"--bogus=1"}, "velmo-cli: unknown option --bogus;"},
        {{"help", "frobnicate"}, "velmo-cli: help takes one command of velmo-cli --help"},
        {{"spider", "--helpp"}, "velmo-cli: spider has no option --helpp; velmo-cli spider --help"},
        {{"spider"}, "velmo-cli: spider needs HOST[:PORT]"},
        {{"probe", "--login", "x"}, "velmo-cli: probe needs URL"},
    };
    for (const auto& [args, err] : hinted) {
        const ProcessResult run = RunCli(args);
        EXPECT_EQ(run.status, 64) << args[0];
        EXPECT_EQ(run.err.rfind(err, 0), 0u) << run.err;
        EXPECT_NE(run.err.find(" --help"), std::string::npos) << run.err;
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
    // The first reading comes at once, not an interval later.
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult once = RunCli({"poll", Router(), "/status.htm", "--count=1"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(once.out.ends_with(" - 203.0.113.9\n")) << once.out << once.err;
}

TEST_F(CliTest, DetectRotatesOverTheGivenServers) {
    CLoopbackServer dead;
    dead.Serve("/", 200, "nothing");
    const ProcessResult found =
        RunCli({"detect", "--detect-url", dead.Url("/"), "--detect-url", detection.Url("/")});
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, "203.0.113.45\n");
    // When every server fails, each one's reason is told.
    const ProcessResult failed =
        RunCli({"detect", "--detect-url", dead.Url("/"), "--detect-url", "http://127.0.0.1:1/"});
    EXPECT_EQ(failed.status, 2);
    EXPECT_EQ(failed.err.rfind("velmo-cli: " + dead.Url("/") +
                                   ": no address in the page\nvelmo-cli: http://127.0.0.1:1/: "
                                   "refused (",
                               0),
              0u)
        << failed.err;
    EXPECT_TRUE(
        failed.err.ends_with("\nUnable to autodetect your external IP address. Please make "
                             "sure that you are connected to the Internet.\n"))
        << failed.err;
}

TEST_F(CliTest, ReportIsWrittenEscaped) {
    router.Serve("/", 200, "<a href=\"a.htm?x=<1>\">");
    // A link planted at the report's path is replaced, not written through.
    const std::filesystem::path report = folder / "report.htm";
    WriteFile(folder / "victim", "keep");
    std::filesystem::create_symlink(folder / "victim", report);
    RunCli({"spider", Router(), "--external-address", "203.0.113.45", "--report", report});
    EXPECT_NE(ReadFile(report).find("/a.htm?x=&lt;1&gt;<br>\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::is_symlink(report));
    EXPECT_EQ(ReadFile(folder / "victim"), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3)
        << "a temporary file was left behind";
}

// Whatever stands at the path and is not a regular file stays as it is, and so does a link that
// leads through /proc as /dev/stdout does, for a report (the run fails) and for --state alike.
TEST_F(CliTest, ReportThatCannotBeWrittenExits73) {
    router.Serve("/", 200, "WAN 203.0.113.45");
    const std::filesystem::path fifo = folder / "fifo", device = folder / "null",
                                program = folder / "program";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/proc/self/exe", program);
    const bool bDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as root
    const struct {
        std::filesystem::path path;
        std::string why;
    } cases[] = {
        {folder, "is not a regular file (a folder)"},
        {fifo, "is not a regular file (a FIFO)"},
        {device, "is not a regular file (a device)"},
        {folder / "missing/report.htm", ": No such file or directory"},
        {program, ": a link into /proc, not to a regular file"},
    };
    for (const auto& [path, why] : cases) {
        if (path == device && !bDevice) {
            continue;
        }
        const auto type = std::filesystem::symlink_status(path).type();
        const ProcessResult run = RunCli(
            {"spider", Router(), "--external-address", "203.0.113.45", "--report", path.string()});
        EXPECT_EQ(run.status, 73) << path;
        EXPECT_EQ(run.Lines().back(),
                  "A status page was identified. Please select a path and click the Polling tab.");
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_EQ(std::filesystem::symlink_status(path).type(), type) << path;
    }
    router.Serve("/s", 200, "WAN 198.51.100.1");
    const ProcessResult poll =
        RunCli({"poll", Router(), "/s", "--count", "1", "--state", program.string()});
    EXPECT_NE(poll.err.find("state file " + program.string() +
                            ": a link into /proc, not to a regular file"),
              std::string::npos)
        << poll.err;
    EXPECT_TRUE(std::filesystem::is_symlink(program));
}

// Output that cannot be written ends the command: a pipe whose reader has gone by SIGPIPE, as it
// ends the other programs of a pipeline, a full disk with status 74 and the reason. An --on-change
// command still running ends with it.
TEST_F(CliTest, OutputThatCannotBeWrittenEndsTheCommand) {
    router.Serve("/s", 200, "WAN 203.0.113.9");
    router.Serve("/", 200, "WAN 203.0.113.45");
    const std::filesystem::path started = folder / "started";
    const std::string endless =
        "exec >/dev/null 2>&1; sleep 1000 & echo $$ $! >> '" + started.string() + "'; wait";
    // Should the loss go unnoticed, the count ends it, many readings later.
    const Lines poll = {"poll", Router(),      "/s",   "--test-interval", "1", "--count",
                        "500",  "--on-change", endless};
    const std::string full =
        "velmo-cli: cannot write to standard output: No space left on device\n";
    const struct {
        Lines args;
        std::string output;  // standard output, as bash gives it
        int status;
        std::string err;
    } rows[] = {
        {poll, "> >(head -n 1)", 128 + SIGPIPE,
         "velmo-cli: the --on-change command was ended by signal 15\n"},
        {poll, "> /dev/full", 74, full},
        {{"probe", router.Url("/s")}, "> /dev/full", 74, full},
        {{"spider", Router(), "--external-address", "203.0.113.45"}, "> /dev/full", 74, full},
        {{"detect", "--detect-url", detection.Url("/")}, "> /dev/full", 74, full},
        {{"--help"}, "> /dev/full", 74, full},
    };
    for (const auto& [args, output, status, err] : rows) {
        std::filesystem::remove(started);
        const std::size_t asked = router.Requests().size();
        Lines line = {"/bin/bash", "-c", "exec \"$0\" \"$@\" " + output, VELMO_CLI};
        line.insert(line.end(), args.begin(), args.end());
        const ProcessResult run =
            RunProgram(line, {}, {}, Environment(), false, std::chrono::seconds(60));
        EXPECT_EQ(run.status, status) << args[0] << output << ": " << run.err;
        EXPECT_EQ(run.err, err) << args[0] << output;
        EXPECT_LE(router.Requests().size(), asked + 2) << output << ": read on without output";
        std::istringstream noted(ReadFile(started));
        for (pid_t pid = 0; noted >> pid;) {
            EXPECT_TRUE(WaitUntil([&] { return HasEnded(pid); }, std::chrono::seconds(5)))
                << output << ": the command's group outlived velmo-cli";
            if (!HasEnded(pid)) {
                kill(pid, SIGKILL);
            }
        }
    }
}

// --json: one object a result, a line each (one a reading for poll), the exit status as without it.
// Each row gives the fields a line must hold, as they must be.
TEST_F(CliTest, JsonGivesOneObjectPerResult) {
    router.Serve("/", 200, "<a href=s> <a href=lan>");
    router.Serve("/s", 200, "WAN 0306.51.100.9 (203.0.113.9 outside)");
    router.Serve("/lan", 200, "LAN only");
    const Json none = nullptr;
    const struct {
        Lines args;
        int status;
        std::vector<Json> lines;
    } rows[] = {
        {{"probe", router.Url("/s")},
         0,
         {{{"source", router.Url("/s")},
           {"address", "198.51.100.9"},  // as judged
           {"http_status", 200},
           {"reason", none}}}},
        {{"probe", router.Url("/lan")},
         1,
         {{{"address", none}, {"http_status", 200}, {"reason", "no address in the page"}}}},
        {{"probe", router.Url("/missing")},
         1,
         {{{"address", none}, {"http_status", 404}, {"reason", "HTTP 404"}}}},
        {{"probe", "http://127.0.0.1:1/"}, 1, {{{"address", none}, {"http_status", none}}}},
        {{"poll", Router(), "/s", "--count", "2", "--test-interval", "1"},
         0,
         {{{"source", router.Url("/s")}, {"address", "198.51.100.9"}, {"change", true}},
          {{"change", false}, {"http_status", 200}, {"reason", none}}}},
        {{"poll", Router(), "/lan", "--count", "1"},
         0,
         {{{"address", none}, {"change", false}, {"reason", "no address in the page"}}}},
        {{"spider", Router(), "--external-address", "203.0.113.9", "--list-parsed"},
         0,
         {{{"address", "203.0.113.9"},
           {"found", Json::array({"/s"})},
           {"parsed", 3},
           {"outcome", "found"},
           {"http_status", 200},
           {"reason", none},
           {"router", router.Url("/")},
           {"scheme", "http"},
           {"key", none},
           {"pages",
            Json::array({{{"path", "/s"}, {"origin", "link"}, {"after_login", false}},
                         {{"path", "/lan"}, {"origin", "link"}, {"after_login", false}}})}}}},
        {{"spider", "127.0.0.1:1", "--external-address", "203.0.113.9"},
         1,
         {{{"found", Json::array()},
           {"parsed", 0},
           {"outcome", "not_found"},
           {"http_status", none}}}},
        {{"detect", "--detect-url", router.Url("/lan"), "--detect-url", detection.Url("/")},
         0,
         {{{"source", detection.Url("/")},
           {"address", "203.0.113.45"},
           {"http_status", 200},
           {"reason", none},
           {"failed", Json::array({{{"source", router.Url("/lan")},
                                    {"address", none},
                                    {"http_status", 200},
                                    {"reason", "no address in the page"}}})}}}},
        {{"detect", "--detect-url", router.Url("/lan")},
         2,
         {{{"source", none},
           {"address", none},
           {"reason",
            "Unable to autodetect your external IP address. Please make sure that you "
            "are connected to the Internet."}}}},
        {{"detect", "--each", "--detect-url", detection.Url("/"), "--detect-url",
          router.Url("/lan")},
         0,
         {{{"source", detection.Url("/")}, {"address", "203.0.113.45"}, {"http_status", 200}},
          {{"source", router.Url("/lan")},
           {"address", none},
           {"reason", "no address in the page"}}}},
    };
    for (const auto& [args, status, lines] : rows) {
        Lines json = args;
        json.emplace_back("--json");
        const ProcessResult run = RunCli(json);
        EXPECT_EQ(run.status, status) << args[0] << ": " << run.err;
        const std::vector<Json> objects = JsonLines(run);
        ASSERT_EQ(objects.size(), lines.size()) << run.out;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            for (const auto& [name, value] : lines[i].items()) {
                EXPECT_EQ(objects[i].value(name, Json("missing")), value)
                    << args[0] << ' ' << name << ": " << run.out;
            }
            // A reading's local time as ISO 8601 gives it: 2026-12-07T14:05:09+01:00.
            if (args[0] == "poll") {
                const std::string time = objects[i].value("time", "");
                EXPECT_TRUE(time.size() == 25 && time[10] == 'T' && time[22] == ':') << time;
            }
        }
    }
}

TEST_F(CliTest, HelpAndVersion) {
    EXPECT_EQ(RunCli({"--version"}).out, "velmo-cli " VELMO_VERSION "\n");
    EXPECT_EQ(RunCli({"-V"}).out, "velmo-cli " VELMO_VERSION "\n");
    // Each command's help gives every exit status it may end with.
    for (const auto& [command, statuses] :
         {std::pair{"spider", Lines{"64 usage", "68 no address", "73 report", "74 output"}},
          std::pair{"probe", Lines{"64 usage", "74 output"}},
          std::pair{"poll", Lines{"64 usage", "68 no address", "74 output"}},
          std::pair{"detect", Lines{"64 usage", "74 output"}},
          std::pair{"gateway", Lines{"64 usage", "74 output"}}}) {
        const ProcessResult help = RunCli({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: velmo-cli ") + command, 0), 0u);
        EXPECT_EQ(RunCli({"help", command}).out, help.out);
        for (const std::string& status : statuses) {
            EXPECT_NE(help.out.find(status), std::string::npos) << command << ": " << status;
        }
    }
    EXPECT_EQ(RunCli({"--help"}).status, 0);
    EXPECT_EQ(RunCli({"help"}).out, RunCli({"--help"}).out);
}

TEST_F(CliTest, PollSendsAPasswordAloneWithTheBlankLogin) {
    router.RequireAuthorization("Basic JTIwOnB3");  // "%20:pw"
    router.Serve("/s", 200, "WAN 203.0.113.9");
    const ProcessResult poll =
        RunCli({"poll", Router(), "/s", "--password-stdin", "--test-interval", "1", "--count", "1"},
               "pw\n");
    EXPECT_TRUE(poll.out.ends_with(" - 203.0.113.9\n")) << poll.out << poll.err;
}

TEST_F(CliTest, CommandsSayWhyNoPageWasRead) {
    // A refused login is named, whether its page shows an address or not, once for spider.
    constexpr const char* kRefusedLogin =
        "the router refused the login (HTTP 401): check --login and the password";
    CLoopbackServer guarded;
    guarded.RequireAuthorization("Basic YWRtaW46czNjcjN0");
    constexpr const char* kFormRefused =
        "the router refused the login (the login page came back): check --login and the password";
    CLoopbackServer form;
    const auto posts = std::make_shared<std::atomic<int>>(0);
    ServeLoginForm(form, posts);
    router.Serve("/slow", CLoopbackServer::Stalling());
    router.Serve("/lan", 200, "LAN 192.168.1.1");
    // Only the stalling page gets a tight limit: the router that answers keeps seconds.
    const std::string stall = "--test-timeouts=10000,100,10000";
    const struct {
        std::vector<std::string> args;
        std::string out;
        std::string why;
        std::string input{};  // the password
    } cases[] = {
        {{"probe", router.Url("/slow"), stall},
         "n/a\n",
         ": timed out (nothing received for 100 ms)"},
        {{"probe", "http://127.0.0.1:1/"}, "n/a\n", "http://127.0.0.1:1/: refused ("},
        {{"probe", "http://127.0.0.1:1/\xe2\x80\xae\x1b[2J"},
         "n/a\n",
         "http://127.0.0.1:1/%E2%80%AE%1B[2J: refused ("},
        {{"probe", router.Url("/lan")}, "n/a\n", ": no address in the page"},
        // An error status is named, whatever the page holds: a wrong path is no page without an
        // address.
        {{"probe", router.Url("/missing")}, "n/a\n", "/missing: HTTP 404\n"},
        {{"poll", Router(), "/missing", "--count", "1"}, " - n/a\n", "/missing: HTTP 404\n"},
        {{"poll", Router(), "/slow", stall, "--test-interval", "1", "--count", "1"},
         " - n/a\n",
         "/slow: timed out (nothing received for 100 ms)"},
        {{"spider", "127.0.0.1:1", "--external-address", "198.51.100.7"},
         "Unable to identify the status page\n",
         "no page could be read from http://127.0.0.1:1/: refused ("},
        {{"probe", router.Url("/lan"), "--exclude", "192.168.1.1", "--allow-reserved"},
         "n/a\n",
         ": only excluded addresses (192.168.1.1)"},
        {{"probe", guarded.Url("/s"), "--login", "admin"}, "n/a\n", kRefusedLogin},
        {{"poll", "127.0.0.1:" + std::to_string(guarded.Port()), "/s", "--count", "1"},
         " - n/a\n",
         kRefusedLogin},
        {{"spider", "127.0.0.1:" + std::to_string(guarded.Port()), "--external-address",
          "198.51.100.7"},
         "Unable to identify the status page\n",
         std::string("velmo-cli: ") + kRefusedLogin + "\n"},
        // A login form that does not let Velmo in: said, and at most two logins sent to it.
        {{"spider", "127.0.0.1:" + std::to_string(form.Port()), "--login", "admin",
          "--password-stdin", "--external-address", "198.51.100.7"},
         "Unable to identify the status page\n",
         std::string("velmo-cli: ") + kFormRefused + "\n",
         "wrong\n"},
        {{"poll", "127.0.0.1:" + std::to_string(form.Port()), "/status.htm", "--login", "admin",
          "--password-stdin", "--test-interval", "1", "--count", "3"},
         " - n/a\n",
         "/status.htm: the router refused the login (no more logins after two refused "
         "in a row, until polling starts again): check --login and the password\n",
         "wrong\n"},
        {{"probe", router.Url("/slow"), "--max-time", "0.2"},
         "n/a\n",
         ": timed out (no whole answer within 200 ms)"},
        {{"probe", router.Url("/lan"), "--verbose"},
         "n/a\n",
         "velmo-cli: GET " + router.Url("/lan") + ": 200, 15 bytes, "},
    };
    for (const auto& [args, out, why, input] : cases) {
        const ProcessResult run = RunCli(args, input);
        EXPECT_TRUE(run.out.ends_with(out)) << args[0] << ": " << run.out;
        EXPECT_NE(run.err.find(why), std::string::npos) << args[0] << ": " << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("deeper search"), std::string::npos) << run.err;  // reason known
    }
    EXPECT_EQ(posts->load(), 1 + 2);  // the spider's one, the poll's two
}

// Through a router's login form: the pages read after it marked, the login said with --verbose,
// and one login for all of polling's readings.
TEST_F(CliTest, SpiderAndPollGoThroughTheRouterLoginForm) {
    for (const bool bGet : {false, true}) {
        SCOPED_TRACE(bGet ? "by GET" : "by POST");
        const auto posts = std::make_shared<std::atomic<int>>(0);
        ServeLoginForm(router, posts, bGet);
        const ProcessResult spider =
            RunCli({"spider", Router(), "--login", "admin", "--password-stdin",
                    "--external-address", "203.0.113.9", "--list-parsed", "--verbose"},
                   "secret\n");
        EXPECT_EQ(spider.status, 0) << spider.err;
        EXPECT_NE(spider.out.find("Parsed: /status.htm (after login)\n"), std::string::npos)
            << spider.out;
        EXPECT_NE(
            spider.err.find("logged in through the router's login form at " + router.Url("/")),
            std::string::npos)
            << spider.err;
        EXPECT_EQ(spider.err.find("secret"), std::string::npos)
            << spider.err;  // the trace hides it
        EXPECT_EQ(posts->load(), 1);
        const ProcessResult poll =
            RunCli({"poll", Router(), "/status.htm", "--login", "admin", "--password-stdin",
                    "--test-interval", "1", "--count", "3"},
                   "secret\n");
        EXPECT_EQ(poll.Lines().size(), 3u) << poll.err;
        for (const std::string& line : poll.Lines()) {
            EXPECT_TRUE(line.ends_with(" - 203.0.113.9")) << line;
        }
        EXPECT_EQ(posts->load(), 2);
    }
}

TEST_F(CliTest, RouterTextCannotForgeLinesOrDriveTheTerminal) {
    const std::string links =
        "<a href=\"/x\nDetected IP address: 6.6.6.6\"> <a href=\"/t\x1b]0;owned\x07\">"
        " <a href=\"/c\x1b[2J\x7f\"> <a href=\"/u\xc2\x9b"
        "2J\x9b\xe2\x80\xaegpj.exe\">";
    router.Serve("/", 200, links);
    router.ServeOthers([](const std::string&) {
        CLoopbackServer::Page page;
        page.body = "WAN 203.0.113.45";
        return page;
    });
    const ProcessResult run =
        RunCli({"spider", Router(), "--external-address", "203.0.113.45", "--list-parsed"});
    // The loopback server refuses the line break in the request target, so that page is not read.
    // C1 controls (U+009B, raw 0x9B) and a right-to-left override are escaped as C0 ones are.
    const Lines expected = {"Detected IP address: 203.0.113.45",
                            "Found: /t%1B]0;owned%07",
                            "Found: /c%1B[2J%7F",
                            "Found: /u%C2%9B2J%9B%E2%80%AEgpj.exe",
                            "Parsed pages: 4",
                            "Parsed: /x%0ADetected IP address: 6.6.6.6",
                            "Parsed: /t%1B]0;owned%07",
                            "Parsed: /c%1B[2J%7F",
                            "Parsed: /u%C2%9B2J%9B%E2%80%AEgpj.exe",
                            "A status page was identified. Please select a path and click the "
                            "Polling tab."};
    EXPECT_EQ(run.Lines(), expected);

    // In the machine form each is the JSON string it is, in ASCII: quotes, backslashes and
    // controls escaped as JSON escapes them, a byte that is not UTF-8 as U+FFFD.
    router.Serve("/", 200, links + " <a href='/q\"\\b'>");
    const ProcessResult json = RunCli(
        {"spider", Router(), "--external-address", "203.0.113.45", "--list-parsed", "--json"});
    const std::vector<Json> objects = JsonLines(json);
    ASSERT_EQ(objects.size(), 1u) << json.out;
    Lines paths;
    for (const Json& page : objects[0].value("pages", Json::array())) {
        paths.push_back(page.value("path", ""));
    }
    EXPECT_EQ(paths,
              (Lines{"/x\nDetected IP address: 6.6.6.6", "/t\x1b]0;owned\x07", "/c\x1b[2J\x7f",
                     "/u\xc2\x9b"
                     "2J\xef\xbf\xbd\xe2\x80\xaegpj.exe",
                     "/q\"\\b"}));
    EXPECT_EQ(objects[0].value("found", Json()), Json(Lines(paths.begin() + 1, paths.end())));
}

// A stop request abandons what is in flight: detection and transfers end at once, not when the
// server gives up (the default limits are 10 s here), and nothing of the stop is lost.
TEST_F(CliTest, InterruptEndsEveryCommandAtOnce) {
    detection.Serve("/slow", CLoopbackServer::Stalling());
    router.Serve("/", 200, "<a href=slow> <a href=after>");  // nothing is requested after a stop
    router.Serve("/slow", CLoopbackServer::Stalling());
    CLoopbackServer scripted;  // a script only deep discovery reads
    scripted.Serve("/", 200, "<script src=slow></script>");
    scripted.Serve("/slow", CLoopbackServer::Stalling());
    const struct {
        const char* name;
        std::vector<std::string> args;
        const CLoopbackServer& stalled;
        Lines out;
    } cases[] = {
        {"spider detecting",
         {"spider", Router(), "--detect-url", detection.Url("/slow")},
         detection,
         {"Parsed pages: 0", "The test was cancelled"}},
        {"spider crawling",
         {"spider", Router(), "--external-address", "203.0.113.45", "--list-parsed"},
         router,
         {"Detected IP address: 203.0.113.45", "Parsed pages: 1", "Parsed: /slow",
          "The test was cancelled"}},
        {"spider deep",
         {"spider", "127.0.0.1:" + std::to_string(scripted.Port()), "--external-address",
          "203.0.113.45", "--deep"},
         scripted,
         {"Detected IP address: 203.0.113.45", "Parsed pages: 1", "The test was cancelled"}},
        {"detect", {"detect", "--detect-url", detection.Url("/slow")}, detection, {}},
        {"detect --each",
         {"detect", "--each", "--detect-url", detection.Url("/slow")},
         detection,
         {}},
        // A read cut short prints no line.
        {"probe", {"probe", router.Url("/slow")}, router, {}},
        {"poll", {"poll", Router(), "/slow", "--test-interval", "1"}, router, {}},
    };
    for (const auto& c : cases) {
        std::chrono::steady_clock::time_point stopped;
        const ProcessResult run =
            RunCli(c.args, {}, [&, asked = c.stalled.Requests().size()](pid_t pid) {
                EXPECT_TRUE(WaitUntil([&] {
                    const Lines requests = c.stalled.RequestedTargets();
                    return requests.size() > asked && requests.back() == "/slow";
                })) << c.name
                    << ": the stalling page was not asked for";
                kill(pid, SIGINT);
                stopped = std::chrono::steady_clock::now();
            });
        // At once: the stall limit of 10 s would end it only much later.
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5)) << c.name;
        EXPECT_EQ(run.status, 3) << c.name;
        EXPECT_EQ(run.Lines(), c.out) << c.name;
    }
}

// A stop at the password prompt: the command ends before any connection is made.
TEST_F(CliTest, InterruptAtThePasswordPromptRequestsNothing) {
    router.Serve("/s", 200, "WAN 203.0.113.9");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"spider", Router(), "--detect-url", detection.Url("/")}, "The test was cancelled\n"},
        {{"probe", router.Url("/s")}, ""},
        {{"poll", Router(), "/s", "--test-interval", "1"}, ""},
    };
    for (const auto& [args, out] : cases) {
        std::vector<std::string> prompted = args;
        prompted.emplace_back("--password-stdin");
        const ProcessResult run = RunCli(
            prompted, {},
            [](pid_t pid) {
                EXPECT_TRUE(WaitUntil([&] { return CatchesInterrupt(pid); })) << "no handler";
                kill(pid, SIGINT);
            },
            true);
        EXPECT_EQ(run.status, 3) << args[0];
        EXPECT_EQ(run.out, out) << args[0];
    }
    EXPECT_TRUE(detection.Requests().empty());
    EXPECT_TRUE(router.Requests().empty());
}

// Under nohup, or as a script's background job, a signal ignored at the start stays ignored.
TEST_F(CliTest, SignalsIgnoredAtTheStartStayIgnored) {
    router.Serve("/s", 200, "WAN 203.0.113.9");
    for (const int ignored : {SIGHUP, SIGINT}) {
        const int other = ignored == SIGINT ? SIGTERM : SIGINT;
        struct sigaction ignore = {}, before = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(ignored, &ignore, &before);
        const ProcessResult run =
            RunCli({"poll", Router(), "/s", "--test-interval", "1"}, {},
                   [&, asked = router.Requests().size()](pid_t pid) {
                       EXPECT_TRUE(WaitUntil([&] { return router.Requests().size() > asked; }));
                       kill(pid, ignored);  // dropped as it is sent
                       kill(pid, other);
                   });
        sigaction(ignored, &before, nullptr);
        EXPECT_EQ(run.status, 3) << strsignal(ignored);
    }
}

TEST_F(CliTest, PollWaitsAWholeIntervalAfterASlowRead) {
    CLoopbackServer::Page slow;
    slow.body = "WAN 203.0.113.9";
    slow.delay = std::chrono::milliseconds(300);
    struct Asked {
        std::mutex mutex;
        std::vector<std::chrono::steady_clock::time_point> times;
    };
    const auto record = std::make_shared<Asked>();
    router.ServeOthers([slow, record](const std::string&) {
        const std::lock_guard lock(record->mutex);
        record->times.push_back(std::chrono::steady_clock::now());
        return slow;
    });
    const ProcessResult poll =
        RunCli({"poll", Router(), "/s", "--test-interval", "200", "--count", "2"});
    EXPECT_EQ(poll.Lines().size(), 2u) << poll.err;
    const std::lock_guard lock(record->mutex);
    const auto& asked = record->times;
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GE(asked[1] - asked[0], std::chrono::milliseconds(300 + 200))
        << "the second read did not wait an interval after the first ended";
}

TEST_F(CliTest, PasswordInputIsBounded) {
    const struct {
        std::string input;
        std::string why;
    } refused[] = {
        {std::string("pass\0word\n", 10), "NUL"},
        {std::string(4097, 'p'), "longer than 4096 bytes"},
        {std::string(5000, 'p') + "\n", "longer than 4096 bytes"},
        {std::string(4096, 'p') + "\rp\n", "longer than 4096 bytes"},  // a CR inside is kept
    };
    for (const auto& [input, why] : refused) {
        const ProcessResult probe =
            RunCli({"probe", router.Url("/s"), "--login", "admin", "--password-stdin"}, input);
        EXPECT_EQ(probe.status, 64);
        EXPECT_EQ(probe.out, "");
        EXPECT_NE(probe.err.find(why), std::string::npos) << probe.err;
    }
    EXPECT_TRUE(router.Requests().empty());
    const std::string longest(4096, 'p');
    router.Serve("/s", 200, "WAN 203.0.113.9");
    std::string header = BuildAuthorizationHeader("admin", longest);  // "Authorization: X\r\n\r\n"
    router.RequireAuthorization(header.substr(15, header.size() - 19));
    // A CR before the LF is the line end, not the password's, at the limit too.
    for (const char* end : {"\n", "\r\n"}) {
        EXPECT_EQ(RunCli({"probe", router.Url("/s"), "--login", "admin", "--password-stdin"},
                         longest + end)
                      .out,
                  "203.0.113.9\n");
    }
}

TEST_F(CliTest, UserListReplacesTheBuiltInServers) {
    std::filesystem::create_directories(folder / "config/velmo");
    WriteFile(folder / "config/velmo/servers", "ftp://skipped/\n" + detection.Url("/") + "\n");
    const ProcessResult detect = RunCli({"detect"});
    EXPECT_EQ(detect.status, 0);
    EXPECT_EQ(detect.out, "203.0.113.45\n");
    EXPECT_NE(detect.err.find("skipped detection server \"ftp://skipped/\""), std::string::npos)
        << detect.err;
    const ProcessResult quiet = RunCli({"detect", "--quiet"});
    EXPECT_EQ(quiet.out, "203.0.113.45\n");
    EXPECT_EQ(quiet.err, "");

    CLoopbackServer other;
    other.Serve("/", 200, "198.51.100.2");
    EXPECT_EQ(RunCli({"detect", "--detect-url", other.Url("/")}).out, "198.51.100.2\n");
    EXPECT_EQ(detection.Requests().size(), 2u);

    // A list with nothing usable in it ends the run before anything is asked.
    WriteFile(folder / "config/velmo/servers", detection.Url("/") + "#mine\n");
    const ProcessResult spider = RunCli({"spider", Router(), "--password-stdin"}, "s3cr3t\n");
    EXPECT_EQ(spider.status, 64);
    EXPECT_EQ(spider.out, "");
    EXPECT_NE(spider.err.find((folder / "config/velmo/servers").string() +
                              ": no usable detection server in it; correct it, or remove it"),
              std::string::npos)
        << spider.err;
    EXPECT_EQ(detection.Requests().size(), 2u);
    EXPECT_TRUE(router.Requests().empty());
}

TEST_F(CliTest, DetectEachAsksEveryServerOnceInOrder) {
    router.Serve("/slow", CLoopbackServer::Stalling());
    router.Serve("/none", 200, "no address here");
    const std::pair<std::string, std::string> servers[] = {
        {detection.Url("/"), "203.0.113.45"}, {"http://127.0.0.1:1/", "refused ("},
        {router.Url("/slow"), "timed out ("}, {router.Url("/none"), "no address in the page"},
        {router.Url("/missing"), "HTTP 404"},
    };
    // One limit for all four: seconds, so that the willing servers answer within it, whatever
    // the machine's load, and the stalling one gives up after two.
    std::vector<std::string> args = {"detect", "--each", "--test-timeouts=10000,2000,10000"};
    for (const auto& [url, answer] : servers) {
        args.insert(args.end(), {"--detect-url", url});
    }
    const ProcessResult each = RunCli(args);
    EXPECT_EQ(each.status, 0);
    const Lines lines = each.Lines();
    ASSERT_EQ(lines.size(), std::size(servers)) << each.out;
    for (std::size_t i = 0; i < std::size(servers); ++i) {
        const std::string& line = lines[i];
        EXPECT_EQ(line.rfind(servers[i].first + '\t' + servers[i].second, 0), 0u) << line;
        const std::string took = line.substr(line.rfind('\t') + 1);
        EXPECT_TRUE(took.ends_with(" ms") && std::isdigit(took.front())) << line;
    }
    EXPECT_EQ(RunCli({"detect", "--each", "--detect-url", router.Url("/none")}).status, 2);
}

TEST_F(CliTest, OnChangeRunsForTheNewestAddress) {
    // 3325256705 is 198.51.100.1 and 0306.51.100.3 is 198.51.100.3, as the probe judges them.
    const Lines bodies = {"WAN 198.51.100.1", "no address",        "WAN 3325256705",
                          "WAN 198.51.100.2", "WAN 0306.51.100.3", "WAN 198.51.100.3",
                          "WAN 198.51.100.3"};
    const std::filesystem::path gate = folder / "gate", changes = folder / "changes";
    const auto bStartedWhilePolling = std::make_shared<std::atomic<bool>>(false);
    // The router lives past this test's locals: the handler holds its own.
    router.ServeOthers([bodies, gate, changes, bStartedWhilePolling,
                        reads = std::make_shared<std::atomic<std::size_t>>(0)](const std::string&) {
        const std::size_t read = (*reads)++;
        if (read == 4) {
            WriteFile(gate, "");
        } else if (read + 1 == bodies.size()) {
            *bStartedWhilePolling = WaitUntil(
                [&] {
                    const std::string text = ReadFile(changes);
                    return std::count(text.begin(), text.end(), '\n') == 2;
                },
                std::chrono::seconds(10));
        }
        CLoopbackServer::Page page;
        page.body = bodies[std::min(read, bodies.size() - 1)];
        return page;
    });
    // The first command runs until the fifth read has been served: the changes read meanwhile
    // wait, and only the newest runs, as soon as the first has ended. No command sees the password
    // or the rest of standard input.
    const std::string command =
        "exec >/dev/null 2>&1; [ -n \"$VELMO_PREVIOUS_ADDRESS\" ] || for i in $(seq 3000); do [ -e "
        "'" +
        gate.string() +
        "' ] && break; sleep 0.01; done; echo \"$VELMO_PREVIOUS_ADDRESS>$VELMO_ADDRESS "
        "$(env | grep -c s3cr3t) $(wc -c)\" >> '" +
        changes.string() + "'; [ \"$VELMO_ADDRESS\" != 198.51.100.3 ] || exit 7";
    const ProcessResult poll =
        RunCli({"poll", Router(), "/s", "--password-stdin", "--test-interval", "50", "--count", "7",
                "--on-change", command},
               "s3cr3t\n" + std::string(8000, 'x') + "\n");
    EXPECT_EQ(poll.status, 0) << poll.err;
    EXPECT_EQ(ReadFile(changes), ">198.51.100.1 0 0\n198.51.100.1>198.51.100.3 0 0\n");
    EXPECT_TRUE(*bStartedWhilePolling) << "the change that waited started only after polling";
    EXPECT_NE(poll.err.find("--on-change command exited with status 7"), std::string::npos)
        << poll.err;
    const Lines lines = poll.Lines();
    ASSERT_EQ(lines.size(), bodies.size()) << poll.out;
    EXPECT_TRUE(lines[2].ends_with(" - 3325256705")) << lines[2];
    EXPECT_TRUE(lines[4].ends_with(" - 0306.51.100.3")) << lines[4];
}

// A command that never ends, or ignores SIGTERM, holds up neither polling nor the end: reads go
// on, and a stop to velmo-cli alone, or the end of --count, ends the command's whole process group
// within the 2 s grace; a second stop, which ends velmo-cli at once, ends the group with it.
TEST_F(CliTest, OnChangeCommandNeverHoldsPollingUp) {
    router.ServeOthers([reads = std::make_shared<std::atomic<std::size_t>>(0)](const std::string&) {
        CLoopbackServer::Page page;
        page.body = (*reads)++ % 2 == 0 ? "WAN 198.51.100.1" : "WAN 198.51.100.2";
        return page;
    });
    const std::filesystem::path started = folder / "started";
    // Each command notes its shell's and its child's process ids, and leaves this test's pipes.
    const std::string endless = "exec >/dev/null 2>&1; sleep 1000 & echo $$ $! >> '{}'; wait";
    const std::string deaf = "trap '' TERM; " + endless;
    const struct {
        const char* name;
        std::string command;
        int signal;      // 0: --count ends it
        int second = 0;  // sent right after `signal`
    } cases[] = {
        {"endless, SIGINT", endless, SIGINT}, {"endless, SIGTERM", endless, SIGTERM},
        {"deaf, SIGINT", deaf, SIGINT},       {"deaf, SIGTERM", deaf, SIGTERM},
        {"deaf, --count", deaf, 0},           {"deaf, SIGINT then SIGTERM", deaf, SIGINT, SIGTERM},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(started);
        std::string command = c.command;
        command.replace(command.find("{}"), 2, started.string());
        std::vector<std::string> args = {"poll", Router(),      "/s",   "--test-interval",
                                         "1",    "--on-change", command};
        if (c.signal == 0) {
            args.insert(args.end(), {"--count", "8"});
        }
        std::chrono::steady_clock::time_point stopped;
        const ProcessResult poll =
            RunCli(args, {}, [&, asked = router.Requests().size()](pid_t pid) {
                EXPECT_TRUE(WaitUntil([&] { return router.Requests().size() >= asked + 8; }))
                    << c.name << ": polling stopped while the command ran";
                if (c.signal != 0) {
                    kill(pid, c.signal);
                }
                if (c.second != 0) {
                    kill(pid, c.second);
                }
                stopped = std::chrono::steady_clock::now();
            });
        // The grace and some room for a loaded machine: a command kept waiting for runs 1000 s.
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5)) << c.name;
        EXPECT_EQ(poll.status, c.second != 0 ? 130 : c.signal == 0 ? 0 : 3) << c.name;
        // One command ran: the changes read meanwhile waited, and none started after the stop.
        std::istringstream noted(ReadFile(started));
        std::vector<pid_t> pids;
        for (pid_t pid = 0; noted >> pid;) {
            pids.push_back(pid);
        }
        EXPECT_EQ(pids.size(), 2u) << c.name;
        for (const pid_t pid : pids) {
            EXPECT_TRUE(WaitUntil([&] { return HasEnded(pid); }, std::chrono::seconds(5)))
                << c.name << ": the command's group outlived velmo-cli";
            if (!HasEnded(pid)) {
                kill(pid, SIGKILL);
            }
        }
    }
}

TEST_F(CliTest, PasswordFileMustBeAPrivateRegularFile) {
    router.RequireAuthorization("Basic YWRtaW46czNjcjN0");  // admin:s3cr3t
    router.Serve("/s", 200, "WAN 203.0.113.9");
    const std::filesystem::path file = folder / "password", fifo = folder / "fifo";
    WriteFile(file, "s3cr3t\nnot the password\n");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> probe = {"probe", router.Url("/s"), "--login", "admin"};
    const auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = probe;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    EXPECT_EQ(RunCli(with({"--password-file", file})).out, "203.0.113.9\n");

    for (const std::vector<std::string>& refused : {
             with({"--password-file", fifo}),
             with({"--password-file", folder}),
             with({"--password-file", folder / "missing"}),
             with({"--password-file", file, "--password-stdin"}),
         }) {
        const ProcessResult run = RunCli(refused, "s3cr3t\n");
        EXPECT_EQ(run.status, 64) << refused[5];
        EXPECT_EQ(run.out, "");
    }
    const struct {
        mode_t mode;
        uid_t owner;
        std::string why;
    } shared[] = {
        {0640, geteuid(), "can be read by others"},
        {0604, geteuid(), "can be read by others"},
        {0620, geteuid(), "can be changed by others"},
        {0602, geteuid(), "can be changed by others"},
        {0600, 65534, "belongs to another user"},  // only root can give a file away
    };
    for (const auto& [mode, owner, why] : shared) {
        if (owner != geteuid() && (geteuid() != 0 || chown(file.c_str(), owner, owner) != 0)) {
            continue;
        }
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        const ProcessResult run = RunCli(with({"--password-file", file}));
        EXPECT_EQ(run.status, 64);
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
    }
    EXPECT_EQ(router.Requests().size(), 1u);
}

// What a program run with a terminal as standard input and standard error showed, and how it left
// the terminal.
struct TerminalRun {
    int status = -1;
    std::string screen;  // what the terminal received: the prompt, and any echo
    std::string out;
    bool bEchoAfter = false;  // the terminal echoes again once the program has ended
};

// Runs `args` on a new pseudo-terminal of its own (its controlling terminal, so that Ctrl-C there
// is SIGINT to it), waits for `prompt` on the terminal and then types `typed`; with nothing to
// type it is stopped twice at once instead (both signals wait while it is suspended).
TerminalRun RunAtTerminal(std::vector<std::string> args,
                          const std::vector<std::string>& environment, const std::string& prompt,
                          const std::string& typed) {
    TerminalRun run;
    int master = -1, terminal = -1;
    std::array<int, 2> out{};
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0 || pipe(out.data()) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        ioctl(terminal, TIOCSCTTY, 0);
        dup2(terminal, 0);
        dup2(out[1], 1);
        dup2(terminal, 2);
        for (const int fd : {master, terminal, out[0], out[1]}) {
            close(fd);
        }
        ExecProgram(args, environment);
    }
    close(out[1]);
    fcntl(master, F_SETFL, O_NONBLOCK);
    const auto readScreen = [&] {
        char buffer[256];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
            run.screen.append(buffer, static_cast<std::size_t>(n));
        }
        return run.screen.find(prompt) != std::string::npos;
    };
    EXPECT_TRUE(WaitUntil(readScreen)) << "no prompt: " << run.screen;
    if (typed.empty()) {
        for (const int signal : {SIGSTOP, SIGINT, SIGTERM, SIGCONT}) {
            kill(pid, signal);
        }
    }
    EXPECT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    int status = 0;
    EXPECT_TRUE(WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }))
        << "still running: " << run.screen;
    readScreen();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    termios after{};
    run.bEchoAfter = tcgetattr(terminal, &after) == 0 && (after.c_lflag & ECHO) != 0;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        run.out.append(buffer, static_cast<std::size_t>(n));
    }
    for (const int fd : {master, terminal, out[0]}) {
        close(fd);
    }
    return run;
}

// At a terminal the password is asked for and not shown; Ctrl-C at the prompt ends the command
// at once, and so does a second stop. Each way the terminal echoes again afterwards.
TEST_F(CliTest, PasswordPromptAtATerminalDoesNotEcho) {
    router.RequireAuthorization("Basic YWRtaW46czNjcjN0");  // admin:s3cr3t
    router.Serve("/s", 200, "WAN 203.0.113.9");
    const std::string prompt = "Password for admin@127.0.0.1: ";
    const struct {
        std::string typed;
        int status;
        std::string out;
    } cases[] = {
        {"s3cr3t\r", 0, "203.0.113.9\n"},
        {"s3c\x03", 3, ""},
        {"", 130, ""},
    };
    for (const auto& [typed, status, out] : cases) {
        const TerminalRun run = RunAtTerminal(
            {VELMO_CLI, "probe", router.Url("/s"), "--login", "admin", "--password-stdin"},
            Environment(), prompt, typed);
        EXPECT_EQ(run.status, status) << run.screen;
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.screen.find("s3c"), std::string::npos) << "echoed: " << run.screen;
        EXPECT_TRUE(run.bEchoAfter) << "the terminal was left without echo";
    }
    EXPECT_EQ(router.Requests().size(), 1u);
}

// Progress rewrites its line on a terminal that takes control sequences, and only there; --quiet
// shows none.
TEST_F(CliTest, ProgressOnlyOnATerminalThatTakesIt) {
    router.Serve("/", 200, "<a href=a.htm>");
    router.Serve("/a.htm", 200, "WAN 203.0.113.45");
    const struct {
        std::string term;
        std::vector<std::string> more;
        bool bProgress;
    } rows[] = {
        {"TERM=xterm", {}, true},
        {"TERM=dumb", {}, false},
        {"TERM=", {}, false},
        {"TERM=xterm", {"-q"}, false},
    };
    for (const auto& [term, more, bProgress] : rows) {
        std::vector<std::string> args = {
            VELMO_CLI,     "spider", Router(), "--password-stdin", "--external-address",
            "203.0.113.45"};
        args.insert(args.end(), more.begin(), more.end());
        std::vector<std::string> environment = Environment();
        environment.push_back(term);
        const TerminalRun run =
            RunAtTerminal(args, environment, "Password for 127.0.0.1: ", "pw\r");
        EXPECT_EQ(run.status, 0) << term << run.screen;
        EXPECT_EQ(run.screen.find("\x1b[KParsed pages: 1  reading /a.htm") != std::string::npos,
                  bProgress)
            << term << ": " << run.screen;
        EXPECT_EQ(run.screen.find('\x1b') != std::string::npos, bProgress) << term;
    }
}

// --state keeps the last address across runs: a restart that reads it again is no change.
TEST_F(CliTest, PollStateKeepsTheLastAddressAcrossRuns) {
    const std::filesystem::path state = folder / "home.last", changes = folder / "changes";
    const std::string command =
        "echo \"$VELMO_PREVIOUS_ADDRESS>$VELMO_ADDRESS\" >> '" + changes.string() + "'";
    const auto poll = [&](const std::string& page) {
        router.Serve("/s", 200, page);
        const ProcessResult run = RunCli({"poll", Router(), "/s", "--count", "1", "--state",
                                          state.string(), "--on-change", command});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    };
    poll("WAN 198.51.100.1");
    poll("WAN 198.51.100.1");
    EXPECT_EQ(ReadFile(state), "198.51.100.1\n");
    poll("WAN 0306.51.100.2");  // kept as it was judged: 198.51.100.2
    EXPECT_EQ(ReadFile(changes), ">198.51.100.1\n198.51.100.1>198.51.100.2\n");
    EXPECT_EQ(ReadFile(state), "198.51.100.2\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3)
        << "a temporary file was left behind";
}

// With the journal as its output a line carries its priority: a change <5>, a warning <4>, an
// error <3>; an --on-change failure is said as soon as the command ends, before the next reading.
// --quiet leaves only the changes and the errors.
TEST_F(CliTest, LinesForTheJournalCarryTheirPriority) {
    router.ServeOthers([reads = std::make_shared<std::atomic<int>>(0)](const std::string&) {
        CLoopbackServer::Page page;
        page.body = (*reads)++ % 3 == 2 ? "no address" : "WAN 198.51.100.1";
        return page;
    });
    const std::filesystem::path state = folder / "home.last";
    const auto poll = [&](const std::vector<std::string>& more, bool bJournal) {
        WriteFile(state, "garbage");
        std::vector<std::string> args = {"/bin/sh",
                                         "-c",
                                         bJournal ? "exec 2>&1; JOURNAL_STREAM=$(stat -L -c %d:%i "
                                                    "/proc/self/fd/2) exec \"$0\" \"$@\""
                                                  : "exec 2>&1; exec \"$0\" \"$@\"",
                                         VELMO_CLI,
                                         "poll",
                                         Router(),
                                         "/s",
                                         "--count",
                                         "3",
                                         "--test-interval",
                                         "1000",
                                         "--state",
                                         state.string(),
                                         "--on-change",
                                         "exit 7"};
        args.insert(args.end(), more.begin(), more.end());
        return RunProgram(args, {}, {}, Environment(), false, std::chrono::seconds(60)).Lines();
    };
    const std::string failed = "velmo-cli: the --on-change command exited with status 7";
    const std::string noAddress = "velmo-cli: " + router.Url("/s") + ": no address in the page";
    const Lines journal = poll({}, true);
    ASSERT_EQ(journal.size(), 6u) << testing::PrintToString(journal);
    EXPECT_EQ(journal[0].rfind("<4>velmo-cli: the state file ", 0), 0u) << journal[0];
    EXPECT_TRUE(journal[1].starts_with("<5>") && journal[1].ends_with(" - 198.51.100.1"));
    EXPECT_EQ(journal[2], "<3>" + failed);
    EXPECT_TRUE(journal[3].ends_with(" - 198.51.100.1") && journal[3].front() != '<');
    EXPECT_TRUE(journal[4].ends_with(" - n/a") && journal[4].front() != '<');
    EXPECT_EQ(journal[5], "<3>" + noAddress);

    const Lines quiet = poll({"--quiet"}, false);
    ASSERT_EQ(quiet.size(), 3u) << testing::PrintToString(quiet);
    EXPECT_TRUE(quiet[0].ends_with(" - 198.51.100.1"));
    EXPECT_EQ(quiet[1], failed);
    EXPECT_EQ(quiet[2], noAddress);
}

// An https router is trusted by its key on first use, as the user says: each row one command, what
// it ends with, what standard error says, and whether it reached the router at all. Nothing is
// sent while the key is not trusted, and a changed key is never trusted, whatever the options.
TEST_F(CliTest, HttpsRouterIsTrustedByItsKeyOnFirstUse) {
    CTlsRouter tls;
    tls.Serve("/index.html",
              "<a href=\"status.htm\">s</a> <a href=\"" + tls.Url("/lan.htm") + "\">l</a>");
    tls.Serve("/status.htm", "WAN 203.0.113.45");
    tls.Serve("/lan.htm", "LAN 192.168.1.1");
    const std::string https = "https://127.0.0.1:" + std::to_string(tls.Port());
    const std::string first = tls.Pin();
    const std::string file = (folder / "config" / "velmo" / "known-routers").string();
    const std::vector<std::string> spider = {
        "spider",      https, "--login", "admin", "--password-stdin", "--external-address",
        "203.0.113.45"};
    const auto with = [](std::vector<std::string> args, std::vector<std::string> more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool bChangeKeyFirst;
        int status;
        std::vector<std::string> err;  // each said on standard error
        bool bReached;
    } rows[] = {
        {"a key not known",
         spider,
         false,
         4,
         {"shows a certificate key that is not trusted yet: nothing was sent",
          "fingerprint: " + first, "subject:     CN = router1.test", "--trust-new-certificate"},
         false},
        {"trusted and remembered",
         with(spider, {"--trust-new-certificate"}),
         false,
         0,
         {"trusted the key " + first + " of " + https + " and remembered it in " + file},
         true},
        {"known", spider, false, 0, {}, true},
        // A list that cannot be read may remember another key: none is trusted.
        {"the list unreadable",
         spider,
         false,
         4,
         {"remembered:  unknown: the known-routers file cannot be read"},
         false},
        {"the list unreadable, new keys trusted",
         with(spider, {"--trust-new-certificate"}),
         false,
         4,
         {"remembered:  unknown: the known-routers file cannot be read"},
         false},
        {"the plain port's redirect",
         with(spider, {"--list-parsed", "--report", (folder / "report.htm").string()}),
         false,
         0,
         {},
         true},
        {"a changed key",
         with(spider, {"--trust-new-certificate"}),
         true,
         4,
         {"THE KEY OF THE ROUTER AT " + https + " HAS CHANGED", "remembered:  " + first,
          "velmo-cli trust --forget " + https},
         false},
        {"polled with the changed key",
         {"poll", https, "/status.htm", "--count", "2"},
         false,
         4,
         {"HAS CHANGED"},
         false},
        {"forgotten",
         {"trust", "--forget", https},
         false,
         0,
         {"forgot the key of " + https},
         false},
        {"the new key trusted",
         with(spider, {"--trust-new-certificate"}),
         false,
         0,
         {"trusted the key"},
         true},
        {"polled",
         {"poll", https + "/", "/status.htm", "--login", "admin", "--password-stdin", "--count",
          "2", "--test-interval", "1"},
         false,
         0,
         {},
         true},
        {"polled through the plain port",
         {"poll", https, "/status.htm", "--login", "admin", "--password-stdin", "--count", "2",
          "--test-interval", "1"},
         false,
         0,
         {},
         true},
    };
    for (const auto& row : rows) {
        if (row.bChangeKeyFirst) {
            tls.ChangeKey();
        }
        std::vector<std::string> args = row.args;
        if (std::string(row.what).find("plain port") != std::string::npos) {
            args[1] = "http://127.0.0.1:" + std::to_string(tls.PlainPort());
        }
        const bool bUnreadable = std::string(row.what).starts_with("the list unreadable");
        if (bUnreadable) {
            std::filesystem::rename(file, file + ".kept");
            std::filesystem::create_directory(file);
        }
        const std::size_t before = tls.Requests().size();
        const ProcessResult run = RunCli(args, "secret\n");
        if (bUnreadable) {
            std::filesystem::remove(file);
            std::filesystem::rename(file + ".kept", file);
        }
        EXPECT_EQ(run.status, row.status) << row.what << ": " << run.err;
        for (const std::string& said : row.err) {
            EXPECT_NE(run.err.find(said), std::string::npos) << row.what << ": " << run.err;
        }
        EXPECT_EQ(tls.Requests().size() > before, row.bReached) << row.what;
        if (row.status == 0 && args[0] == "spider") {
            EXPECT_NE(run.out.find("Found: /status.htm\n"), std::string::npos) << row.what;
        }
        if (row.status == 0 && args[0] == "poll") {
            EXPECT_TRUE(run.out.ends_with(" - 203.0.113.45\n")) << run.out << run.err;
            EXPECT_EQ(run.Lines().size(), 2u);
        }
        if (args[0] == "spider" && args[1].starts_with("http:")) {
            EXPECT_NE(run.out.find("Router: " + https + "/ (redirected from " + args[1] + "/)\n"),
                      std::string::npos)
                << run.out;
            EXPECT_NE(run.out.find("Parsed: /lan.htm\n"), std::string::npos) << run.out;
            EXPECT_NE(ReadFile(folder / "report.htm")
                          .find("<p>Read over https from " + https + "/ (redirected from " +
                                args[1] + "/)</p>"),
                      std::string::npos);
        }
    }
    // --json names the scheme the pages were read by, and a refused key as the outcome.
    const std::vector<Json> found = JsonLines(RunCli(with(spider, {"--json"}), "secret\n"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["router"], https + "/");
    EXPECT_EQ(found[0]["scheme"], "https");
    EXPECT_EQ(found[0]["outcome"], "found");
    const std::string trusted = tls.Pin();
    tls.ChangeKey();
    const std::vector<Json> refused = JsonLines(RunCli(with(spider, {"--json"}), "secret\n"));
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["outcome"], "key_changed");
    EXPECT_EQ(refused[0]["key"], tls.Pin());
    // The file holds the router's line and its key alone; never a password.
    EXPECT_EQ(ReadFile(file), "127.0.0.1:" + std::to_string(tls.Port()) + " " + trusted + "\n");
    EXPECT_EQ(RunCli({"trust"}).Lines(),
              (Lines{"Known routers: " + file,
                     "https://127.0.0.1:" + std::to_string(tls.Port()) + " " + trusted}));
}

// A proxy in the environment never sees a request for the router, so never its password; the
// detection servers still go through it.
TEST_F(CliTest, RouterIsNeverReachedThroughAProxy) {
    CLoopbackServer proxy;
    proxy.ServeOthers([](const std::string&) {
        CLoopbackServer::Page page;
        page.body = "Current IP Address: 203.0.113.45";
        return page;
    });
    router.Serve("/", 200, "WAN 203.0.113.45");
    const std::vector<std::string> throughProxy = {"http_proxy=" + proxy.Url(""),
                                                   "no_proxy=", "NO_PROXY="};
    const std::vector<std::vector<std::string>> commands = {
        {"spider", Router(), "--detect-url", "http://127.0.0.2:9/"},
        {"probe", router.Url("/"), "--login", "admin"},
        {"poll", Router(), "/", "--count", "1"},
        {"detect", "--detect-url", "http://127.0.0.2:9/"},
    };
    for (const std::vector<std::string>& args : commands) {
        const ProcessResult run = RunCli(args, {}, {}, false, throughProxy);
        EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
    }
    EXPECT_EQ(router.RequestedTargets(), (Lines{"/", "/", "/"}));
    EXPECT_EQ(proxy.RequestedTargets(), (Lines{"http://127.0.0.2:9/", "http://127.0.0.2:9/"}));
}

}  // namespace

// The user's service a process is in, as its cgroup path tells: only a service of a user manager.
TEST(JournalTest, UserServiceOfCgroup) {
    const std::pair<const char*, const char*> rows[] = {
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/velmo-poll@home.service",
         "velmo-poll@home.service"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/app-velmo\\x2dpoll.slice/"
         "velmo-poll@home.service/child",
         "velmo-poll@home.service"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/app-term-1.scope", nullptr},
        {"/user.slice/user-1000.slice/session-2.scope", nullptr},
        {"/system.slice/velmo.service", nullptr},
        {"/", nullptr},
    };
    for (const auto& [cgroup, unit] : rows) {
        EXPECT_EQ(UserUnitOfCgroup(cgroup), unit ? std::optional<std::string>(unit) : std::nullopt)
            << cgroup;
    }
}
