#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/RouterUrl.h"

inline constexpr int kExitNoHost = 68;  // sysexits' "host name unknown"

// The router as HOST[:PORT] named it.
struct RouterTarget {
    std::uint32_t address = 0;  // host order
    std::int32_t port = 80;
    std::string host;  // as written, without the port
};

// Four decimal parts of one to three digits, 0 to 255 each; a leading zero is decimal, as in the
// window's address box: 192.168.000.010 is 192.168.0.10. Host order.
std::optional<std::uint32_t> ParseDecimalQuad(std::string_view text);

// HOST[:PORT] as users write it: HOST is dotted decimal or a host name, which is looked up once,
// over IPv4, giving up after `limit` (a stop request ends the wait); PORT is 1 to 65535, 80 when
// absent. The address must be a local one, as the Router tab requires. Throws UsageError with the
// Router tab's texts, or CommandError: kExitNoHost when the name gave no address, 3 when stopped.
RouterTarget ResolveRouter(const std::string& text, const HostLookup& lookup,
                           std::chrono::milliseconds limit);

// Where names are looked up: the system resolver. A build with tests answers from
// VELMO_TEST_HOSTS instead when it is set ("NAME=A.B.C.D,NAME=stall,…": "stall" never answers;
// "localhost" goes to the system resolver, which answers it from the hosts file; every other name
// is not found), so that no test sends a name to a name server.
HostLookup HostLookupInForce();
