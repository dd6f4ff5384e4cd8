#include "cli/GatewayCommand.h"

#include <chrono>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Exit.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace {

CAbortSignal Abort() {
    return CAbortSignal(&InterruptFlag());
}

// "203.0.113.45", "none", or why nothing came back.
std::string Said(const GatewayAnswer& answer) {
    switch (answer.kind) {
        case GatewayAnswer::Kind::Address:
            return DottedAddress(answer.address);
        case GatewayAnswer::Kind::None:
            return "none";
        case GatewayAnswer::Kind::NoAnswer:
            break;
    }
    return answer.why;
}

std::string Reasons(const std::vector<GatewayAnswer>& answers) {
    std::string reasons;
    for (const GatewayAnswer& answer : answers) {
        reasons += (reasons.empty() ? "" : "; ") + answer.source + ": " + answer.why;
    }
    return reasons;
}

int GatewayEach(CGateway& gateway, const GatewayTarget& target) {
    int status = 2;
    for (const GatewayMethod method : {GatewayMethod::UpnpIgd, GatewayMethod::NatPmp}) {
        const auto start = std::chrono::steady_clock::now();
        const GatewayAnswer answer = gateway.Ask(method, target, Abort());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (Interrupted()) {
            return kExitInterrupted;
        }
        PrintLine(answer.source + '\t' + Said(answer) + '\t' + std::to_string(took.count()) +
                  " ms");
        if (answer.kind == GatewayAnswer::Kind::Address) {
            status = 0;
        } else if (answer.kind == GatewayAnswer::Kind::None && status == 2) {
            status = 1;
        }
    }
    return status;
}

// velmo-cli gateway: 0 an address, 1 the router has none of its own, 2 no answer, 3 interrupted.
class CGatewayCommand final : public CCommand {
public:
    CGatewayCommand()
        : CCommand("gateway", "",
                   "print the router's WAN address, as the router tells it\n"
                   "Asks the router by UPnP IGD, then by NAT-PMP, and prints its WAN address and "
                   "where it came from.\nExit status: 0 an address, 1 the router has none of its "
                   "own, 2 no answer, 3 interrupted, 64 usage, 74 output not written.") {}

    void Define(CLI::App& app) override {
        m_target.Add(app);
        app.add_flag("--each", m_bEach,
                     "ask by each method once; print what was asked, the address, none or why no "
                     "answer, and time taken");
        AddVerbose(app, m_bVerbose);
        AddQuiet(app, "say nothing of what the WAN address means: the answer and errors only");
    }

    int Run() override {
        CGateway gateway = GatewayOf(m_limits.gateway, m_bVerbose);
        const GatewayTarget target = m_target.Target();
        if (m_bEach) {
            return GatewayEach(gateway, target);
        }
        const std::vector<GatewayAnswer> answers = AskGatewayInTurn(gateway, target, Abort());
        if (Interrupted()) {
            return kExitInterrupted;
        }
        const GatewayAnswer& best = BestGatewayAnswer(answers);
        if (!best.Answered()) {
            for (const GatewayAnswer& answer : answers) {
                Say(Priority::Error, answer.source + ": " + answer.why);
            }
            return 2;
        }
        PrintLine(Said(best) + " (" + best.source + ')');
        const std::string diagnosis = DiagnoseRouterWan(RouterWanOf(best, 0), 0);
        if (!diagnosis.empty()) {
            SayBare(Priority::Warning, diagnosis);
        }
        return best.kind == GatewayAnswer::Kind::Address ? 0 : 1;
    }

private:
    GatewayTargetOptions m_target;
    bool m_bEach = false;
    bool m_bVerbose = false;
};

}  // namespace

CGateway GatewayOf(const GatewayLimits& limits, bool bVerbose) {
    GatewayNotes notes;
    if (bVerbose) {
        notes = [](const std::string& note) {
            Say(Priority::Debug, "gateway: " + EscapeControls(note));
        };
    }
    return CGateway(limits, std::move(notes));
}

std::unique_ptr<CCommand> NewGatewayCommand() {
    return std::make_unique<CGatewayCommand>();
}

bool ReadGatewayAddress(IGateway& gateway, const GatewayTarget& target, std::string& result,
                        std::string& why) {
    const std::vector<GatewayAnswer> answers = AskGatewayInTurn(gateway, target, Abort());
    const GatewayAnswer& best = BestGatewayAnswer(answers);
    switch (best.kind) {
        case GatewayAnswer::Kind::Address:
            result = DottedAddress(best.address);
            return true;
        case GatewayAnswer::Kind::None:
            why = best.source + ": the router has no internet address of its own";
            return false;
        case GatewayAnswer::Kind::NoAnswer:
            why = Reasons(answers);
            return false;
    }
    return false;
}

bool ExplainNoStatusPage(IGateway& gateway, std::uint32_t router, std::uint32_t publicAddress,
                         const CPageWanNote& note) {
    const std::vector<GatewayAnswer> answers =
        AskGatewayInTurn(gateway, GatewayTargetOfRouter(router), Abort());
    if (Interrupted()) {
        return false;
    }
    const std::string diagnosis =
        DiagnoseRouterWan(RouterWanOf(BestGatewayAnswer(answers), note.Address()), publicAddress);
    if (!diagnosis.empty()) {
        SayBare(Priority::Warning, diagnosis);
    }
    return !diagnosis.empty();
}

void CheckGateway(IGateway& gateway, const GatewayTarget& target, std::uint32_t publicAddress) {
    const std::vector<GatewayAnswer> answers = AskGatewayInTurn(gateway, target, Abort());
    if (Interrupted()) {
        return;
    }
    const GatewayAnswer& best = BestGatewayAnswer(answers);
    const std::string diagnosis = DiagnoseRouterWan(RouterWanOf(best, 0), publicAddress);
    if (!diagnosis.empty()) {
        SayBare(Priority::Warning, diagnosis);
    } else if (best.Answered()) {
        Say(Priority::Info, "gateway: " + Said(best) + " (" + best.source + ")");
    } else {
        Say(Priority::Error, "gateway: " + Reasons(answers));
    }
}
