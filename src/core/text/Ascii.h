#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Case-insensitive comparisons of protocol text (schemes, tag and attribute names, router paths).
// ASCII letters only, whatever the user's locale: under some locales the C library folds letters
// differently ("I" is not the upper case of "i" in Turkish).

constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Appends `byte` as "%XX", two upper-case hex digits: how a byte that must not stand as it is gets
// written in a URL or on a terminal line.
inline void AppendPercentEscaped(std::string& out, unsigned char byte) {
    constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

constexpr bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

inline constexpr std::string_view kAsciiSpace = " \t\r\n\v\f";

// `text` without the `blanks` at either end.
constexpr std::string_view Trimmed(std::string_view text, std::string_view blanks = kAsciiSpace) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) + 1 - first);
}

// Scans eight bytes at a time, for texts that are mostly bytes to step over: a word of the text,
// and whether any of its bytes equals `c`, or is below `limit` (128 at most).
inline std::uint64_t WordAt(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}
inline constexpr std::uint64_t kEachByte = 0x0101010101010101u;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080u;
constexpr bool AnyByteIs(std::uint64_t word, unsigned char c) {
    const std::uint64_t diff = word ^ (kEachByte * c);
    return ((diff - kEachByte) & ~diff & kHighBits) != 0;
}
constexpr bool AnyByteBelow(std::uint64_t word, unsigned char limit) {
    return ((word - kEachByte * limit) & ~word & kHighBits) != 0;
}

inline std::string AsciiLowered(std::string text) {
    for (char& c : text) {
        c = AsciiLower(c);
    }
    return text;
}
