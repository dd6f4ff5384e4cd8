// velmo-cli: the spider test, the address probe, polling and detection for scripts and terminals.
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/address/DetectScript.h"
#include "core/address/Exclusions.h"
#include "core/net/RouterUrl.h"
#include "core/polling/PollLine.h"
#include "core/report/ParsedPagesReport.h"
#include "core/spider/SpiderRules.h"
#include "core/spider/SpiderRun.h"
#include "core/text/StringTable.h"
#include "core/version/ModuleVersion.h"

namespace {

constexpr int kExitUsage = 64;

const char* const kUsage =
    "usage: velmo-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  spider HOST[:PORT]     find the router pages that show the public address\n"
    "  probe URL              print the first acceptable address on one page\n"
    "  poll HOST[:PORT] PATH  print the address a router page shows, once per interval\n"
    "  detect                 print this machine's public address\n"
    "\n"
    "  --help                 this text; COMMAND --help for a command's options\n"
    "  --version              the version line\n";

const char* const kSpiderUsage =
    "usage: velmo-cli spider HOST[:PORT] [--login LOGIN] [--password-stdin]\n"
    "                        [--external-address ADDR] [--list-parsed] [--report FILE]\n"
    "                        [--detect-url URL]...\n"
    "Crawls the router's pages from \"/\" and lists every page that shows the public address.\n"
    "Exit status: 0 found, 1 none found, 2 no public address, 3 cancelled, 64 usage.\n";

const char* const kProbeUsage =
    "usage: velmo-cli probe URL [--login LOGIN] [--password-stdin] [--allow-reserved]\n"
    "                       [--exclude TEXT]\n"
    "Prints the first acceptable address of the page, or n/a. Exit status 0 found, 1 not.\n";

const char* const kPollUsage =
    "usage: velmo-cli poll HOST[:PORT] PATH [--login LOGIN] [--password-stdin]\n"
    "                      [--exclude TEXT] [--interval SECONDS] [--count N]\n"
    "Reads the page once per interval (60 s) and prints the time and the address, or n/a.\n";

const char* const kDetectUsage =
    "usage: velmo-cli detect [--allow-reserved] [--detect-url URL]...\n"
    "Prints this machine's public address. Exit status 0 found, 2 not.\n";

std::atomic<bool> g_bInterrupted{false};
std::atomic<CSpiderRun*> g_pRun{nullptr};  // the spider run Ctrl-C cancels

extern "C" void OnInterrupt(int) {
    if (g_bInterrupted.exchange(true)) {
        _exit(130);  // a second Ctrl-C ends at once
    }
    if (CSpiderRun* run = g_pRun.load()) {
        run->Cancel();
    }
}

struct UsageError {
    std::string message;
    bool bShowUsage = true;  // false for a refused value, whose message says it all
};

// The options of one command, read in one pass.
struct Options {
    std::vector<std::string> positional;
    std::string login;
    std::string password;
    std::optional<std::string> externalAddress;
    std::optional<std::string> report;
    std::string exclude;
    std::vector<std::string> detectUrls;
    double interval = 60;
    std::optional<long> count;
    bool bListParsed = false;
    bool bAllowReserved = false;
    bool bHelp = false;
};

Options ParseOptions(int argc, char** argv, int first) {
    Options options;
    bool bPasswordStdin = false;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw UsageError{arg + " needs a value"};
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.bHelp = true;
        } else if (arg == "--login") {
            options.login = value();
        } else if (arg == "--password-stdin") {
            bPasswordStdin = true;
        } else if (arg == "--external-address") {
            options.externalAddress = value();
        } else if (arg == "--list-parsed") {
            options.bListParsed = true;
        } else if (arg == "--report") {
            options.report = value();
        } else if (arg == "--allow-reserved") {
            options.bAllowReserved = true;
        } else if (arg == "--exclude") {
            options.exclude = value();
        } else if (arg == "--detect-url") {
            options.detectUrls.push_back(value());
        } else if (arg == "--interval") {
            const std::string text = value();
            try {
                options.interval = std::stod(text);
            } catch (const std::exception&) {
                throw UsageError{"--interval takes a number of seconds"};
            }
            if (!(options.interval > 0)) {
                throw UsageError{"--interval takes a number of seconds"};
            }
        } else if (arg == "--count") {
            const std::string text = value();
            char* end = nullptr;
            options.count = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || *options.count < 1) {
                throw UsageError{"--count takes a whole number of 1 or more"};
            }
        } else if (arg.starts_with("--")) {
            throw UsageError{"unknown option " + arg};
        } else {
            options.positional.push_back(arg);
        }
    }
    if (bPasswordStdin && !options.bHelp) {
        std::getline(std::cin, options.password);
        if (!options.password.empty() && options.password.back() == '\r') {
            options.password.pop_back();
        }
    }
    return options;
}

struct RouterTarget {
    std::uint32_t address = 0;  // host order
    std::int32_t port = 80;
};

// HOST[:PORT] with the Router tab's checks; throws the refusal's text as a usage error.
RouterTarget ParseRouter(const std::string& text) {
    RouterTarget target;
    const std::size_t colon = text.find(':');
    const std::uint32_t address = ClassicInetAddr(text.substr(0, colon));
    target.address = address == kAddressNone ? 0 : ntohl(address);
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        target.port = (port.empty() || *end != '\0' || value < 0 || value > 0x7FFFFFFF)
                          ? 0
                          : static_cast<std::int32_t>(value);
    }
    if (const int refusal = CheckRouterTarget(target.address, target.port); refusal != 0) {
        throw UsageError{LoadString(refusal), false};
    }
    return target;
}

// Prints the run as it goes: the address, each newly found page, progress on a terminal.
class CPrintingSink : public ISpiderSink {
public:
    void Post(SpiderMessage message, std::string text) override {
        switch (message) {
            case WM_SPIDER_ADDRESS:
                m_strAddress = text;
                std::cout << "Detected IP address: " << text << std::endl;
                break;
            case WM_SPIDER_FOUND: {
                if (m_found.Add(text)) {
                    ClearProgress();
                    std::cout << "Found: " << text << std::endl;
                }
                break;
            }
            case WM_SPIDER_PARSED:
                ++m_nParsed;
                ShowProgress();
                break;
            case WM_SPIDER_DONE:
                ClearProgress();
                break;
        }
    }

    void Fetching(const std::string& path) override {
        m_strReading = path;
        ShowProgress();
    }

    const std::string& Address() const { return m_strAddress; }
    std::size_t FoundCount() const { return m_found.Size(); }
    int Parsed() const { return m_nParsed; }

private:
    // One line, rewritten in place: the count and the page being read, cut to fit 80 columns.
    void ShowProgress() {
        if (m_bProgress) {
            std::fprintf(stderr, "\r\033[KParsed pages: %d  reading %.55s", m_nParsed,
                         m_strReading.c_str());
            std::fflush(stderr);
        }
    }
    void ClearProgress() {
        if (m_bProgress) {
            std::fputs("\r\033[K", stderr);
        }
    }

    bool m_bProgress = isatty(STDERR_FILENO) != 0;
    std::string m_strAddress;
    CFoundPages m_found;
    std::string m_strReading;
    int m_nParsed = 0;
};

CDetectScript Detector(const std::vector<std::string>& urls) {
    return urls.empty() ? CDetectScript() : CDetectScript(urls);
}

int Spider(const Options& options) {
    if (options.positional.size() != 1) {
        throw UsageError{"spider takes one HOST[:PORT]"};
    }
    const RouterTarget router = ParseRouter(options.positional[0]);
    CDetectScript detector = Detector(options.detectUrls);
    CPrintingSink sink;
    CSpiderRun run(sink, detector);
    run.Prepare(options.login, options.password, router.address, router.port);
    if (options.externalAddress) {
        if (!ParseIPAddress(*options.externalAddress, nullptr)) {
            throw UsageError{"--external-address takes an IPv4 address"};
        }
        run.SetExternalAddress(*options.externalAddress);
    }
    g_pRun = &run;
    run.Run();
    g_pRun = nullptr;

    if (sink.Parsed() == 0 && !sink.Address().empty() && !run.IsCancelled()) {
        std::cerr << "velmo-cli: no page could be read from " << run.Params().GetUrl() << '\n';
    }
    std::cout << "Parsed pages: " << sink.Parsed() << '\n';
    if (options.bListParsed) {
        for (const std::string& path : run.ParsedPages().Paths()) {
            std::cout << "Parsed: " << path << '\n';
        }
    }
    if (options.report) {
        std::ofstream out(*options.report, std::ios::binary | std::ios::trunc);
        out << BuildParsedPagesReport(run.ParsedPages().Paths());
        if (!out.flush()) {
            std::cerr << "velmo-cli: cannot write " << *options.report << '\n';
        }
    }
    const std::uint32_t address =
        sink.Address().empty() ? 0 : ntohl(ClassicInetAddr(sink.Address()));
    const int outcome = run.Outcome(address, sink.FoundCount());
    std::cout << LoadString(outcome) << std::endl;
    switch (outcome) {
        case IDS_STATUS_PAGE_FOUND:
            return 0;
        case IDS_NO_STATUS_PAGE:
            return 1;
        case IDS_NO_EXTERNAL_ADDRESS:
            return 2;
        default:
            return 3;
    }
}

std::string NormalizedExclusions(const Options& options) {
    std::string exclusions = options.exclude;
    NormalizeExclusions(exclusions);
    return exclusions;
}

int Probe(const Options& options) {
    if (options.positional.size() != 1) {
        throw UsageError{"probe takes one URL"};
    }
    std::string result = "n/a";
    const bool bFound =
        ProbeAddress(options.positional[0], options.login, options.password, options.bAllowReserved,
                     NormalizedExclusions(options), result, {{}, CAbortSignal(&g_bInterrupted)});
    std::cout << result << std::endl;
    return bFound ? 0 : 1;
}

int Poll(const Options& options) {
    if (options.positional.size() != 2) {
        throw UsageError{"poll takes HOST[:PORT] and PATH"};
    }
    const RouterTarget router = ParseRouter(options.positional[0]);
    const std::string& path = options.positional[1];
    if (path.empty()) {
        throw UsageError{LoadString(IDS_INVALID_PATH), false};
    }
    std::string url;
    if (!ComposeRouterUrl(router.address, static_cast<std::uint16_t>(router.port & 0xFFFF), path,
                          url)) {
        throw UsageError{LoadString(IDS_INVALID_PATH)};
    }
    const std::string exclusions = NormalizedExclusions(options);
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options.interval));
    auto next = std::chrono::steady_clock::now();
    for (long line = 0; !options.count || line < *options.count; ++line) {
        next += interval;
        while (std::chrono::steady_clock::now() < next) {
            if (g_bInterrupted) {
                return 0;
            }
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                next - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
        }
        const std::time_t now = std::time(nullptr);
        std::string result = "n/a";
        ProbeAddress(url, options.login, options.password, false, exclusions, result,
                     {{}, CAbortSignal(&g_bInterrupted)});
        std::cout << FormatPollLine(now, result) << std::endl;
    }
    return 0;
}

int Detect(const Options& options) {
    if (!options.positional.empty()) {
        throw UsageError{"detect takes no arguments"};
    }
    CDetectScript detector = Detector(options.detectUrls);
    std::string address;
    if (!detector.Detect(options.bAllowReserved, address, {{}, CAbortSignal(&g_bInterrupted)})) {
        std::cerr << LoadString(IDS_NO_EXTERNAL_ADDRESS) << '\n';
        return 2;
    }
    std::cout << address << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "--version") {
        CModuleVersion version;
        version.LoadVersion(nullptr);
        std::cout << FormatVersionLine(version) << '\n';
        return 0;
    }
    struct Command {
        const char* name;
        const char* usage;
        int (*run)(const Options&);
    };
    static const Command kCommands[] = {{"spider", kSpiderUsage, Spider},
                                        {"probe", kProbeUsage, Probe},
                                        {"poll", kPollUsage, Poll},
                                        {"detect", kDetectUsage, Detect}};
    for (const Command& entry : kCommands) {
        if (command != entry.name) {
            continue;
        }
        try {
            const Options options = ParseOptions(argc, argv, 2);
            if (options.bHelp) {
                std::cout << entry.usage;
                return 0;
            }
            return entry.run(options);
        } catch (const UsageError& error) {
            std::cerr << "velmo-cli: " << error.message << '\n'
                      << (error.bShowUsage ? entry.usage : "");
            return kExitUsage;
        }
    }
    std::cerr << "velmo-cli: unknown command " << command << '\n' << kUsage;
    return kExitUsage;
}
