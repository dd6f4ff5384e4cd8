// velmo-cli against a router that breaks HTTP on purpose: whatever it does, each run must end
// within the injected limits, in bounded memory, with the exit status, output and reason of its
// kind.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "support/HostileRouter.h"
#include "support/Process.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;
using Hostile = CHostileRouter;
using Lines = std::vector<std::string>;

// A row whose misbehaviour a time limit must end gets a tight one for that limit alone (connect,
// stall and total in ms), and asserts the reason; the others keep the program's own limits of
// seconds, so that a loaded, sanitised machine reads a slow but willing router whole. The deadline
// of the whole run is far past both (the deep chain makes 41 requests, slowly under sanitizers),
// so that a run that ignores them fails rather than hangs.
constexpr const char* kStallOnly = "--test-timeouts=10000,300,10000";
constexpr const char* kTotalOnly = "--test-timeouts=10000,10000,1500";
constexpr auto kDeadline = 120s;

constexpr int kChainDepth = 40;
constexpr std::size_t kChainPageBytes = 8u << 20;
constexpr int kLinkScripts = 6;  // of kChainPageBytes, each writing the same links
// Pages of its own that each page or script of a wide chain names.
constexpr int kWideNames = 200000;

// The child's peak resident set starts at this test's own at the fork, some 12 MiB. Under
// AddressSanitizer the shadow multiplies it for the same work, and freed blocks wait in a
// quarantine of up to 256 MiB that a long run fills, whatever it keeps. ThreadSanitizer's shadow
// grows with the threads' history past any bound worth checking: the bounds are left out (scale 0).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMO_TEST_UNDER_ASAN
#endif
#if __has_feature(thread_sanitizer)
#define VELMO_TEST_UNDER_TSAN
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(VELMO_TEST_UNDER_TSAN)
constexpr long kRssScale = 0;
constexpr long kQuarantineMiB = 0;
#elif defined(__SANITIZE_ADDRESS__) || defined(VELMO_TEST_UNDER_ASAN)
constexpr long kRssScale = 4;
constexpr long kQuarantineMiB = 256;
#else
constexpr long kRssScale = 1;
constexpr long kQuarantineMiB = 0;
#endif

// Pages of the endless tree read before the run is stopped: enough that its paths, some 2 KB each
// once the tree is deep, would take some 100 MB expanded all at once. Sanitizers read far more
// slowly and bound memory loosely anyway.
constexpr std::size_t kTreePages = kRssScale == 1 ? 12000 : 1000;
// Pages or scripts of kChainPageBytes in a wide chain, for the same reasons.
constexpr int kWideDepth = kRssScale == 1 ? kChainDepth : 8;

const std::string kPage = "<html>WAN 203.0.113.45</html>";
const std::string kWideWarning =
    "pages left some links unfollowed: the run's 64 MiB for links waiting to be followed was spent";
const std::string kCredentials = "Basic YWRtaW46czNjcjN0";  // admin:s3cr3t

struct Case {
    const char* name;
    // "{url}", "{host}", "{chain}", "{tree}", "{scripts}", "{wide}", "{wide-scripts}" at the start
    // of an argument name the routers, "{report}" a report file
    Lines args;
    int status;  // exit status
    // Standard output; a line "*TEXT" is any line ending with TEXT, a line "..." any lines at all.
    Lines out;
    std::string why;               // in standard error; empty: nothing there
    const char* limits = nullptr;  // kStallOnly, kTotalOnly; null: the program's own
    long maxRssMiB = 40;
    std::size_t stopAfter = 0;  // above 0: SIGINT once the row's router has answered this many
    int stopAgain = 0;          // and this signal while it writes the report, which ends it at once
    std::chrono::milliseconds stopWithin{0};  // above 0: the most SIGINT may take to end the run
};

const Case kCases[] = {
    {"Http09", {"probe", "{url}/http09"}, 0, {"203.0.113.45"}, ""},
    {"BodyShorterThanAnnounced", {"probe", "{url}/short"}, 0, {"203.0.113.45"}, ""},
    {"BodyLongerThanAnnounced", {"probe", "{url}/long"}, 1, {"n/a"}, "no address in the page"},
    {"ResetMidBody", {"probe", "{url}/reset"}, 1, {"n/a"}, "/reset: connection dropped ("},
    {"BadChunking", {"probe", "{url}/chunks"}, 1, {"n/a"}, "/chunks: connection dropped ("},
    {"Drip",
     {"probe", "{url}/drip"},
     1,
     {"n/a"},
     "timed out (no whole answer within 1500 ms)",
     kTotalOnly},
    {"Silent",
     {"probe", "{url}/silent"},
     1,
     {"n/a"},
     "timed out (nothing received for 300 ms)",
     kStallOnly},
    {"EndlessInterim",
     {"poll", "{host}", "/interim", "--test-interval", "1", "--count", "1"},
     0,
     {"* - n/a"},
     "/interim: timed out (no whole answer within 1500 ms)",
     kTotalOnly},
    {"EndlessBody", {"probe", "{url}/endless"}, 1, {"n/a"}, "/endless: too large"},
    // Whatever is announced, the 16 MiB cap ends the read.
    {"HundredMegabyteBody", {"probe", "{url}/huge"}, 1, {"n/a"}, "/huge: too large", nullptr, 80},
    {"RedirectLoop",
     {"probe", "{url}/loop", "--login", "admin", "--password-stdin"},
     1,
     {"n/a"},
     "too many redirects (more than 10 redirects)"},
    {"RedirectToAnotherHost",
     {"probe", "{url}/away", "--login", "admin", "--password-stdin"},
     0,
     {"198.51.100.20"},
     ""},
    {"SilentDetectionServer",
     {"detect", "--detect-url", "{url}/silent"},
     2,
     {},
     "Unable to autodetect your external IP address",
     kStallOnly},
    // Link text is printed with its controls escaped: it can forge no line of its own.
    {"TrickyLinks",
     {"spider", "{host}", "--external-address", "203.0.113.45", "--list-parsed"},
     1,
     {"Detected IP address: 203.0.113.45", "Parsed pages: 6", "Parsed: /a%0Db.htm",
      "Parsed: /c%0AX-Injected: 1", "Parsed: /e%1B.htm", "Parsed: /../up.htm", "Parsed: /f.htm",
      "Unable to identify the status page"},
     "velmo-cli: a deeper search may find it: run again with --deep\n"},
    // A page's text is let go once its links are taken, however deep the chain.
    {"DeepChainOfBigPages",
     {"spider", "{chain}", "--external-address", "203.0.113.45"},
     0,
     {"Detected IP address: 203.0.113.45", "Found: /c40", "Parsed pages: 41",
      "A status page was identified. Please select a path and click the Polling tab."},
     "",
     nullptr,
     120},
    // The links that scripts only deep discovery loaded write are kept aside within a bound, and
    // those of a script past it let go, however many such scripts there are.
    {"DeepScriptsWritingLinks",
     {"spider", "{scripts}", "--external-address", "203.0.113.45", "--deep"},
     0,
     {"Detected IP address: 203.0.113.45", "Found: /s6.js", "Parsed pages: 7",
      "A status page was identified. Please select a path and click the Polling tab."},
     "",
     nullptr,
     60},
    // However long the run, the list is printed and the report written one path at a time, within
    // twice the crawl's own peak (some 16 MiB here) and 50 MiB.
    {"EndlessTreeListedAndReported",
     {"spider", "{tree}", "--external-address", "203.0.113.45", "--list-parsed", "--report",
      "{report}"},
     3,
     {"Detected IP address: 203.0.113.45", "*", "Parsed: /abcdefghijklmnop/", "...",
      "The test was cancelled"},
     "",
     nullptr,
     2 * 16 + 50,
     kTreePages},
    // The machine form holds the same list, written as it is read out.
    {"EndlessTreeListedAsJson",
     {"spider", "{tree}", "--external-address", "203.0.113.45", "--list-parsed", "--json"},
     3,
     {"*\"after_login\":false}]}"},
     "",
     nullptr,
     2 * 16 + 50,
     kTreePages},
    // However many pages each page or script of a chain names, the links waiting to be followed
    // stay within their bound: the pages past it give theirs up and say so. A stop ends it at once.
    {"WideChainOfBigPages",
     {"spider", "{wide}", "--external-address", "203.0.113.45"},
     3,
     {"Detected IP address: 203.0.113.45", "Found: /end", "*", "The test was cancelled"},
     kWideWarning,
     nullptr,
     200,
     kWideDepth + 2,
     0,
     2s},
    {"WideChainOfBigScripts",
     {"spider", "{wide-scripts}", "--external-address", "203.0.113.45", "--deep"},
     3,
     {"Detected IP address: 203.0.113.45", "Found: /end.js", "*", "The test was cancelled"},
     kWideWarning,
     nullptr,
     200,
     kWideDepth + 2,
     0,
     2s},
    // A second stop ends it at once, and takes the report's temporary file with it; the lines
    // before the report are out already.
    {"EndlessTreeStoppedAgainWhileReporting",
     {"spider", "{tree}", "--external-address", "203.0.113.45", "--report", "{report}"},
     130,
     {"Detected IP address: 203.0.113.45", "*"},
     "",
     nullptr,
     2 * 16 + 50,
     kTreePages,
     SIGTERM},
    // The service's reload ends it as the signal's own, for systemd to start it again.
    {"EndlessTreeHungUpWhileReporting",
     {"spider", "{tree}", "--external-address", "203.0.113.45", "--report", "{report}"},
     128 + SIGHUP,
     {"Detected IP address: 203.0.113.45", "*"},
     "",
     nullptr,
     2 * 16 + 50,
     kTreePages,
     SIGHUP},
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

bool LineMatches(const std::string& line, const std::string& expected) {
    return expected.starts_with('*') ? line.ends_with(expected.substr(1)) : line == expected;
}

bool LinesMatch(const Lines& lines, const Lines& expected) {
    const auto gap = std::find(expected.begin(), expected.end(), "...");
    if (gap == expected.end()) {
        return std::equal(lines.begin(), lines.end(), expected.begin(), expected.end(),
                          LineMatches);
    }
    const auto before = static_cast<std::size_t>(gap - expected.begin());
    const auto after = static_cast<std::size_t>(expected.end() - gap - 1);
    const auto matches = [](const std::string& want, const std::string& line) {
        return LineMatches(line, want);
    };
    return lines.size() >= before + after &&
           std::equal(expected.begin(), gap, lines.begin(), matches) &&
           std::equal(gap + 1, expected.end(), lines.end() - static_cast<long>(after), matches);
}

class HostileRouterTest : public testing::TestWithParam<Case> {
protected:
    HostileRouterTest() {
        router.Serve("/", Hostile::TrickyLinks());
        router.Serve("/http09", Hostile::Http09(kPage));
        router.Serve("/short", Hostile::ShortBody(kPage, 1000));
        // The bytes as they stand: a Content-Length that ends the body early.
        router.Serve("/long",
                     Hostile::Http09("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n" + kPage));
        router.Serve("/reset", Hostile::ResetMidBody(kPage));
        router.Serve("/chunks", Hostile::BadChunking(kPage));
        // A byte every 2 ms brings each header line and body chunk well within the stall limit:
        // only the total one can end these two.
        router.Serve("/drip", Hostile::Drip(std::string(4000, ' ') + kPage, 2ms));
        router.Serve("/silent", Hostile::Silent());
        router.Serve("/interim", Hostile::EndlessInterim(2ms));
        router.Serve("/endless", Hostile::EndlessBody());
        router.Serve("/huge", Hostile::Huge(100u << 20));
        router.Serve("/loop", Hostile::Redirect("/loop"));
        router.Serve("/away", Hostile::Redirect(elsewhere.Url("/landing")));
        elsewhere.Serve("/landing", Hostile::Page("WAN 198.51.100.20"));
        chain.ServeOthers([](const std::string& target) {
            const int n = target == "/" ? 0 : std::stoi(target.substr(2));
            std::string body = n < kChainDepth ? "<a href=\"c" + std::to_string(n + 1) + "\">"
                                               : "WAN 203.0.113.45 ";
            body.resize(kChainPageBytes, 'x');
            return Hostile::Page(std::move(body));
        });
        std::string page;
        for (int n = 1; n <= kLinkScripts; ++n) {
            page += "<script src=\"s" + std::to_string(n) + ".js\"></script>";
        }
        scripts.Serve("/", Hostile::Page(page));
        // Made once: made for each request, it would be late under sanitizers.
        std::string script;
        for (int n = 0; script.size() < kChainPageBytes; ++n) {
            script += "<a href=n" + std::to_string(n) + ">";
        }
        scripts.ServeOthers([script = std::move(script)](const std::string& target) {
            const bool bLast = target == "/s" + std::to_string(kLinkScripts) + ".js";
            return Hostile::Page(bLast ? "WAN 203.0.113.45 " + script : script);
        });
        tree.KeepNoRequests();
        tree.ServeOthers([](const std::string&) { return Hostile::EndlessTreePage(); });
        // Step n of a wide chain (n from 1, its two digits in each name, the last "end") names the
        // next and kWideNames pages of its own, which are not there. Made from one text at the
        // first request, which only the wide rows make, each step a copy with its number put in.
        for (const bool bScripts : {false, true}) {
            Hostile& steps = bScripts ? wideScripts : wide;
            steps.KeepNoRequests();
            auto made = std::make_shared<std::pair<std::once_flag, std::string>>();
            steps.ServeOthers([bScripts, made](const std::string& target) {
                const auto name = [bScripts](int n) {
                    const std::string number = std::to_string(100 + n).substr(1);
                    return (n == kWideDepth ? "end" : (bScripts ? "s" : "c") + number) +
                           (bScripts ? ".js" : "");
                };
                if (bScripts && target == "/") {
                    return Hostile::Page("<script src=\"" + name(1) + "\"></script>");
                }
                int n = target == "/" ? 0 : -1;
                for (int step = 1; step <= kWideDepth; ++step) {
                    n = target == "/" + name(step) ? step : n;
                }
                if (n < 0) {
                    return Hostile::Page("none", 404);
                }
                // The next step's name first, then each own page's: "c" or "s", the step's two
                // digits at `at`, "p" and six digits. Written byte by byte, which is quick enough
                // under sanitizers too for a page to go out well within the time limit.
                const std::string head =
                    bScripts ? "go('" + name(n + 1) + "');" : "<a href=\"" + name(n + 1) + "\">";
                const std::string entry =
                    bScripts ? "'s00p000000.htm'," : "<a href=\"c00p000000.htm\">";
                const std::size_t at = bScripts ? 2 : 10;
                const auto digits = [](char* to, int value, int count) {
                    for (int digit = count - 1; digit >= 0; --digit, value /= 10) {
                        to[digit] = static_cast<char>('0' + value % 10);
                    }
                };
                std::call_once(made->first, [&] {
                    std::string& text = made->second;
                    text.assign(kChainPageBytes, ' ');
                    for (int m = 0; m < kWideNames; ++m) {
                        char* own = text.data() + head.size() + m * entry.size();
                        std::memcpy(own, entry.data(), entry.size());
                        digits(own + at + 3, m, 6);
                    }
                });
                std::string body = made->second;
                if (n < kWideDepth) {
                    body.replace(0, head.size(), head);
                } else {
                    body.replace(body.size() - 20, 16, "WAN 203.0.113.45");
                }
                for (int m = 0; m < kWideNames; ++m) {
                    digits(body.data() + head.size() + m * entry.size() + at, n, 2);
                }
                return Hostile::Page(std::move(body));
            });
        }
    }
    ~HostileRouterTest() override { std::filesystem::remove(report); }

    // The real program; should a fault send it to the built-in detection servers, the proxy on a
    // closed loopback port stops the request on this machine. `stopped` gets when SIGINT was sent.
    ProcessResult RunCli(const Lines& args, std::size_t stopAfter, int stopAgain,
                         const char* limits, std::chrono::steady_clock::time_point& stopped) const {
        Lines line = {VELMO_CLI};
        for (std::string arg : args) {
            for (const auto& [name, value] : {std::pair{"{url}", router.Url("")},
                                              {"{host}", router.Url("").substr(7)},
                                              {"{chain}", chain.Url("").substr(7)},
                                              {"{tree}", tree.Url("").substr(7)},
                                              {"{scripts}", scripts.Url("").substr(7)},
                                              {"{wide}", wide.Url("").substr(7)},
                                              {"{wide-scripts}", wideScripts.Url("").substr(7)},
                                              {"{report}", report.string()}}) {
                if (arg.starts_with(name)) {
                    arg.replace(0, std::string(name).size(), value);
                }
            }
            line.push_back(arg);
        }
        if (limits != nullptr) {
            line.emplace_back(limits);
        }
        const auto stop = [this, stopAfter, stopAgain, &stopped](pid_t pid) {
            const int watch = stopAgain != 0 ? inotify_init1(IN_CLOEXEC) : -1;
            if (stopAgain != 0) {
                EXPECT_GE(inotify_add_watch(watch, report.parent_path().c_str(), IN_CREATE), 0);
            }
            if (stopAfter > 0) {
                // Only the row's router is asked.
                EXPECT_TRUE(WaitUntil(
                    [&] {
                        return tree.RequestCount() + wide.RequestCount() +
                                   wideScripts.RequestCount() >=
                               stopAfter;
                    },
                    kDeadline))
                    << "the router was not read far enough";
                stopped = std::chrono::steady_clock::now();
                kill(pid, SIGINT);
            }
            if (stopAgain != 0) {
                EXPECT_TRUE(AwaitTemporary(watch)) << "no temporary report was created";
                kill(pid, stopAgain);
                close(watch);
            }
        };
        return RunProgram(line, "s3cr3t\n", stop,
                          {"XDG_CONFIG_HOME=" + testing::TempDir() + "velmo-hostile-no-settings",
                           "http_proxy=http://127.0.0.1:9", "no_proxy=127.0.0.1,127.0.0.2",
                           "VELMO_TEST_HOSTS="},  // names in links stay off the resolver
                          false, kDeadline);
    }

    // True once `watch` has seen the report's temporary file created.
    bool AwaitTemporary(int watch) const {
        alignas(inotify_event) char events[16 * 1024];
        for (pollfd ready{watch, POLLIN, 0};
             poll(&ready, 1, static_cast<int>(kDeadline / 1ms)) > 0;) {
            const ssize_t length = read(watch, events, sizeof events);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0 && IsTemporary(event->name)) {
                    return true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return false;
    }

    // ".NAME.XXXXXX" beside the report.
    bool IsTemporary(const std::string& name) const {
        return name.starts_with('.' + report.filename().string() + '.');
    }

    // Removes the temporary files beside the report; how many there were.
    std::size_t RemoveTemporaries() const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(report.parent_path())) {
            if (IsTemporary(entry.path().filename().string())) {
                std::filesystem::remove(entry.path());
                ++count;
            }
        }
        return count;
    }

    Hostile router;
    Hostile elsewhere{"127.0.0.2"};
    Hostile chain;
    Hostile tree;
    Hostile scripts;
    Hostile wide;
    Hostile wideScripts;
    // One per process, as the rows run side by side and clear temporaries beside their report.
    std::filesystem::path report =
        testing::TempDir() + "velmo-hostile-report-" + std::to_string(getpid()) + ".htm";
};

TEST_P(HostileRouterTest, EndsBoundedWithItsStatusOutputAndReason) {
    const Case& c = GetParam();
    std::chrono::steady_clock::time_point stopped;
    const ProcessResult run = RunCli(c.args, c.stopAfter, c.stopAgain, c.limits, stopped);
    const auto stopTook = std::chrono::steady_clock::now() - stopped;

    ASSERT_FALSE(run.bKilled) << "still running after " << kDeadline.count() << " s";
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_TRUE(LinesMatch(run.Lines(), c.out)) << run.out.substr(0, 4096);
    if (c.why.empty()) {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    }
    if (kRssScale > 0) {
        EXPECT_LE(run.peakRssKiB, (c.maxRssMiB * kRssScale + kQuarantineMiB) * 1024);
    }
    if (c.stopWithin.count() > 0 && kRssScale == 1) {  // sanitizers free far more slowly
        EXPECT_LT(stopTook, c.stopWithin);
    }
    if (c.stopAgain != 0) {
        EXPECT_FALSE(std::filesystem::exists(report));
        EXPECT_EQ(RemoveTemporaries(), 0u) << "the temporary report was left behind";
    } else if (std::find(c.args.begin(), c.args.end(), "{report}") != c.args.end()) {
        std::ifstream written(report, std::ios::binary | std::ios::ate);
        ASSERT_GT(written.tellg(), 16) << "no report";
        written.seekg(-16, std::ios::end);
        std::string end(16, '\0');
        written.read(end.data(), 16);
        EXPECT_TRUE(end.ends_with("</body>\r\n</html>")) << end;
    }

    // Whatever the links hold, no control byte reaches a request line raw, and the password goes
    // with every request to the router's host and to no other host.
    const bool bLogin = std::find(c.args.begin(), c.args.end(), "--login") != c.args.end();
    const Lines targets = router.RequestedTargets();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        EXPECT_TRUE(std::none_of(targets[i].begin(), targets[i].end(), [](unsigned char b) {
            return b <= 0x20 || b == 0x7F;
        })) << targets[i];
        EXPECT_EQ(router.Header(i, "X-Injected"), "<none>");
        EXPECT_EQ(router.Header(i, "Authorization"), bLogin ? kCredentials : "<none>");
    }
    for (std::size_t i = 0; i < elsewhere.RequestedTargets().size(); ++i) {
        EXPECT_EQ(elsewhere.Header(i, "Authorization"), "<none>");
    }
}

INSTANTIATE_TEST_SUITE_P(Misbehaviours, HostileRouterTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& row) { return row.param.name; });

}  // namespace
