#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/net/RouterAccess.h"

// Rules both front ends apply to a spider run, the window and velmo-cli alike.

// The login sent with a password: a password alone goes with the login "%20", as the Router tab
// stores it.
std::string RouterLogin(std::string_view login, std::string_view password);

// How a run reaches the router target the user gave: the authorization header of the login (the
// "%20" rule applied) and the password, the address, the low 16 bits of the port.
RouterAccess RouterAccessFor(std::string_view login, std::string_view password,
                             std::uint32_t address, std::int32_t port);

// The first refusal of a router target, as the Router page gives it: IDS_INVALID_ADDRESS for no
// address or one outside the local blocks, IDS_INVALID_PORT for port 0; 0 when it is fine.
int CheckRouterTarget(std::uint32_t address, std::int32_t port);

// An HTTP status that says the router refused the login it was given.
constexpr bool IsLoginRefused(long status) {
    return status == 401 || status == 403;
}

// The message that ends a run: cancelled, else no external address, else no page found, else
// found.
int SpiderOutcome(bool bCancelled, std::uint32_t externalAddress, std::size_t foundPages);
