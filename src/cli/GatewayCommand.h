#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/CommandLine.h"
#include "core/gateway/Gateway.h"

// The gateway of the command line: the IGD of --igd, else the one found by a search that only the
// router answers; the NAT-PMP server of --natpmp, else the default route's gateway. The router is
// the address of --natpmp, else the default route's gateway.
GatewayTarget GatewayTargetOf(const CommandLine& line);

// The gateway within the command line's limits; with --verbose what it meets goes to standard
// error.
CGateway GatewayOf(const CommandLine& line);

// velmo-cli gateway: 0 an address, 1 the router has none of its own, 2 no answer, 3 interrupted.
int Gateway(const CommandLine& line);

// One reading of poll --gateway: true with the address in `result`, else false with `why`.
bool ReadGatewayAddress(IGateway& gateway, const GatewayTarget& target, std::string& result,
                        std::string& why);

// After a spider run that identified no page: asks the router's gateway and, when its answer (or
// else the page `note` kept) explains why no page shows `publicAddress` (host order), says so on
// standard error; true when it did.
bool ExplainNoStatusPage(const CommandLine& line, std::uint32_t router, std::uint32_t publicAddress,
                         const CPageWanNote& note);

// detect --gateway-check: what the gateway says of `publicAddress` (0: none detected), on standard
// error.
void CheckGateway(const CommandLine& line, std::uint32_t publicAddress);
