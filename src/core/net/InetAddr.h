#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// IPv4 addresses as text: every reading of one in the program is here, each named for what it
// accepts, and the dotted form they are written in.

inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// The classic inet_addr conversion: one to four parts, octal with a leading 0, decimal otherwise.
// Network order, or kAddressNone when the text does not convert. For addresses in router pages,
// links and the polling exclusions, read as the router's own software reads them.
std::uint32_t ClassicInetAddr(std::string_view text);

// Exactly "a.b.c.d", each part 0 to 255 in decimal without a leading zero: the one form that
// inet_pton takes, and that protocols write. Host order.
std::optional<std::uint32_t> ParseStrictDottedQuad(std::string_view text);

// Exactly "a.b.c.d", each part 0 to 255 in one to three decimal digits, a leading zero read as
// decimal, as in the window's address box: 192.168.000.010 is 192.168.0.10. Host order.
std::optional<std::uint32_t> ParsePaddedDottedQuad(std::string_view text);

// The four parts of the first "a.b.c.d" anywhere in `text` whose parts are one to three decimal
// digits with no digit or dot running on at either end: after "http://", before ":80" or among
// words. Each part as written, up to 999, for the caller to bound.
std::optional<std::array<std::uint32_t, 4>> FindDottedQuad(std::string_view text);

// A host-order address (a*2^24 + b*2^16 + c*2^8 + d) as "a.b.c.d".
std::string DottedAddress(std::uint32_t hostOrder);
