// velmo-cli trust: the keys of the https routers the user trusts, listed or forgotten.
#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/RouterHost.h"
#include "core/net/KnownRouters.h"

namespace {

class CTrustCommand final : public CCommand {
public:
    CTrustCommand()
        : CCommand(
              "trust", "",
              "list the https routers whose key is trusted, or forget one\n"
              "Prints the known-routers file's name and each router in it with its key's "
              "fingerprint. With --forget, removes the router's line, so that a later run that "
              "trusts a new key may trust the one it shows then.\nExit status: 0, "
              "1 no key was remembered for the router, 64 usage, 73 the file could not be "
              "written, 74 output not written.") {}

    void Define(CLI::App& app) override {
        app.add_option("--forget", m_forget,
                       "forget the key remembered for the router at https://ADDRESS[:PORT]")
            ->type_name("ROUTER");
        Rule([this]() -> std::string {
            if (m_forget.empty()) {
                return std::string();
            }
            const std::string refused = ParseRouter(m_forget, m_target);
            if (refused.empty() && (!m_target.bHttps || m_target.address == 0)) {
                return "--forget takes the router as https://ADDRESS[:PORT], its IPv4 address in "
                       "dotted decimal";
            }
            return refused;
        });
    }

    int Run() override {
        const std::string file = KnownRoutersFilePath();
        if (file.empty()) {
            return Fail(kExitCannotCreate,
                        "no known-routers file: neither XDG_CONFIG_HOME nor "
                        "HOME is set");
        }
        if (m_forget.empty()) {
            PrintLine("Known routers: " + EscapeControls(file));
            for (const auto& [router, pin] : KnownRouterKeys(file)) {
                PrintLine("https://" + EscapeControls(router) + " " + EscapeControls(pin));
            }
            return 0;
        }
        bool bRemoved = false;
        std::string error;
        const auto port = static_cast<std::uint16_t>(m_target.port & 0xFFFF);
        if (!ForgetRouterKey(file, m_target.address, port, bRemoved, error)) {
            return Fail(kExitCannotCreate, EscapeControls(error));
        }
        const std::string router = "https://" + KnownRouterName(m_target.address, port);
        if (!bRemoved) {
            return Fail(1, "no key is remembered for " + router + " in " + EscapeControls(file));
        }
        Say(Priority::Info, "forgot the key of " + router);
        return 0;
    }

private:
    std::string m_forget;
    RouterTarget m_target;
};

}  // namespace

std::unique_ptr<CCommand> NewTrustCommand() {
    return std::make_unique<CTrustCommand>();
}
