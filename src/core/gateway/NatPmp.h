#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "core/gateway/Gateway.h"

// NAT-PMP's public address request: two bytes to UDP port 5351 of the gateway, and its answer of
// twelve (version 0, opcode 128, a result code, the seconds since the gateway's start, the
// address).

inline constexpr std::uint16_t kNatPmpPort = 5351;

// One datagram as read from the gateway.
struct NatPmpReply {
    enum class Kind {
        Malformed,  // too short, or not version 0 and opcode 128: not an answer to the request
        Address,    // result 0: `address`, 0 for none
        None,       // result 3, a network failure: the gateway has no address of its own
        Error,      // another result: `result`
    };
    Kind kind = Kind::Malformed;
    std::uint16_t result = 0;
    std::uint32_t address = 0;  // host order
};
NatPmpReply ParseNatPmpReply(const unsigned char* data, std::size_t size);

// Asks `gateway` (host order) and waits for its answer until `limit` has passed, sending the
// request again at 250 ms, 500 ms, 1 s… as the protocol asks; ends within 100 ms of `abort`. Only
// datagrams from the gateway's port 5351 are read, each into a buffer of a few bytes; one that is
// malformed counts for nothing, however many come.
GatewayAnswer AskNatPmp(std::uint32_t gateway, std::chrono::milliseconds limit,
                        const CAbortSignal& abort, const GatewayNotes& notes);
