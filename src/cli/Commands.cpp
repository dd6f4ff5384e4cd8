#include "cli/Commands.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/ChangeCommand.h"
#include "cli/GatewayCommand.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "cli/Password.h"
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

constexpr int kExitInterrupted = 3;
constexpr int kExitCannotCreate = 73;  // sysexits' "cannot create output"

struct RouterTarget {
    std::uint32_t address = 0;  // host order
    std::int32_t port = 80;
};

// HOST[:PORT] with the Router tab's checks.
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
        throw UsageError{LoadString(refusal)};
    }
    return target;
}

std::string ReadPassword(const CommandLine& line) {
    if (line.passwordFile) {
        return ReadPasswordFile(*line.passwordFile);
    }
    return line.bPasswordStdin ? ReadPasswordLine(STDIN_FILENO, "standard input") : std::string();
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

FetchOptions Fetching(const CommandLine& line) {
    return {line.timeouts, CAbortSignal(&InterruptFlag())};
}

// --detect-url, else the usable entries of the user's list, else the built-in servers.
std::vector<std::string> DetectionServersInForce(const CommandLine& line) {
    if (!line.detectUrls.empty()) {
        return line.detectUrls;
    }
    DetectionServersFile file = ReadDetectionServers(DetectionServersFilePath());
    for (const std::string& warning : file.warnings) {
        std::cerr << "velmo-cli: " << warning << '\n';
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
    if (WriteParsedPagesReport(path, pages, 0666, error)) {
        return true;
    }
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        std::cerr << "velmo-cli: the report was not written: " << EscapeControls(path)
                  << " is not a regular file (" << FileKind(status.st_mode)
                  << "), and only a regular file is replaced\n";
    } else {
        std::cerr << "velmo-cli: cannot write the report " << EscapeControls(path) << ": " << error
                  << '\n';
    }
    return false;
}

int Spider(const CommandLine& line) {
    const RouterTarget router = ParseRouter(line.router);
    if (line.externalAddress && !ParseIPAddress(*line.externalAddress, nullptr)) {
        throw UsageError{"--external-address takes an IPv4 address"};
    }
    const std::string password = ReadPassword(line);
    if (Interrupted()) {
        std::cout << LoadString(IDS_TEST_CANCELLED) << std::endl;
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    CDetectScript detector(line.externalAddress ? std::vector<std::string>()
                                                : DetectionServersInForce(line));
    CPrintingSink sink;
    SpiderSettings settings;
    settings.timeouts = line.timeouts;
    if (line.lookupLimit) {
        settings.lookupLimit = *line.lookupLimit;
    }
    CPageWanNote wanNote;
    wanNote.Clear(router.address);
    settings.pageText = [&wanNote](std::string_view text) { wanNote.Look(text); };
    // A stop request abandons the run: detection and the transfer in flight end at once.
    CSpiderRun run(sink, detector, settings, &InterruptFlag());
    run.Prepare(line.login, password, router.address, router.port);
    if (line.externalAddress) {
        run.SetExternalAddress(*line.externalAddress);
    }
    run.SetDeep(line.bDeep);
    run.Run();

    if (sink.Parsed() == 0 && !sink.Address().empty() && !run.IsCancelled()) {
        std::cerr << "velmo-cli: no page could be read from " << run.Params().GetUrl() << ": "
                  << EscapeControls(sink.FirstFailure()) << '\n';
    }
    if (sink.SkippedNames() > 0) {
        std::cerr << "velmo-cli: " << sink.SkippedNames()
                  << (sink.SkippedNames() == 1 ? " host name" : " host names")
                  << " in links left unresolved: the run's "
                  << std::chrono::duration<double>(settings.lookupBudget).count()
                  << " s for name lookups was spent\n";
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
    if (outcome == IDS_NO_STATUS_PAGE &&
        !ExplainNoStatusPage(line, router.address, address, wanNote) && !line.bDeep &&
        sink.Parsed() > 0 && !Interrupted()) {
        std::cerr << "velmo-cli: a deeper search may find it: run again with --deep\n";
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
    const std::string password = ReadPassword(line);
    if (Interrupted()) {
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    std::string result = "n/a";
    std::string why;
    const bool bFound = ProbeAddress(line.url, line.login, password, line.bAllowReserved,
                                     NormalizedExclusions(line), result, Fetching(line), &why);
    if (Interrupted()) {
        return kExitInterrupted;  // the read was cut short: it tells nothing
    }
    std::cout << result << std::endl;
    if (!bFound) {
        std::cerr << "velmo-cli: " << EscapeControls(line.url) << ": " << EscapeControls(why)
                  << '\n';
    }
    return bFound ? 0 : 1;
}

// One reading of poll: true with the address in `result`, else false with `why`.
using PollReader = std::function<bool(std::string& result, std::string& why)>;

// Reads once per interval; each read starts one interval after the one before ended, so a slow
// router or a suspended machine never makes reads pile up.
int PollEachInterval(const CommandLine& line, const std::string& source,
                     const PollReader& readOnce) {
    std::unique_ptr<CChangeCommand> onChange;
    if (line.onChange) {
        onChange = std::make_unique<CChangeCommand>(*line.onChange);
    }
    const std::chrono::milliseconds interval =
        line.testInterval.value_or(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(line.interval)));
    for (long read = 0; !line.count || read < *line.count; ++read) {
        if (onChange ? onChange->SleepUnlessInterrupted(interval)
                     : SleepUnlessInterrupted(interval)) {
            break;
        }
        const std::time_t now = std::time(nullptr);
        std::string result = "n/a";
        std::string why;
        const bool bFound = readOnce(result, why);
        if (Interrupted()) {
            break;  // the read was cut short: it tells nothing
        }
        std::cout << FormatPollLine(now, result) << std::endl;
        if (!bFound) {
            std::cerr << "velmo-cli: " << EscapeControls(source) << ": " << EscapeControls(why)
                      << '\n';
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
    CGateway gateway(line.gatewayLimits);
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
    const RouterTarget router = ParseRouter(line.router);
    if (line.path.empty()) {
        throw UsageError{LoadString(IDS_INVALID_PATH)};
    }
    std::string url;
    if (!ComposeRouterUrl(router.address, static_cast<std::uint16_t>(router.port & 0xFFFF),
                          line.path, url)) {
        throw UsageError{LoadString(IDS_INVALID_PATH)};
    }
    const std::string password = ReadPassword(line);
    if (Interrupted()) {
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    const std::string login = RouterLogin(line.login, password);
    const std::string exclusions = NormalizedExclusions(line);
    return PollEachInterval(line, url, [&](std::string& result, std::string& why) {
        return ProbeAddress(url, login, password, false, exclusions, result, Fetching(line), &why);
    });
}

// Asks each server once and prints a line for each; 0 when one of them answered.
int DetectEach(const CommandLine& line, const std::vector<std::string>& servers) {
    bool bAnswered = false;
    for (const std::string& url : servers) {
        const auto start = std::chrono::steady_clock::now();
        std::string address;
        std::string why;
        const bool bFound =
            ProbeAddress(url, {}, {}, line.bAllowReserved, {}, address, Fetching(line), &why);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (Interrupted()) {
            return kExitInterrupted;
        }
        std::cout << EscapeControls(url) << '\t' << EscapeControls(bFound ? address : why) << '\t'
                  << took.count() << " ms" << std::endl;
        bAnswered = bAnswered || bFound;
    }
    return bAnswered ? 0 : 2;
}

int Detect(const CommandLine& line) {
    const std::vector<std::string> servers = DetectionServersInForce(line);
    if (line.bEach) {
        return DetectEach(line, servers);
    }
    CDetectScript detector(servers);
    std::string address;
    const bool bFound = detector.Detect(line.bAllowReserved, address, Fetching(line));
    if (Interrupted()) {
        return kExitInterrupted;
    }
    if (!bFound) {
        std::cerr << LoadString(IDS_NO_EXTERNAL_ADDRESS) << '\n';
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
