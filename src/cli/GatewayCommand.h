#pragma once

#include <cstdint>
#include <string>

#include "core/gateway/Gateway.h"

// What the commands ask of the router itself (velmo-cli gateway is in GatewayCommand.cpp too).

// The gateway within `limits`; with `bVerbose` what it meets goes to standard error.
CGateway GatewayOf(const GatewayLimits& limits, bool bVerbose);

// One reading of poll --gateway: true with the address in `result`, else false with `why`.
bool ReadGatewayAddress(IGateway& gateway, const GatewayTarget& target, std::string& result,
                        std::string& why);

// After a spider run that identified no page: asks the router's gateway and, when its answer (or
// else the page `note` kept) explains why no page shows `publicAddress` (host order), says so on
// standard error; true when it did.
bool ExplainNoStatusPage(IGateway& gateway, std::uint32_t router, std::uint32_t publicAddress,
                         const CPageWanNote& note);

// detect --gateway-check: what the gateway at `target` says of `publicAddress` (0: none
// detected), on standard error.
void CheckGateway(IGateway& gateway, const GatewayTarget& target, std::uint32_t publicAddress);
