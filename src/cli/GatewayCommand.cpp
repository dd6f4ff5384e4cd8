#include "cli/GatewayCommand.h"

#include <chrono>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Exit.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace {

constexpr const char* kNoAddressOfItsOwn = "the router has no internet address of its own";

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

std::string_view Outcome(GatewayAnswer::Kind kind) {
    switch (kind) {
        case GatewayAnswer::Kind::Address:
            return "address";
        case GatewayAnswer::Kind::None:
            return "none";
        case GatewayAnswer::Kind::NoAnswer:
            break;
    }
    return "no_answer";
}

// `record` with what `answer` says: its source, outcome, address and why there is none.
CJsonRecord AnswerRecord(CJsonRecord record, const GatewayAnswer& answer) {
    const bool bAddress = answer.kind == GatewayAnswer::Kind::Address;
    record.Text("source", answer.source)
        .Text("outcome", Outcome(answer.kind))
        .TextOrNull("address", bAddress ? DottedAddress(answer.address) : std::string())
        .TextOrNull("reason", answer.kind == GatewayAnswer::Kind::None ? kNoAddressOfItsOwn
                              : bAddress                               ? std::string_view()
                                                                       : answer.why);
    return record;
}

int GatewayEach(CGateway& gateway, const GatewayTarget& target, bool bJson) {
    int status = 2;
    for (const GatewayMethod method : {GatewayMethod::UpnpIgd, GatewayMethod::NatPmp}) {
        const auto start = std::chrono::steady_clock::now();
        const GatewayAnswer answer = gateway.Ask(method, target, GatewayAbort());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (Interrupted()) {
            return kExitInterrupted;
        }
        if (bJson) {
            CJsonRecord record;
            record.Text("method", method == GatewayMethod::UpnpIgd ? "upnp_igd" : "nat_pmp");
            AnswerRecord(record, answer).Number("elapsed_ms", took.count()).Print();
        } else {
            PrintLine(answer.source + '\t' + Said(answer) + '\t' + std::to_string(took.count()) +
                      " ms");
        }
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
        AddJson(app, m_bJson, "the answer (with --each: each method's)");
        AddVerbose(app, m_bVerbose);
        AddQuiet(app, "say nothing of what the WAN address means: the answer and errors only");
    }

    int Run() override {
        CGateway gateway = GatewayOf(m_limits.gateway, m_bVerbose);
        const GatewayTarget target = m_target.Target();
        if (m_bEach) {
            return GatewayEach(gateway, target, m_bJson);
        }
        const GatewayReading reading = ReadGateway(gateway, target, 0);
        if (Interrupted()) {
            return kExitInterrupted;
        }
        const GatewayAnswer& best = reading.best;
        if (m_bJson) {
            GatewayRecord(reading).Print();
        } else if (best.Answered()) {
            PrintLine(Said(best) + " (" + best.source + ')');
        }
        if (!best.Answered()) {
            for (const GatewayAnswer& answer : reading.answers) {
                Say(Priority::Error, answer.source + ": " + answer.why);
            }
            return 2;
        }
        if (!reading.diagnosis.empty()) {
            SayBare(Priority::Warning, reading.diagnosis);
        }
        return best.kind == GatewayAnswer::Kind::Address ? 0 : 1;
    }

private:
    GatewayTargetOptions m_target;
    bool m_bEach = false;
    bool m_bJson = false;
    bool m_bVerbose = false;
};

}  // namespace

CAbortSignal GatewayAbort() {
    return CAbortSignal(&InterruptFlag());
}

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

std::string GatewayReading::Reasons() const {
    std::string reasons;
    for (const GatewayAnswer& answer : answers) {
        reasons += (reasons.empty() ? "" : "; ") + answer.source + ": " + answer.why;
    }
    return reasons;
}

GatewayReading ReadGateway(IGateway& gateway, const GatewayTarget& target,
                           std::uint32_t publicAddress, std::uint32_t pageWan) {
    GatewayReading reading;
    reading.answers = AskGatewayInTurn(gateway, target, GatewayAbort());
    reading.best = BestGatewayAnswer(reading.answers);
    if (!Interrupted()) {
        reading.diagnosis = DiagnoseRouterWan(RouterWanOf(reading.best, pageWan), publicAddress);
    }
    return reading;
}

CJsonRecord GatewayRecord(const GatewayReading& reading) {
    CJsonRecord record = AnswerRecord({}, reading.best);
    if (!reading.best.Answered()) {
        record.Text("reason", reading.Reasons());
    }
    return record.TextOrNull("diagnosis", reading.diagnosis);
}

std::string NoStatusPageDiagnosis(IGateway& gateway, std::uint32_t router,
                                  std::uint32_t publicAddress, const CPageWanNote& note) {
    return ReadGateway(gateway, GatewayTargetOfRouter(router), publicAddress, note.Address())
        .diagnosis;
}

GatewayReading CheckGateway(IGateway& gateway, const GatewayTarget& target,
                            std::uint32_t publicAddress) {
    const GatewayReading reading = ReadGateway(gateway, target, publicAddress);
    if (Interrupted()) {
        return reading;
    }
    const GatewayAnswer& best = reading.best;
    if (!reading.diagnosis.empty()) {
        SayBare(Priority::Warning, reading.diagnosis);
    } else if (best.Answered()) {
        Say(Priority::Info, "gateway: " + Said(best) + " (" + best.source + ")");
    } else {
        Say(Priority::Error, "gateway: " + reading.Reasons());
    }
    return reading;
}
