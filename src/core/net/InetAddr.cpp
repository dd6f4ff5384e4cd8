#include "core/net/InetAddr.h"

#include <arpa/inet.h>

#include "core/text/Ascii.h"

namespace {

// Four parts of one to three decimal digits, dots between, from `at` on; each part as written.
// `at` is left past the last digit.
std::optional<std::array<std::uint32_t, 4>> ReadQuadParts(std::string_view text, std::size_t& at,
                                                          bool bLeadingZeros) {
    std::array<std::uint32_t, 4> parts{};
    for (std::size_t part = 0; part < parts.size(); ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && IsAsciiDigit(text[at]) && at - start < 3) {
            parts[part] = parts[part] * 10 + static_cast<std::uint32_t>(text[at++] - '0');
        }
        if (at == start || (!bLeadingZeros && at - start > 1 && text[start] == '0')) {
            return std::nullopt;
        }
    }
    return parts;
}

std::optional<std::uint32_t> ParseWholeQuad(std::string_view text, bool bLeadingZeros) {
    std::size_t at = 0;
    const auto parts = ReadQuadParts(text, at, bLeadingZeros);
    if (!parts || at != text.size()) {
        return std::nullopt;
    }
    std::uint32_t address = 0;
    for (const std::uint32_t part : *parts) {
        if (part > 255) {
            return std::nullopt;
        }
        address = (address << 8) | part;
    }
    return address;
}

}  // namespace

std::uint32_t ClassicInetAddr(std::string_view text) {
    std::uint64_t parts[4] = {};
    int count = 0;
    std::size_t at = 0;
    while (true) {
        if (count == 4 || at >= text.size() || text[at] < '0' || text[at] > '9') {
            return kAddressNone;  // five parts, or an empty part
        }
        const bool bOctal = text[at] == '0';
        const unsigned base = bOctal ? 8 : 10;
        std::uint64_t value = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            const unsigned digit = static_cast<unsigned>(text[at] - '0');
            if (digit >= base) {
                return kAddressNone;
            }
            value = value * base + digit;
            if (value > 0xFFFFFFFFu) {
                return kAddressNone;
            }
        }
        parts[count++] = value;
        if (at == text.size()) {
            break;
        }
        if (text[at] != '.') {
            return kAddressNone;
        }
        ++at;
    }
    std::uint64_t host = 0;
    switch (count) {
        case 1:
            host = parts[0];
            break;
        case 2:
            if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) {
                return kAddressNone;
            }
            host = (parts[0] << 24) | parts[1];
            break;
        case 3:
            if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) {
                return kAddressNone;
            }
            host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
            break;
        default:
            for (const std::uint64_t part : parts) {
                if (part > 0xFF) {
                    return kAddressNone;
                }
            }
            host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
            break;
    }
    return htonl(static_cast<std::uint32_t>(host));
}

std::optional<std::uint32_t> ParseStrictDottedQuad(std::string_view text) {
    return ParseWholeQuad(text, false);
}

std::optional<std::uint32_t> ParsePaddedDottedQuad(std::string_view text) {
    return ParseWholeQuad(text, true);
}

std::optional<std::array<std::uint32_t, 4>> FindDottedQuad(std::string_view text) {
    const auto digitAt = [&](std::size_t at) { return at < text.size() && IsAsciiDigit(text[at]); };
    for (std::size_t start = 0; start < text.size(); ++start) {
        if (!digitAt(start) || (start > 0 && (digitAt(start - 1) || text[start - 1] == '.'))) {
            continue;
        }
        std::size_t end = start;
        const auto parts = ReadQuadParts(text, end, true);
        // A digit, or a dot and a digit, right after it make it part of some longer number.
        if (parts && !digitAt(end) &&
            !(end < text.size() && text[end] == '.' && digitAt(end + 1))) {
            return parts;
        }
    }
    return std::nullopt;
}

std::string DottedAddress(std::uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + '.' + std::to_string((hostOrder >> 16) & 0xFF) + '.' +
           std::to_string((hostOrder >> 8) & 0xFF) + '.' + std::to_string(hostOrder & 0xFF);
}
