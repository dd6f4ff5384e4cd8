#include "cli/Commands.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ChangeCommand.h"
#include "cli/GatewayCommand.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "cli/Password.h"
#include "cli/PollState.h"
#include "cli/RouterHost.h"
#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/address/DetectScript.h"
#include "core/address/DetectionServers.h"
#include "core/address/Exclusions.h"
#include "core/net/InetAddr.h"
#include "core/net/RouterUrl.h"
#include "core/polling/PollLine.h"
#include "core/report/ReportFile.h"
#include "core/spider/SpiderRules.h"
#include "core/spider/SpiderRun.h"
#include "core/text/StringTable.h"

namespace {

constexpr int kExitCannotCreate = 73;  // sysexits' "cannot create output"

// Generous against a slow name server, short enough that a mistyped name ends soon.
constexpr std::chrono::milliseconds kHostLookupLimit{5000};

RouterTarget Router(const CommandLine& line) {
    return ResolveRouter(line.router, HostLookupInForce(),
                         line.lookupLimit.value_or(kHostLookupLimit));
}

// "Password for admin@192.168.1.1: "
std::string PasswordPrompt(const CommandLine& line, const std::string& host) {
    return "Password for " + EscapeControls(line.login.empty() ? host : line.login + '@' + host) +
           ": ";
}

std::string ReadPassword(const CommandLine& line, const std::string& host) {
    if (line.passwordFile) {
        return ReadPasswordFile(*line.passwordFile);
    }
    return line.bPasswordStdin ? ReadPasswordFromStdin(PasswordPrompt(line, host)) : std::string();
}

// Why a router page gave no address: a refused login first, since its page may hold anything.
std::string RouterReason(const ProbeFailure& failure) {
    if (IsLoginRefused(failure.status)) {
        return "the router refused the login (HTTP " + std::to_string(failure.status) +
               "): check --login and the password";
    }
    return failure.why;
}

// --verbose: "GET URL: 200, 1234 bytes, 12 ms".
RequestHook Tracing(const CommandLine& line) {
    if (!line.bVerbose) {
        return {};
    }
    return [](const RequestTrace& trace) {
        Say(Priority::Debug,
            "GET " + EscapeControls(trace.url) + ": " +
                (trace.status != 0 ? std::to_string(trace.status) : EscapeControls(trace.failure)) +
                ", " + std::to_string(trace.bytes) + " bytes, " +
                std::to_string(trace.took.count()) + " ms");
    };
}

const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    return S_ISSOCK(mode) ? "a socket" : "not a file";
}

// Detection servers honour http_proxy; `bRouter` goes straight to the router.
FetchOptions Fetching(const CommandLine& line, bool bRouter) {
    FetchOptions options{line.timeouts, CAbortSignal(&InterruptFlag())};
    options.bDirect = bRouter;
    options.onRequest = Tracing(line);
    return options;
}

// --detect-url, else the usable entries of the user's list, else the built-in servers.
std::vector<std::string> DetectionServersInForce(const CommandLine& line) {
    if (!line.detectUrls.empty()) {
        return line.detectUrls;
    }
    DetectionServersFile file = ReadDetectionServers(DetectionServersFilePath());
    for (const std::string& warning : file.warnings) {
        Say(Priority::Warning, warning);
    }
    return file.servers.empty() ? CDetectScript().Servers() : std::move(file.servers);
}

std::string NormalizedExclusions(const CommandLine& line) {
    std::string exclusions = line.exclude;
    NormalizeExclusions(exclusions);
    return exclusions;
}

// Streams the report of `pages` into `path`; false, said on stderr, when it was not written.
bool WriteReport(const std::string& path, const CParsedPageList& pages) {
    std::string error;
    if (WriteParsedPagesReport(path, pages, 0666, error, nullptr, RemoveOnQuickExit)) {
        return true;
    }
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        Say(Priority::Error, "the report was not written: " + EscapeControls(path) +
                                 " is not a regular file (" + FileKind(status.st_mode) +
                                 "), and only a regular file is replaced");
    } else {
        Say(Priority::Error, "cannot write the report " + EscapeControls(path) + ": " + error);
    }
    return false;
}

int Spider(const CommandLine& line) {
    if (line.externalAddress && !ParseIPAddress(*line.externalAddress, nullptr)) {
        throw UsageError{"--external-address takes an IPv4 address"};
    }
    const RouterTarget router = Router(line);
    const std::string password = ReadPassword(line, router.host);
    if (Interrupted()) {
        std::cout << LoadString(IDS_TEST_CANCELLED) << std::endl;
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    CDetectScript detector(line.externalAddress ? std::vector<std::string>()
                                                : DetectionServersInForce(line));
    CPrintingSink sink;
    SpiderSettings settings;
    settings.router = RouterAccessFor(line.login, password, router.address, router.port);
    settings.strExternalAddress = line.externalAddress.value_or(std::string());
    settings.bDeep = line.bDeep;
    settings.timeouts = line.timeouts;
    settings.lookup = HostLookupInForce();
    settings.onRequest = Tracing(line);
    if (line.lookupLimit) {
        settings.lookupLimit = *line.lookupLimit;
    }
    CPageWanNote wanNote;
    wanNote.Clear(router.address);
    settings.pageText = [&wanNote](std::string_view text) { wanNote.Look(text); };
    // A stop request abandons the run: detection and the transfer in flight end at once.
    CSpiderRun run(sink, detector, &InterruptFlag());
    run.Prepare(settings);
    run.Run();

    const bool bLoginRefused = IsLoginRefused(run.StartStatus());
    if (bLoginRefused) {
        Say(Priority::Error, RouterReason({{}, run.StartStatus()}));
    } else if (sink.Parsed() == 0 && !sink.Address().empty() && !run.IsCancelled()) {
        Say(Priority::Error, "no page could be read from " + settings.router.Url("/") + ": " +
                                 EscapeControls(sink.FirstFailure()));
    }
    if (sink.SkippedNames() > 0) {
        std::ostringstream spent;
        spent << std::chrono::duration<double>(settings.lookupBudget).count();
        Say(Priority::Warning, std::to_string(sink.SkippedNames()) +
                                   (sink.SkippedNames() == 1 ? " host name" : " host names") +
                                   " in links left unresolved: the run's " + spent.str() +
                                   " s for name lookups was spent");
    }
    std::cout << "Parsed pages: " << sink.Parsed() << '\n';
    if (line.bListParsed) {
        run.ParsedPages().ForEachPath([](const std::string& path, PageOrigin origin) {
            std::cout << "Parsed: " << EscapeControls(path) << OriginMark(origin) << '\n';
            return true;
        });
    }
    const bool bReported = !line.report || WriteReport(*line.report, run.ParsedPages());
    const std::uint32_t address =
        sink.Address().empty() ? 0 : ntohl(ClassicInetAddr(sink.Address()));
    const int outcome = run.Outcome(address, sink.FoundCount());
    std::cout << LoadString(outcome) << std::endl;
    // Pages were read and nothing shows why none holds the address: their scripts may lead on.
    if (outcome == IDS_NO_STATUS_PAGE && !bLoginRefused &&
        !ExplainNoStatusPage(line, router.address, address, wanNote) && !line.bDeep &&
        sink.Parsed() > 0 && !Interrupted()) {
        Say(Priority::Info, "a deeper search may find it: run again with --deep");
    }
    if (!bReported) {
        return kExitCannotCreate;
    }
    switch (outcome) {
        case IDS_STATUS_PAGE_FOUND:
            return 0;
        case IDS_NO_STATUS_PAGE:
            return 1;
        case IDS_NO_EXTERNAL_ADDRESS:
            return 2;
        default:
            return kExitInterrupted;
    }
}

int Probe(const CommandLine& line) {
    std::string host;
    std::uint16_t port = 0;
    CrackUrlHost(line.url, host, port);
    const std::string password = ReadPassword(line, host);
    if (Interrupted()) {
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    std::string result = "n/a";
    ProbeFailure failure;
    const bool bFound =
        ProbeAddress(line.url, line.login, password, line.bAllowReserved,
                     NormalizedExclusions(line), result, Fetching(line, true), &failure);
    if (Interrupted()) {
        return kExitInterrupted;  // the read was cut short: it tells nothing
    }
    std::cout << result << std::endl;
    if (!bFound) {
        Say(Priority::Error,
            EscapeControls(line.url) + ": " + EscapeControls(RouterReason(failure)));
    }
    return bFound ? 0 : 1;
}

// One reading of poll: true with the address in `result`, else false with `why`.
using PollReader = std::function<bool(std::string& result, std::string& why)>;

// Reads at once, then once per interval; each read starts one interval after the one before
// ended, so a slow router or a suspended machine never makes reads pile up.
int PollEachInterval(const CommandLine& line, const std::string& source,
                     const PollReader& readOnce) {
    SetQuiet(line.bQuiet);
    // The address read last, dotted: a reading is a change when it differs.
    std::optional<std::string> last = line.state ? LoadPollState(*line.state) : std::nullopt;
    std::unique_ptr<CChangeCommand> onChange;
    if (line.onChange) {
        onChange = std::make_unique<CChangeCommand>(*line.onChange);
        if (last) {
            onChange->Resume(*last);
        }
    }
    const std::chrono::milliseconds interval =
        line.testInterval.value_or(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(line.interval)));
    for (long read = 0; !line.count || read < *line.count; ++read) {
        if (read > 0 && (onChange ? onChange->SleepUnlessInterrupted(interval)
                                  : SleepUnlessInterrupted(interval))) {
            break;
        }
        const std::time_t now = std::time(nullptr);
        std::string result = "n/a";
        std::string why;
        const bool bFound = !Interrupted() && readOnce(result, why);
        if (Interrupted()) {
            break;  // the read was cut short: it tells nothing
        }
        const bool bChange = bFound && JudgedAddress(result) != last;
        PrintPollLine(FormatPollLine(now, result), bChange);
        if (!bFound) {
            Say(Priority::Error, EscapeControls(source) + ": " + EscapeControls(why));
        }
        if (bChange) {
            last = JudgedAddress(result);
            if (line.state) {
                SavePollState(*line.state, *last);
            }
        }
        if (onChange && bFound) {
            onChange->AddressRead(result);
        }
    }
    if (onChange) {
        onChange->Finish();
    }
    return Interrupted() ? kExitInterrupted : 0;
}

int PollGateway(const CommandLine& line) {
    if (!line.router.empty() || !line.path.empty() || !line.login.empty() || line.bPasswordStdin ||
        line.passwordFile || !line.exclude.empty()) {
        throw UsageError{
            "poll --gateway reads no page: it takes no HOST, PATH, login, password "
            "or exclusions"};
    }
    CGateway gateway = GatewayOf(line);
    const GatewayTarget target = GatewayTargetOf(line);
    return PollEachInterval(line, "gateway", [&](std::string& result, std::string& why) {
        return ReadGatewayAddress(gateway, target, result, why);
    });
}

int Poll(const CommandLine& line) {
    if (line.bGateway) {
        return PollGateway(line);
    }
    if (!line.igdUrl.empty() || !line.natpmpGateway.empty()) {
        throw UsageError{"--igd and --natpmp go with --gateway"};
    }
    if (line.router.empty()) {
        throw UsageError{"poll takes HOST[:PORT] PATH, or --gateway"};
    }
    const RouterTarget router = Router(line);
    if (line.path.empty()) {
        throw UsageError{LoadString(IDS_INVALID_PATH)};
    }
    std::string url;
    if (!ComposeRouterUrl(router.address, static_cast<std::uint16_t>(router.port & 0xFFFF),
                          line.path, url)) {
        throw UsageError{LoadString(IDS_INVALID_PATH)};
    }
    const std::string password = ReadPassword(line, router.host);
    if (Interrupted()) {
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    const std::string login = RouterLogin(line.login, password);
    const std::string exclusions = NormalizedExclusions(line);
    return PollEachInterval(line, url, [&](std::string& result, std::string& why) {
        ProbeFailure failure;
        const bool bFound = ProbeAddress(url, login, password, false, exclusions, result,
                                         Fetching(line, true), &failure);
        why = RouterReason(failure);
        return bFound;
    });
}

// Asks each server once and prints a line for each; 0 when one of them answered.
int DetectEach(const CommandLine& line, const std::vector<std::string>& servers) {
    bool bAnswered = false;
    for (const std::string& url : servers) {
        const auto start = std::chrono::steady_clock::now();
        std::string address;
        ProbeFailure failure;
        const bool bFound = ProbeAddress(url, {}, {}, line.bAllowReserved, {}, address,
                                         Fetching(line, false), &failure);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (Interrupted()) {
            return kExitInterrupted;
        }
        std::cout << EscapeControls(url) << '\t' << EscapeControls(bFound ? address : failure.why)
                  << '\t' << took.count() << " ms" << std::endl;
        bAnswered = bAnswered || bFound;
    }
    return bAnswered ? 0 : 2;
}

int Detect(const CommandLine& line) {
    if (!line.bGatewayCheck && (!line.igdUrl.empty() || !line.natpmpGateway.empty())) {
        throw UsageError{"--igd and --natpmp go with --gateway-check"};
    }
    if (line.bEach && line.bGatewayCheck) {
        throw UsageError{"--each lists the servers alone; --gateway-check goes without it"};
    }
    const std::vector<std::string> servers = DetectionServersInForce(line);
    if (line.bTestListServers) {
        for (const std::string& server : servers) {
            std::cout << server << '\n';
        }
        return 0;
    }
    if (line.bEach) {
        return DetectEach(line, servers);
    }
    CDetectScript detector(servers);
    std::string address;
    std::vector<std::string> reasons;
    const bool bFound = detector.Detect(
        line.bAllowReserved, address, Fetching(line, false),
        [&reasons](const std::string& url, const ProbeFailure& failure) {
            reasons.push_back(EscapeControls(url) + ": " + EscapeControls(failure.why));
        });
    if (Interrupted()) {
        return kExitInterrupted;
    }
    if (!bFound) {
        for (const std::string& reason : reasons) {
            Say(Priority::Error, reason);
        }
        SayBare(Priority::Error, LoadString(IDS_NO_EXTERNAL_ADDRESS));
    } else {
        std::cout << address << std::endl;
    }
    if (line.bGatewayCheck) {
        CheckGateway(line, bFound ? ntohl(ClassicInetAddr(address)) : 0);
        if (Interrupted()) {
            return kExitInterrupted;
        }
    }
    return bFound ? 0 : 2;
}

}  // namespace

int RunCommand(const CommandLine& line) {
    if (line.command == "spider") {
        return Spider(line);
    }
    if (line.command == "probe") {
        return Probe(line);
    }
    if (line.command == "poll") {
        return Poll(line);
    }
    if (line.command == "gateway") {
        return Gateway(line);
    }
    return Detect(line);
}
