#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Exit.h"
#include "core/net/RouterUrl.h"

// The router as HOST[:PORT] named it.
struct RouterTarget {
    std::uint32_t address = 0;  // host order; 0 while HOST is a name not yet looked up
    std::int32_t port = 80;
    std::string host;  // as written, without the port
};

// HOST[:PORT] as users write it, checked as the Router tab checks it before any name is looked up:
// HOST is dotted decimal, which must be a local address, or a host name; PORT is 1 to 65535, 80
// when absent. Fills `target` and answers the empty text, or what is wrong: the Router tab's
// text, or RefusedRouterForm's.
std::string ParseRouter(const std::string& text, RouterTarget& target);

// What is said of a router given in a form that is not HOST[:PORT] (a URL, an address in brackets,
// an IPv6 address), saying what is taken instead; the empty text for any other form, which
// ParseRouter checks as HOST[:PORT]. The one place that judges a URL given as the router.
std::string RefusedRouterForm(const std::string& text);

// `target`, of ParseRouter, with its host name looked up once, over IPv4, giving up after `limit`
// (a stop request ends the wait); the address it gives must be a local one too. Ends the command
// with kExitNoHost when the name gave no address, with the Router tab's text when it is not local,
// and with kExitInterrupted when stopped.
OrExit<RouterTarget> ResolveRouter(const RouterTarget& target, const HostLookup& lookup,
                                   std::chrono::milliseconds limit);
