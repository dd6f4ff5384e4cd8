// velmo-cli spider: the Status tab's run, for scripts.
#include <arpa/inet.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>

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
#include "core/spider/SpiderRules.h"
#include "core/spider/SpiderRun.h"
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
                   "address tells.\nExit status: 0 found, 1 none found, 2 no public address, 3 "
                   "cancelled, 64 usage, 68 no address for HOST, 73 report not written, 74 "
                   "output not written.") {}

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
    AddDetectUrls(app, m_detectUrls);
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
        PrintLine(LoadString(IDS_TEST_CANCELLED));
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    CDetectScript detector(m_externalAddress ? std::vector<std::string>()
                                             : DetectionServersInForce(m_detectUrls));
    CPrintingSink sink;
    CPageWanNote wanNote;
    wanNote.Clear(router->address);
    const SpiderSettings settings = Settings(*router, *password, wanNote);
    // A stop request abandons the run: detection and the transfer in flight end at once.
    CSpiderRun run(sink, detector, &InterruptFlag());
    run.Prepare(settings);
    run.Run();

    const bool bLoginRefused = SayWhatFailed(run, sink, settings);
    const bool bReported = ShowPages(run, sink);
    const std::uint32_t address =
        sink.Address().empty() ? 0 : ntohl(ClassicInetAddr(sink.Address()));
    const int outcome = run.Outcome(address, sink.FoundCount());
    PrintLine(LoadString(outcome));
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
    return bLoginRefused;
}

bool CSpiderCommand::ShowPages(const CSpiderRun& run, const CPrintingSink& sink) const {
    PrintLine("Parsed pages: " + std::to_string(sink.Parsed()));
    if (m_bListParsed) {
        run.ParsedPages().ForEachPath([](const std::string& path, PageOrigin origin) {
            PrintLine("Parsed: " + EscapeControls(path) + std::string(OriginMark(origin)));
            return true;
        });
    }
    return !m_report || WriteReport(*m_report, run.ParsedPages());
}

}  // namespace

std::unique_ptr<CCommand> NewSpiderCommand() {
    return std::make_unique<CSpiderCommand>();
}
