#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/net/InetAddr.h"
#include "core/text/CharSet.h"

// Finding IPv4 addresses in page text and judging them.
//
// Addresses travel in network order (first octet in the lowest-addressed byte, as inet_addr gives
// it); every comparison, range and mask works on the host-order value a*2^24 + b*2^16 + c*2^8 + d.

inline constexpr CCharSet kAddressChars{"0123456789."};
inline constexpr CCharSet kExclusionChars{"0123456789.-*"};

// Accepts a candidate of at least 7 address characters that converts to 0.0.0.1 .. 223.255.255.255.
bool ParseIPAddress(std::string_view text, std::uint32_t* address);

// The address `token` was judged as, in dotted decimal: 010.020.030.040 is 8.16.24.32. Anything
// ParseIPAddress refuses is given back as it is.
std::string JudgedAddress(const std::string& token);

// True when the network-order address lies in one of the six reserved blocks.
bool IsReservedAddress(std::uint32_t address);
