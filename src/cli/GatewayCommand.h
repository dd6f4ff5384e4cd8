#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/JsonRecord.h"
#include "core/gateway/Gateway.h"

// What the commands ask of the router itself (velmo-cli gateway is in GatewayCommand.cpp too).

// What ends a wait for the gateway: a stop request.
CAbortSignal GatewayAbort();

// The gateway within `limits`; with `bVerbose` what it meets goes to standard error.
CGateway GatewayOf(const GatewayLimits& limits, bool bVerbose);

// What the router itself said when asked in turn (UPnP IGD, then NAT-PMP), and what its WAN address
// means.
struct GatewayReading {
    std::vector<GatewayAnswer> answers;  // in the order asked
    GatewayAnswer best;                  // BestGatewayAnswer of them
    std::string diagnosis;  // DiagnoseRouterWan's sentence; empty when the WAN side tells nothing

    // Each method's failure, "SOURCE: WHY; …".
    std::string Reasons() const;
};

// Asks the gateway at `target` and judges its WAN address (else the one a page showed, `pageWan`,
// host order, 0: none) against `publicAddress` (host order, 0: not detected).
GatewayReading ReadGateway(IGateway& gateway, const GatewayTarget& target,
                           std::uint32_t publicAddress, std::uint32_t pageWan = 0);

// The reading for --json: address, source, outcome, reason, diagnosis.
CJsonRecord GatewayRecord(const GatewayReading& reading);

// After a spider run that identified no page: asks the router's gateway and answers why no page
// shows `publicAddress` (host order), from its answer or else from the page `note` kept; the empty
// text when neither tells.
std::string NoStatusPageDiagnosis(IGateway& gateway, std::uint32_t router,
                                  std::uint32_t publicAddress, const CPageWanNote& note);

// detect --gateway-check: what the gateway at `target` says of `publicAddress` (0: none
// detected), said on standard error, and answered for --json.
GatewayReading CheckGateway(IGateway& gateway, const GatewayTarget& target,
                            std::uint32_t publicAddress);
