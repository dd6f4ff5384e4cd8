#pragma once

#include <cstdint>
#include <optional>

// What this machine's routing table says about the way to the router. Addresses are host order;
// the answers are those of the calling thread's network namespace.

// The gateway of the IPv4 default route, or nullopt when there is none.
std::optional<std::uint32_t> DefaultGateway();

// The local address the kernel would send from toward `address` (a UDP socket "connected" to it:
// the route is looked up, nothing is sent), or nullopt with `error` (an errno) when there is no
// route.
std::optional<std::uint32_t> LocalAddressToward(std::uint32_t address, int* error = nullptr);
