// velmo-cli spider: the Status tab's run, for scripts.
#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "cli/GatewayCommand.h"
#include "cli/Interrupt.h"
#include "cli/JsonRecord.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/RouterHost.h"
#include "core/address/AddressScan.h"
#include "core/address/DetectScript.h"
#include "core/net/InetAddr.h"
#include "core/report/ReportFile.h"
#include "core/spider/Crawl.h"
#include "core/spider/SpiderRules.h"
#include "core/spider/SpiderRun.h"
#include "core/text/ShownText.h"
#include "core/text/StringTable.h"

namespace {

constexpr std::size_t kListBufferBytes = 64 * 1024;  // of --list-parsed lines a write

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

// Streams the report of `pages`, read from `router` when it is https, into `path`; false, said on
// stderr, when it was not written.
bool WriteReport(const std::string& path, const CParsedPageList& pages, const std::string& router) {
    std::string error;
    if (WriteParsedPagesReport(path, pages, 0666, error, nullptr, RemoveOnQuickExit, router)) {
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

// The outcome in --json.
std::string_view OutcomeName(int outcome) {
    switch (outcome) {
        case IDS_STATUS_PAGE_FOUND:
            return "found";
        case IDS_NO_STATUS_PAGE:
            return "not_found";
        case IDS_NO_EXTERNAL_ADDRESS:
            return "no_address";
        default:
            return "cancelled";
    }
}

std::string_view OriginName(PageOrigin origin) {
    switch (origin) {
        case PageOrigin::Link:
            break;
        case PageOrigin::Script:
            return "script";
        case PageOrigin::ScriptNotRequested:
            return "script_not_requested";
    }
    return "link";
}

// The router's URL the pages were read from: where the plain port's redirect to https led, if it
// did.
std::string RouterRead(const CSpiderRun& run) {
    const RouterAccess& router = run.Settings().router;
    const RouterReached& reached = run.Reached();
    std::string url;
    ComposeRouterUrl(router.nAddress, reached.nPort != 0 ? reached.nPort : router.nPort, "/", url,
                     reached.nPort != 0 ? reached.bHttps : router.bHttps);
    return url;
}

// What a run found, for --json; `address` is the public address looked for, as detected. A key
// refused is an outcome of its own.
CJsonRecord RunRecord(const CSpiderRun& run, const CPrintingSink& sink, int outcome,
                      const std::string& reason, const std::string& diagnosis) {
    const std::string& address = sink.Address();
    const KeyRefusal& refused = run.Reached().refused;
    const std::string router = RouterRead(run);
    CJsonRecord record;
    record.TextOrNull("address", address.empty() ? std::string() : JudgedAddress(address))
        .Texts("found", sink.FoundPaths())
        .Number("parsed", sink.Parsed())
        .Text("outcome", refused.shown.pin.empty()
                             ? OutcomeName(outcome)
                             : (refused.Changed() ? "key_changed" : "untrusted_key"))
        .NumberOrNull("http_status", std::max(run.StartStatus(), 0L))
        .TextOrNull("reason", reason)
        .TextOrNull("diagnosis", diagnosis)
        .Text("router", router)
        .Text("scheme", router.starts_with("https:") ? "https" : "http")
        .TextOrNull(
            "key", refused.shown.pin.empty() ? run.Reached().trusted.shown.pin : refused.shown.pin);
    return record;
}

int ExitStatus(int outcome) {
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

class CSpiderCommand final : public CCommand {
public:
    CSpiderCommand()
        : CCommand("spider", "[https://]HOST[:PORT]",
                   "find the router pages that show the public address\n"
                   "Crawls the router's pages from \"/\" and lists every page that shows the "
                   "public address. When none does, asks the router itself (UPnP IGD, then "
                   "NAT-PMP) and says on standard error why no page can show it, if its WAN "
                   "address tells.\nOver https (https://HOST[:PORT], 443 by default) the router "
                   "is trusted by its certificate's key, remembered in the known-routers file "
                   "(velmo-cli trust): a router whose key is not known yet, or not the one "
                   "remembered, is sent nothing.\nExit status: 0 found, 1 none found, 2 no "
                   "public address, 3 cancelled, 4 the router's key is not trusted (nothing was "
                   "sent), 64 usage, 68 no address for HOST, 73 report not written, 74 output not "
                   "written.") {}

    void Define(CLI::App& app) override;
    int Run() override;

private:
    // What the run needs besides the router target; `wanNote` sees every page it reads.
    SpiderSettings Settings(const RouterTarget& router, const std::string& password,
                            CPageWanNote& wanNote) const;
    // Once the run has ended: a refused login, or why no page could be read (the empty text
    // when neither); said, as are the names in links that were left unresolved.
    std::string SayWhatFailed(const CSpiderRun& run, const CPrintingSink& sink,
                              const SpiderSettings& settings) const;
    // The count of the pages read, each one with --list-parsed, and the report of --report;
    // false when the report was not written.
    bool ShowPages(const CSpiderRun& run, const CPrintingSink& sink) const;
    // `record` with --list-parsed's pages, each read with how it was reached.
    static void PrintWithPages(const CJsonRecord& record, const CSpiderRun& run);

    std::string m_router;
    RouterTarget m_target;  // of m_router, once the line is parsed
    LoginOptions m_login;
    std::optional<std::string> m_externalAddress;
    bool m_bListParsed = false;
    bool m_bDeep = false;
    std::optional<std::string> m_report;
    std::vector<std::string> m_detectUrls;
    bool m_bJson = false;
    bool m_bVerbose = false;
    bool m_bTrustNew = false;
};

void CSpiderCommand::Define(CLI::App& app) {
    app.add_option("HOST", m_router);
    Rule([this] {
        return m_router.empty() ? "spider needs HOST[:PORT], the router's address; velmo-cli "
                                  "spider --help"
                                : "";
    });
    m_login.Add(*this, app, "the router's pages");
    app.add_option_function<std::string>(
           "--external-address",
           [this](const std::string& address) { m_externalAddress = address; },
           "look for ADDRESS instead of detecting the public address")
        ->type_name("ADDRESS");
    app.add_flag("--list-parsed", m_bListParsed, "print \"Parsed: PATH\" for every page read");
    app.add_flag("--deep", m_bDeep,
                 "also follow frames, scripts and refresh targets, and page names in script text");
    app.add_option_function<std::string>(
           "--report", [this](const std::string& path) { m_report = path; },
           "write the report of the pages read to FILE, a new file or a regular one")
        ->type_name("FILE");
    AddTrustNewKey(app, m_bTrustNew);
    AddDetectUrls(app, m_detectUrls);
    AddJson(app, m_bJson, "what the run found");
    AddTimeLimits(app, m_limits.timeouts);
    AddVerbose(app, m_bVerbose);
    AddQuiet(app, "show no progress and say no notes or warnings: the results and errors only");
    Rule([this] {
        return m_externalAddress && !ParseIPAddress(*m_externalAddress, nullptr)
                   ? "--external-address takes an IPv4 address"
                   : "";
    });
    Rule([this] { return ParseRouter(m_router, m_target); });
}

SpiderSettings CSpiderCommand::Settings(const RouterTarget& router, const std::string& password,
                                        CPageWanNote& wanNote) const {
    SpiderSettings settings;
    settings.router = RouterAccessFor(m_login.login, password, router.address, router.port);
    settings.router.bHttps = router.bHttps;
    settings.router.strKnownRouters = KnownRoutersFilePath();
    settings.router.bTrustNewKey = m_bTrustNew;
    settings.strExternalAddress = m_externalAddress.value_or(std::string());
    settings.bDeep = m_bDeep;
    settings.timeouts = m_limits.timeouts;
    settings.lookup = m_limits.lookup;
    settings.lookupLimit = m_limits.lookupLimit;
    settings.onRequest = Tracing(m_bVerbose);
    settings.pageText = [&wanNote](std::string_view text) { wanNote.Look(text); };
    return settings;
}

int CSpiderCommand::Run() {
    // Before the password is asked for: a list that cannot be used ends the command.
    const OrExit<std::vector<std::string>> servers =
        m_externalAddress ? std::vector<std::string>() : DetectionServersInForce(m_detectUrls);
    if (!servers) {
        return servers.Status();
    }
    const OrExit<RouterTarget> router =
        ResolveRouter(m_target, m_limits.lookup, m_limits.lookupLimit);
    if (!router) {
        return router.Status();
    }
    const OrExit<std::string> password = m_login.Password(router->host);
    if (!password) {
        return password.Status();
    }
    if (Interrupted()) {
        if (m_bJson) {
            CJsonRecord record;
            record.TextOrNull("address", {})
                .Texts("found", {})
                .Number("parsed", 0)
                .Text("outcome", OutcomeName(IDS_TEST_CANCELLED))
                .TextOrNull("http_status", {})
                .TextOrNull("reason", {})
                .TextOrNull("diagnosis", {});
            record.Print();
        } else {
            PrintLine(LoadString(IDS_TEST_CANCELLED));
        }
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    CDetectScript detector(*servers);
    CPrintingSink sink(m_bJson);
    CPageWanNote wanNote;
    wanNote.Clear(router->address);
    const SpiderSettings settings = Settings(*router, *password, wanNote);
    // A stop request abandons the run: detection and the transfer in flight end at once.
    CSpiderRun run(sink, detector, &InterruptFlag());
    run.Prepare(settings);
    run.Run();

    const RouterReached& reached = run.Reached();
    if (!reached.trusted.shown.pin.empty()) {
        SayKeyTrusted(reached.trusted, settings.router.strKnownRouters, reached.rememberFailure);
    }
    const bool bKeyRefused = !reached.refused.shown.pin.empty();
    const std::string reason = bKeyRefused ? std::string() : SayWhatFailed(run, sink, settings);
    // A run that ended on a login it could not pass: no deeper search gets past it.
    const bool bLoginRefused = IsLoginRefused(run.StartStatus()) || !run.LoginFailure().empty();
    const bool bReported = ShowPages(run, sink);
    const std::uint32_t address =
        sink.Address().empty() ? 0 : ntohl(ClassicInetAddr(sink.Address()));
    const int outcome = run.Outcome(address, sink.FoundCount());
    if (!m_bJson) {
        PrintLine(LoadString(outcome));
    }
    std::string diagnosis;
    if (bKeyRefused) {
        // Nothing more is asked of a router whose key is not trusted, its UPnP neither.
        const Exit refused = KeyRefused(reached.refused, settings.router.strKnownRouters);
        if (m_bJson) {
            RunRecord(run, sink, outcome,
                      reached.refused.Changed() ? "changed key" : "untrusted key", {})
                .Print();
        }
        return bReported ? refused.status : kExitCannotCreate;
    }
    if (outcome == IDS_NO_STATUS_PAGE && !bLoginRefused) {
        CGateway gateway = GatewayOf(m_limits.gateway, m_bVerbose);
        diagnosis = NoStatusPageDiagnosis(gateway, router->address, address, wanNote);
        if (!diagnosis.empty()) {
            SayBare(Priority::Warning, diagnosis);
        } else if (!m_bDeep && sink.Parsed() > 0 && !Interrupted()) {
            // Pages were read and nothing shows why none holds the address: their scripts may
            // lead on.
            Say(Priority::Info, "a deeper search may find it: run again with --deep");
        }
    }
    if (m_bJson) {
        CJsonRecord record = RunRecord(run, sink, outcome, reason, diagnosis);
        if (m_bListParsed) {
            PrintWithPages(record, run);
        } else {
            record.Print();
        }
    }
    return bReported ? ExitStatus(outcome) : kExitCannotCreate;
}

std::string CSpiderCommand::SayWhatFailed(const CSpiderRun& run, const CPrintingSink& sink,
                                          const SpiderSettings& settings) const {
    std::string reason;
    if (!run.LoginFailure().empty()) {
        reason = RefusedLoginReason(run.LoginFailure());
    } else if (IsLoginRefused(run.StartStatus())) {
        reason = RouterReason({{}, run.StartStatus()});
    } else if (sink.Parsed() == 0 && !sink.Address().empty() && !run.IsCancelled()) {
        reason =
            "no page could be read from " + settings.router.Url("/") + ": " + sink.FirstFailure();
    }
    if (!reason.empty()) {
        Say(Priority::Error, EscapeControls(reason));
    }
    if (sink.SkippedNames() > 0) {
        std::ostringstream spent;
        spent << std::chrono::duration<double>(settings.lookupBudget).count();
        Say(Priority::Warning, std::to_string(sink.SkippedNames()) +
                                   (sink.SkippedNames() == 1 ? " host name" : " host names") +
                                   " in links left unresolved: the run's " + spent.str() +
                                   " s for name lookups was spent");
    }
    if (sink.PagesGivenUp() > 0) {
        Say(Priority::Warning,
            std::to_string(sink.PagesGivenUp()) + (sink.PagesGivenUp() == 1 ? " page" : " pages") +
                " left some links unfollowed: the run's " + std::to_string(kWaitingLimit >> 20) +
                " MiB for links waiting to be followed was spent");
    }
    return reason;
}

bool CSpiderCommand::ShowPages(const CSpiderRun& run, const CPrintingSink& sink) const {
    if (!m_bJson) {
        PrintLine("Parsed pages: " + std::to_string(sink.Parsed()));
    }
    // The scheme the paths were read by, once for all: a plain router's list is paths alone.
    const std::string router = HttpsRouterText(run.Settings().router, run.Reached());
    if (m_bListParsed && !m_bJson && !router.empty()) {
        PrintLine("Router: " + router);
    }
    if (m_bListParsed && !m_bJson) {
        // Many lines a write, and none once standard output is gone (a pipe to head).
        std::string lines;
        const auto flush = [&lines] {
            if (!lines.empty()) {
                lines.pop_back();  // PrintLine ends the text with its own newline
                PrintLine(lines);
                lines.clear();
            }
        };
        run.ParsedPages().ForEachPage(
            [&](const std::string& path, PageOrigin origin, bool bAfterLogin) {
                lines.append("Parsed: ");
                AppendEscapedUnsafeText(lines, path);
                lines.append(OriginMark(origin, bAfterLogin)).append("\n");
                if (lines.size() >= kListBufferBytes) {
                    flush();
                }
                return !OutputFailed();
            });
        flush();
    }
    return !m_report || WriteReport(*m_report, run.ParsedPages(), router);
}

void CSpiderCommand::PrintWithPages(const CJsonRecord& record, const CSpiderRun& run) {
    CJsonListPrinter pages(record, "pages");
    run.ParsedPages().ForEachPage([&pages](const std::string& path, PageOrigin origin,
                                           bool bAfterLogin) {
        CJsonRecord page;
        page.Text("path", path).Text("origin", OriginName(origin)).Flag("after_login", bAfterLogin);
        return pages.Add(page);
    });
    pages.End();
}

}  // namespace

std::unique_ptr<CCommand> NewSpiderCommand() {
    return std::make_unique<CSpiderCommand>();
}
