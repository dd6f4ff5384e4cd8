// velmo-cli detect: this machine's public address, from the detection servers.
#include <arpa/inet.h>

#include <CLI/CLI.hpp>

#include <chrono>

#include "cli/Commands.h"
#include "cli/GatewayCommand.h"
#include "cli/Interrupt.h"
#include "cli/JsonRecord.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/address/DetectScript.h"
#include "core/net/InetAddr.h"
#include "core/text/StringTable.h"

namespace {

class CDetectCommand final : public CCommand {
public:
    CDetectCommand()
        : CCommand("detect", "",
                   "print this machine's public address\n"
                   "Prints this machine's public address.\nExit status: 0 found (with "
                   "--each: one server answered), 2 not, 3 interrupted, 64 usage, 74 output not "
                   "written.") {}

    void Define(CLI::App& app) override {
        AddAllowReserved(app, m_bAllowReserved);
        AddDetectUrls(app, m_detectUrls);
        app.add_flag("--each", m_bEach,
                     "ask every server once, in list order; print each one's URL, address or "
                     "why none, and time taken");
        app.add_flag("--gateway-check", m_bGatewayCheck,
                     "ask the router too (UPnP IGD, then NAT-PMP) and say on standard error "
                     "what its WAN address means; not with --each");
        m_gateway.Add(app);
        AddJson(app, m_bJson, "the address (with --each: each server's answer)");
        AddTimeLimits(app, m_limits.timeouts);
        AddVerbose(app, m_bVerbose);
        AddQuiet(app,
                 "say no notes or warnings, those of --gateway-check included: the address "
                 "and errors only");
        Rule([this] {
            return !m_bGatewayCheck && m_gateway.Given()
                       ? "--igd and --natpmp go with --gateway-check"
                       : "";
        });
        Rule([this] {
            return m_bEach && m_bGatewayCheck
                       ? "--each lists the servers alone; --gateway-check goes without it"
                       : "";
        });
    }

    int Run() override {
        const OrExit<std::vector<std::string>> servers = DetectionServersInForce(m_detectUrls);
        if (!servers) {
            return servers.Status();
        }
        if (m_bEach) {
            return DetectEach(*servers);
        }
        CDetectScript detector(*servers);
        std::string address;
        std::vector<std::string> reasons;
        std::vector<CJsonRecord> failed;
        long status = 0;
        const bool bFound = detector.Detect(
            m_bAllowReserved, address, Fetching(m_limits.timeouts, m_bVerbose, false, &status),
            [&](const std::string& url, const ProbeFailure& failure) {
                reasons.push_back(EscapeControls(url) + ": " + EscapeControls(PageReason(failure)));
                failed.push_back(ServerRecord(url, {}, PageReason(failure), failure.status));
            });
        if (Interrupted()) {
            return kExitInterrupted;
        }
        if (!bFound) {
            for (const std::string& reason : reasons) {
                Say(Priority::Error, reason);
            }
            SayBare(Priority::Error, LoadString(IDS_NO_EXTERNAL_ADDRESS));
        } else if (!m_bJson) {
            PrintLine(address);
        }
        CJsonRecord record;
        if (bFound) {
            const std::size_t count = servers->size();
            const std::size_t asked = (detector.NextServerIndex() + count - 1) % count;
            record = ServerRecord((*servers)[asked], address, {}, status);
        } else {
            record = ServerRecord({}, {}, LoadString(IDS_NO_EXTERNAL_ADDRESS), 0);
        }
        record.Records("failed", failed);
        if (m_bGatewayCheck) {
            CGateway gateway = GatewayOf(m_limits.gateway, m_bVerbose);
            const GatewayReading reading = CheckGateway(
                gateway, m_gateway.Target(), bFound ? ntohl(ClassicInetAddr(address)) : 0);
            if (Interrupted()) {
                return kExitInterrupted;
            }
            record.Record("gateway", GatewayRecord(reading));
        }
        if (m_bJson) {
            record.Print();
        }
        return bFound ? 0 : 2;
    }

private:
    // What a server gave for --json: the address (the empty text: none) and why none.
    static CJsonRecord ServerRecord(const std::string& url, const std::string& address,
                                    const std::string& why, long status) {
        CJsonRecord record;
        record.TextOrNull("source", url)
            .TextOrNull("address", address.empty() ? std::string() : JudgedAddress(address))
            .NumberOrNull("http_status", status)
            .TextOrNull("reason", address.empty() ? why : std::string());
        return record;
    }

    // Asks each server once and prints a line for each; 0 when one of them answered.
    int DetectEach(const std::vector<std::string>& servers) const {
        bool bAnswered = false;
        for (const std::string& url : servers) {
            const auto start = std::chrono::steady_clock::now();
            std::string address;
            ProbeFailure failure;
            long status = 0;
            const bool bFound =
                ProbeAddress(url, {}, {}, m_bAllowReserved, {}, address,
                             Fetching(m_limits.timeouts, m_bVerbose, false, &status), &failure);
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            if (Interrupted()) {
                return kExitInterrupted;
            }
            if (m_bJson) {
                ServerRecord(url, bFound ? address : std::string(), PageReason(failure), status)
                    .Number("elapsed_ms", took.count())
                    .Print();
            } else {
                PrintLine(EscapeControls(url) + '\t' +
                          EscapeControls(bFound ? address : PageReason(failure)) + '\t' +
                          std::to_string(took.count()) + " ms");
            }
            bAnswered = bAnswered || bFound;
        }
        return bAnswered ? 0 : 2;
    }

    bool m_bAllowReserved = false;
    std::vector<std::string> m_detectUrls;
    bool m_bEach = false;
    bool m_bGatewayCheck = false;  // ask the gateway too
    GatewayTargetOptions m_gateway;
    bool m_bJson = false;
    bool m_bVerbose = false;
};

}  // namespace

std::unique_ptr<CCommand> NewDetectCommand() {
    return std::make_unique<CDetectCommand>();
}
