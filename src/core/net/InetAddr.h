#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// The classic inet_addr conversion: one to four parts, octal with a leading 0, decimal otherwise.
// Network order, or kAddressNone when the text does not convert.
std::uint32_t ClassicInetAddr(std::string_view text);

// A host-order address (a*2^24 + b*2^16 + c*2^8 + d) as "a.b.c.d".
std::string DottedAddress(std::uint32_t hostOrder);
