#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Finding IPv4 addresses in page text and judging them.
//
// Addresses travel in network order (first octet in the lowest-addressed byte, as inet_addr gives
// it); every comparison, range and mask works on the host-order value a*2^24 + b*2^16 + c*2^8 + d.

inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// A set of ASCII token characters, tested by table lookup.
class CCharSet {
public:
    // `chars` must be a NUL-terminated literal: the runs are cut with strspn and strcspn.
    constexpr explicit CCharSet(const char* chars) : m_chars(chars) {
        for (const char* c = chars; *c != '\0'; ++c) {
            m_bits[static_cast<unsigned char>(*c)] = true;
        }
    }
    constexpr bool Contains(char c) const { return m_bits[static_cast<unsigned char>(c)]; }
    constexpr const char* Chars() const { return m_chars; }

private:
    const char* m_chars;
    std::array<bool, 256> m_bits{};
};

inline constexpr CCharSet kAddressChars{"0123456789."};
inline constexpr CCharSet kExclusionChars{"0123456789.-*"};

// Cuts the next run of `set` characters out of the NUL-terminated text at `cursor`. A null cursor
// means the text is used up; the cursor becomes null when the run reaches the end. `token` is left
// alone when the answer is false.
bool GetNextToken(const char*& cursor, const CCharSet& set, std::string& token);

// The classic inet_addr conversion: one to four parts, octal with a leading 0, decimal otherwise.
// Network order, or kAddressNone when the text does not convert.
std::uint32_t ClassicInetAddr(std::string_view text);

// Accepts a candidate of at least 7 address characters that converts to 0.0.0.1 .. 223.255.255.255.
bool ParseIPAddress(std::string_view text, std::uint32_t* address);

// True when the network-order address lies in one of the six reserved blocks.
bool IsReservedAddress(std::uint32_t address);
