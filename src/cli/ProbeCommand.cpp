// velmo-cli probe: the first acceptable address on one page.
#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/JsonRecord.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/net/RouterUrl.h"

namespace {

class CProbeCommand final : public CCommand {
public:
    CProbeCommand()
        : CCommand("probe", "URL",
                   "print the first acceptable address on one page\n"
                   "Prints the first acceptable address of the page, or n/a.\n"
                   "Exit status: 0 found, 1 not, 3 interrupted, 64 usage, 74 output not "
                   "written.") {}

    void Define(CLI::App& app) override {
        app.add_option("URL", m_url);
        Rule([this] {
            return m_url.empty() ? "probe needs URL, the page to read; velmo-cli probe --help" : "";
        });
        m_login.Add(*this, app, "the page");
        AddAllowReserved(app, m_bAllowReserved);
        AddExclude(app, m_exclude);
        AddJson(app, m_bJson, "the result");
        AddTimeLimits(app, m_limits.timeouts);
        AddVerbose(app, m_bVerbose);
    }

    int Run() override {
        std::string host;
        std::uint16_t port = 0;
        CrackUrlHost(m_url, host, port);
        const OrExit<std::string> password = m_login.Password(host);
        if (!password) {
            return password.Status();
        }
        if (Interrupted()) {
            return kExitInterrupted;  // stopped at the prompt: nothing is requested
        }
        std::string result = "n/a";
        ProbeFailure failure;
        long status = 0;
        const bool bFound = ProbeAddress(
            m_url, m_login.login, *password, m_bAllowReserved, NormalizedExclusions(m_exclude),
            result, Fetching(m_limits.timeouts, m_bVerbose, true, &status), &failure);
        if (Interrupted()) {
            return kExitInterrupted;  // the read was cut short: it tells nothing
        }
        if (m_bJson) {
            CJsonRecord()
                .Text("source", m_url)
                .TextOrNull("address", bFound ? JudgedAddress(result) : std::string())
                .NumberOrNull("http_status", status)
                .TextOrNull("reason", bFound ? std::string() : RouterReason(failure))
                .Print();
        } else {
            PrintLine(result);
        }
        if (!bFound) {
            Say(Priority::Error,
                EscapeControls(m_url) + ": " + EscapeControls(RouterReason(failure)));
        }
        return bFound ? 0 : 1;
    }

private:
    std::string m_url;
    LoginOptions m_login;
    bool m_bAllowReserved = false;
    std::string m_exclude;
    bool m_bJson = false;
    bool m_bVerbose = false;
};

}  // namespace

std::unique_ptr<CCommand> NewProbeCommand() {
    return std::make_unique<CProbeCommand>();
}
