#pragma once

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

inline std::string AsciiLowered(std::string text) {
    for (char& c : text) {
        c = AsciiLower(c);
    }
    return text;
}
