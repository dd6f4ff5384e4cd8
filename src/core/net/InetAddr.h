#pragma once

#include <cstdint>
#include <string_view>

inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// The classic inet_addr conversion: one to four parts, octal with a leading 0, decimal otherwise.
// Network order, or kAddressNone when the text does not convert.
std::uint32_t ClassicInetAddr(std::string_view text);
