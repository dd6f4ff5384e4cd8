#include "cli/GatewayCommand.h"

#include <chrono>
#include <iostream>
#include <vector>

#include "cli/Interrupt.h"
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
        std::cout << answer.source << '\t' << Said(answer) << '\t' << took.count() << " ms"
                  << std::endl;
        if (answer.kind == GatewayAnswer::Kind::Address) {
            status = 0;
        } else if (answer.kind == GatewayAnswer::Kind::None && status == 2) {
            status = 1;
        }
    }
    return status;
}

}  // namespace

CGateway GatewayOf(const CommandLine& line) {
    GatewayNotes notes;
    if (line.bVerbose) {
        notes = [](const std::string& note) {
            Say(Priority::Debug, "gateway: " + EscapeControls(note));
        };
    }
    return CGateway(line.gatewayLimits, std::move(notes));
}

GatewayTarget GatewayTargetOf(const CommandLine& line) {
    GatewayTarget target;
    target.igdUrl = line.igdUrl;
    target.natpmpGateway = ParseDottedQuad(line.natpmpGateway).value_or(0);
    return target;
}

int Gateway(const CommandLine& line) {
    CGateway gateway = GatewayOf(line);
    const GatewayTarget target = GatewayTargetOf(line);
    if (line.bEach) {
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
    std::cout << Said(best) << " (" << best.source << ')' << std::endl;
    const std::string diagnosis = DiagnoseRouterWan(RouterWanOf(best, 0), 0);
    if (!diagnosis.empty()) {
        SayBare(Priority::Warning, diagnosis);
    }
    return best.kind == GatewayAnswer::Kind::Address ? 0 : 1;
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

bool ExplainNoStatusPage(const CommandLine& line, std::uint32_t router, std::uint32_t publicAddress,
                         const CPageWanNote& note) {
    CGateway gateway = GatewayOf(line);
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

void CheckGateway(const CommandLine& line, std::uint32_t publicAddress) {
    CGateway gateway = GatewayOf(line);
    const std::vector<GatewayAnswer> answers =
        AskGatewayInTurn(gateway, GatewayTargetOf(line), Abort());
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
