// velmo-cli spider: the Status tab's run, for scripts.
#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <iostream>
#include <sstream>

#include "cli/Commands.h"
#include "cli/GatewayCommand.h"
#include "cli/Interrupt.h"
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
bool WriteReport(const std::string& path, const CParsedPageList& pages,
                 const std::string& router) {
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
        : CCommand("spider", "HOST[:PORT]",
                   "find the router pages that show the public address\n"
                   "Crawls the router's pages from \"/\" and lists every page that shows the "
                   "public address. When none does, asks the router itself (UPnP IGD, then "
                   "NAT-PMP) and says on standard error why no page can show it, if its WAN "
                   "address tells.\nOver https (https://HOST[:PORT], 443 by default) the router "
                   "is trusted by its certificate key, which is remembered in "
                   "~/.config/velmo/known-routers: a router whose key is not known yet, or not the "
                   "one remembered, is sent nothing.\nExit status: 0 found, 1 none found, 2 no "
                   "public address, 3 cancelled, 4 the router's key is not trusted (nothing was "
                   "sent), 64 usage, 73 report not written (cannot create output).") {}

    void Define(CLI::App& app) override;
    int Run() override;

private:
    // What the run needs besides the router target; `wanNote` sees every page it reads.
    SpiderSettings Settings(const RouterTarget& router, const std::string& password,
                            CPageWanNote& wanNote) const;
    // Once the run has ended: a refused login, or why no page could be read, and the names in
    // links that were left unresolved. True when the login was refused.
    bool SayWhatFailed(const CSpiderRun& run, const CPrintingSink& sink,
                       const SpiderSettings& settings) const;
    // The count of the pages read, each one with --list-parsed, and the report of --report;
    // false when the report was not written.
    bool ShowPages(const CSpiderRun& run, const CPrintingSink& sink) const;

    std::string m_router;
    RouterTarget m_target;  // of m_router, once the line is parsed
    LoginOptions m_login;
    std::optional<std::string> m_externalAddress;
    bool m_bListParsed = false;
    bool m_bDeep = false;
    std::optional<std::string> m_report;
    std::vector<std::string> m_detectUrls;
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
    AddTimeLimits(app, m_limits.timeouts);
    AddVerbose(app, m_bVerbose);
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
        std::cout << LoadString(IDS_TEST_CANCELLED) << std::endl;
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    CDetectScript detector(*servers);
    CPrintingSink sink;
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
    const bool bLoginRefused = !bKeyRefused && SayWhatFailed(run, sink, settings);
    const bool bReported = ShowPages(run, sink);
    const std::uint32_t address =
        sink.Address().empty() ? 0 : ntohl(ClassicInetAddr(sink.Address()));
    const int outcome = run.Outcome(address, sink.FoundCount());
    std::cout << LoadString(outcome) << std::endl;
    if (bKeyRefused) {
        // Nothing more is asked of a router whose key is not trusted, its UPnP neither.
        const Exit refused = KeyRefused(reached.refused, settings.router.strKnownRouters);
        return bReported ? refused.status : kExitCannotCreate;
    }
    // Pages were read and nothing shows why none holds the address: their scripts may lead on.
    CGateway gateway = GatewayOf(m_limits.gateway, m_bVerbose);
    if (outcome == IDS_NO_STATUS_PAGE && !bLoginRefused &&
        !ExplainNoStatusPage(gateway, router->address, address, wanNote) && !m_bDeep &&
        sink.Parsed() > 0 && !Interrupted()) {
        Say(Priority::Info, "a deeper search may find it: run again with --deep");
    }
    return bReported ? ExitStatus(outcome) : kExitCannotCreate;
}

bool CSpiderCommand::SayWhatFailed(const CSpiderRun& run, const CPrintingSink& sink,
                                   const SpiderSettings& settings) const {
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
    if (sink.PagesGivenUp() > 0) {
        Say(Priority::Warning,
            std::to_string(sink.PagesGivenUp()) + (sink.PagesGivenUp() == 1 ? " page" : " pages") +
                " left some links unfollowed: the run's " + std::to_string(kWaitingLimit >> 20) +
                " MiB for links waiting to be followed was spent");
    }
    return bLoginRefused;
}

bool CSpiderCommand::ShowPages(const CSpiderRun& run, const CPrintingSink& sink) const {
    std::cout << "Parsed pages: " << sink.Parsed() << '\n';
    const RouterReached& reached = run.Reached();
    // The scheme the paths were read by, once for all: a plain router's list is paths alone.
    std::string router;
    if (reached.bHttps) {
        ComposeRouterUrl(run.Settings().router.nAddress, reached.nPort, "/", router, true);
        if (reached.bRedirected) {
            router += " (redirected from " + run.Settings().router.Url("/") + ")";
        }
    }
    if (m_bListParsed && !router.empty()) {
        std::cout << "Router: " << router << '\n';
    }
    if (m_bListParsed) {
        // Through a buffer of its own, after what stands in the stream's, and no further once
        // standard output is gone (a pipe to head).
        std::cout.flush();
        CReportWriter out(STDOUT_FILENO);
        std::string line;
        run.ParsedPages().ForEachPath([&](const std::string& path, PageOrigin origin) {
            line.assign("Parsed: ");
            AppendEscapedUnsafeText(line, path);
            line.append(OriginMark(origin)).append("\n");
            return out.Write(line);
        });
        out.Flush();
    }
    return !m_report || WriteReport(*m_report, run.ParsedPages(), router);
}

}  // namespace

std::unique_ptr<CCommand> NewSpiderCommand() {
    return std::make_unique<CSpiderCommand>();
}
