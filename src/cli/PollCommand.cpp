// velmo-cli poll: the Polling tab's reading, once per interval, of a page or of the router itself.
#include <CLI/CLI.hpp>

#include <cmath>
#include <ctime>
#include <functional>
#include <memory>

#include "cli/ChangeCommand.h"
#include "cli/Commands.h"
#include "cli/GatewayCommand.h"
#include "cli/Interrupt.h"
#include "cli/JsonRecord.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/PollState.h"
#include "cli/RouterHost.h"
#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/login/RouterSession.h"
#include "core/net/RouterUrl.h"
#include "core/polling/PollLine.h"
#include "core/polling/PollReading.h"
#include "core/spider/SpiderRules.h"
#include "core/text/StringTable.h"

namespace {

std::string CheckCount(const std::string& text) {
    const std::optional<long> value = WholeNumber(text);
    return value && *value >= 1 ? std::string() : "takes a whole number of 1 or more";
}

// One reading; its `status` is the page's HTTP status, found or not.
using PollReader = std::function<PollReading()>;

// The local time of a reading for --json, as ISO 8601 writes it with the offset from UTC:
// "2026-12-07T14:05:09+01:00".
std::string IsoLocalTime(std::time_t when) {
    std::tm local{};
    char text[64] = "";
    if (localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) {
        return {};
    }
    std::string iso = text;
    if (iso.size() > 2) {
        iso.insert(iso.size() - 2, 1, ':');  // +0100: +01:00
    }
    return iso;
}

class CPollCommand final : public CCommand {
public:
    CPollCommand()
        : CCommand("poll", "[[https://]HOST[:PORT] PATH]",
                   "print the address a router page shows, every interval\n"
                   "Reads the page (with --gateway: asks the router itself, as the gateway "
                   "command does) at once and then once per interval, and prints the time and "
                   "the address, or n/a.\nOver https (https://HOST[:PORT]) the router's key must "
                   "be trusted, as for spider.\nExit status: 0, 3 when interrupted, 4 the "
                   "router's key is not trusted (nothing was sent), 64 usage, 68 no address for "
                   "HOST, 74 output not written.") {}

    void Define(CLI::App& app) override;
    int Run() override { return m_bGateway ? PollGateway() : PollPage(); }

private:
    int PollPage();
    int PollGateway();
    // Reads at once, then once per interval; each read starts one interval after the one before
    // ended, so a slow router or a suspended machine never makes reads pile up. `source` names
    // what is read, in the line of a failed reading and in --json.
    int PollEachInterval(const std::string& source, const PollReader& readOnce) const;

    std::string m_router;   // with m_path, unless --gateway
    RouterTarget m_target;  // of m_router, once the line is parsed
    std::string m_path;
    LoginOptions m_login;
    std::string m_exclude;
    double m_interval = 60;  // seconds
    std::optional<long> m_count;
    std::optional<std::string> m_onChange;  // run through /bin/sh -c when the address changes
    bool m_bGateway = false;                // the router itself instead of a page
    GatewayTargetOptions m_gateway;
    std::optional<std::string> m_state;  // the file that keeps the last address read
    bool m_bJson = false;
    bool m_bVerbose = false;
    bool m_bTrustNew = false;
};

void CPollCommand::Define(CLI::App& app) {
    app.add_option("HOST", m_router);
    app.add_option("PATH", m_path);
    m_login.Add(*this, app, "the router's pages");
    AddExclude(app, m_exclude);
    app.add_option("--interval", m_interval, "the time between two readings, 1 to 86400 (60)")
        ->type_name("SECONDS")
        ->check(SecondsFrom(1));
    app.add_option_function<long>(
           "--count", [this](long count) { m_count = count; }, "stop after N readings")
        ->type_name("N")
        ->check(CheckCount);
    app.add_option_function<std::string>(
           "--on-change", [this](const std::string& command) { m_onChange = command; },
           "run CMD with /bin/sh -c each time the address changes; it finds the address in "
           "VELMO_ADDRESS, the one before in VELMO_PREVIOUS_ADDRESS")
        ->type_name("CMD");
    app.add_flag("--gateway", m_bGateway,
                 "ask the router itself (UPnP IGD, then NAT-PMP) instead of reading a page; "
                 "takes no HOST, PATH, login or exclusions");
    m_gateway.Add(app);
    app.add_option_function<std::string>(
           "--state", [this](const std::string& path) { m_state = path; },
           "keep the last address read in FILE, so that --on-change runs only when the address "
           "differs from the one before, across restarts")
        ->type_name("FILE");
    AddTrustNewKey(app, m_bTrustNew);
    AddQuiet(app, "print only changes of the address and errors");
    AddJson(app, m_bJson, "each reading");
    AddTimeLimits(app, m_limits.timeouts);
    AddVerbose(app, m_bVerbose);

    Rule([this] {
        return m_bGateway && (!m_router.empty() || !m_path.empty() || m_login.Given() ||
                              !m_exclude.empty())
                   ? "poll --gateway reads no page: it takes no HOST, PATH, login, password or "
                     "exclusions"
                   : "";
    });
    Rule([this] {
        return !m_bGateway && m_gateway.Given() ? "--igd and --natpmp go with --gateway" : "";
    });
    Rule([this] {
        return !m_bGateway && m_router.empty() ? "poll takes HOST[:PORT] PATH, or --gateway" : "";
    });
    Rule([this] { return m_bGateway ? std::string() : ParseRouter(m_router, m_target); });
}

int CPollCommand::PollEachInterval(const std::string& source, const PollReader& readOnce) const {
    // The address read last, dotted: a reading is a change when it differs.
    std::optional<std::string> last = m_state ? LoadPollState(*m_state) : std::nullopt;
    std::unique_ptr<CChangeCommand> onChange;
    if (m_onChange) {
        onChange = std::make_unique<CChangeCommand>(*m_onChange);
        if (last) {
            onChange->Resume(*last);
        }
    }
    const std::chrono::milliseconds interval =
        m_limits.pollInterval.value_or(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(m_interval)));
    for (long read = 0; !m_count || read < *m_count; ++read) {
        if (read > 0 && (onChange ? onChange->SleepUnlessInterrupted(interval)
                                  : SleepUnlessInterrupted(interval))) {
            break;
        }
        const std::time_t now = std::time(nullptr);
        PollReading reading;
        if (!Interrupted()) {
            reading = readOnce();
        }
        if (Interrupted()) {
            break;  // the read was cut short: it tells nothing
        }
        const bool bFound = reading.Found();
        const std::string& result = reading.result;
        const bool bChange = bFound && JudgedAddress(result) != last;
        if (m_bJson) {
            PrintPollLine(CJsonRecord()
                              .Text("time", IsoLocalTime(now))
                              .Text("source", reading.gateway.empty() ? source : reading.gateway)
                              .TextOrNull("address", bFound ? JudgedAddress(result) : "")
                              .Flag("change", bChange)
                              .NumberOrNull("http_status", reading.status)
                              .TextOrNull("reason", reading.reason)
                              .Line(),
                          bChange);
        } else {
            PrintPollLine(FormatPollLine(now, result), bChange);
        }
        if (!bFound) {
            Say(Priority::Error, EscapeControls(source) + ": " + EscapeControls(reading.reason));
        }
        if (bChange) {
            last = JudgedAddress(result);
            if (m_state) {
                SavePollState(*m_state, *last);
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

int CPollCommand::PollGateway() {
    CGateway gateway = GatewayOf(m_limits.gateway, m_bVerbose);
    const GatewayTarget target = m_gateway.Target();
    return PollEachInterval("gateway",
                            [&] { return ReadRouterAnswer(gateway, target, GatewayAbort()); });
}

int CPollCommand::PollPage() {
    const OrExit<RouterTarget> router =
        ResolveRouter(m_target, m_limits.lookup, m_limits.lookupLimit);
    if (!router) {
        return router.Status();
    }
    std::string url;
    if (m_path.empty() ||
        !ComposeRouterUrl(router->address, static_cast<std::uint16_t>(router->port & 0xFFFF),
                          m_path, url, router->bHttps)) {
        return Usage(LoadString(IDS_INVALID_PATH));
    }
    const OrExit<std::string> password = m_login.Password(router->host);
    if (!password) {
        return password.Status();
    }
    if (Interrupted()) {
        return kExitInterrupted;  // stopped at the prompt: nothing is requested
    }
    const std::string login = RouterLogin(m_login.login, *password);
    const std::string exclusions = NormalizedExclusions(m_exclude);
    // One trust for every reading: a key trusted new at the first is the one the others must show.
    const std::string knownRouters = KnownRoutersFilePath();
    CRouterTrust trust(knownRouters, router->address, m_bTrustNew);
    bool bKeyRefused = false;
    bool bTrustSaid = false;
    // One session for the whole of polling: its cookies, Digest and login go from tick to tick.
    RouterAccess access = RouterAccessFor(m_login.login, *password, router->address, router->port);
    access.bHttps = router->bHttps;
    CRouterSession session(std::move(access));
    const int polled = PollEachInterval(url, [&] {
        ProbeFailure failure;
        long status = 0;
        FetchOptions fetching = Fetching(m_limits.timeouts, m_bVerbose, true, &status);
        fetching.trust = &trust;  // a plain router may send the run to its https
        PollReading reading = ReadPolledPage(session, url, exclusions, fetching, &failure);
        if (failure.error == FetchError::Untrusted || failure.error == FetchError::KeyChanged) {
            bKeyRefused = true;  // nothing more is asked of it
            RequestStop();
        }
        if (!bTrustSaid && !trust.TrustedNew().shown.pin.empty()) {
            SayKeyTrusted(trust.TrustedNew(), knownRouters, trust.RememberFailure());
            bTrustSaid = true;
        }
        reading.status = status;
        if (!reading.Found()) {
            // velmo-cli's own words
            reading.reason = session.LoginFailure().empty()
                                 ? RouterReason(failure)
                                 : RefusedLoginReason(session.LoginFailure());
        }
        return reading;
    });
    return bKeyRefused ? KeyRefused(trust.Refused(), knownRouters) : Exit{polled};
}

}  // namespace

std::unique_ptr<CCommand> NewPollCommand() {
    return std::make_unique<CPollCommand>();
}
