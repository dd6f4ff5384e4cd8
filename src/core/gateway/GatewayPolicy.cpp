#include <algorithm>

#include "core/gateway/Gateway.h"

namespace {

bool IsLoopback(std::uint32_t address) {
    return (address >> 24) == 127;
}

}  // namespace

GatewayTarget GatewayTargetOfRouter(std::uint32_t router) {
    GatewayTarget target;
    target.igdHost = router;
    target.natpmpGateway = router;
    target.bOnThisMachine = IsLoopback(router);
    return target;
}

std::vector<GatewayAnswer> AskGatewayInTurn(IGateway& gateway, const GatewayTarget& target,
                                            const CAbortSignal& abort) {
    std::vector<GatewayAnswer> answers;
    answers.push_back(gateway.Ask(GatewayMethod::UpnpIgd, target, abort));
    if (answers.back().kind != GatewayAnswer::Kind::Address && !abort.IsSet()) {
        answers.push_back(gateway.Ask(GatewayMethod::NatPmp, target, abort));
    }
    return answers;
}

const GatewayAnswer& BestGatewayAnswer(const std::vector<GatewayAnswer>& answers) {
    for (const GatewayAnswer::Kind kind :
         {GatewayAnswer::Kind::Address, GatewayAnswer::Kind::None}) {
        const auto found = std::find_if(answers.begin(), answers.end(),
                                        [kind](const GatewayAnswer& a) { return a.kind == kind; });
        if (found != answers.end()) {
            return *found;
        }
    }
    return answers.front();
}

std::string GatewayReasons(const std::vector<GatewayAnswer>& answers) {
    std::string reasons;
    for (const GatewayAnswer& answer : answers) {
        reasons += (reasons.empty() ? "" : "; ") + answer.source + ": " + answer.why;
    }
    return reasons;
}

GatewayAnswer JudgedGatewayAnswer(GatewayAnswer answer) {
    if (answer.kind != GatewayAnswer::Kind::Address ||
        ClassifyWanAddress(answer.address) != WanKind::Unusable) {
        return answer;
    }
    return GatewayAnswer::Failure(std::move(answer.source), GatewayError::BadAddress,
                                  "the answer names an address that no router's WAN side can "
                                  "hold (reserved, loopback, link-local or multicast)");
}

RouterWan RouterWanOf(const GatewayAnswer& answer, std::uint32_t pageAddress) {
    if (answer.Answered()) {
        return {true, answer.kind == GatewayAnswer::Kind::Address ? answer.address : 0};
    }
    return {pageAddress != 0, pageAddress};
}
