#include "address/AddressScan.h"

#include <arpa/inet.h>

#include <cstring>

namespace {

struct AddressRange {
    std::uint32_t low;
    std::uint32_t high;
};

constexpr AddressRange kReservedRanges[] = {
    {0x00000000u, 0x00FFFFFFu},  // this network
    {0x0A000000u, 0x0AFFFFFFu},  // private 10/8
    {0x7F000000u, 0x7FFFFFFFu},  // loopback
    {0xAC100000u, 0xAC1FFFFFu},  // private 172.16/12
    {0xC0A80000u, 0xC0A8FFFFu},  // private 192.168/16
    {0xFF000000u, 0xFFFFFFFFu},  // top block
};

}  // namespace

bool GetNextToken(const char*& cursor, const CCharSet& set, std::string& token) {
    if (cursor == nullptr) {
        return false;
    }
    const char* start = cursor + std::strcspn(cursor, set.Chars());
    if (*start == '\0') {
        cursor = nullptr;
        return false;
    }
    const char* end = start + std::strspn(start, set.Chars());
    token.assign(start, end);
    cursor = *end == '\0' ? nullptr : end;
    return true;
}

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

bool ParseIPAddress(std::string_view text, std::uint32_t* address) {
    if (text.size() < 7) {
        return false;
    }
    for (const char c : text) {
        if (!kAddressChars.Contains(c)) {
            return false;
        }
    }
    const std::uint32_t value = ClassicInetAddr(text);
    if (value == kAddressNone) {
        return false;
    }
    const std::uint32_t host = ntohl(value);
    if (host == 0 || host >= 0xE0000000u) {
        return false;
    }
    if (address != nullptr) {
        *address = value;
    }
    return true;
}

bool IsReservedAddress(std::uint32_t address) {
    const std::uint32_t host = ntohl(address);
    for (const AddressRange& range : kReservedRanges) {
        if (host >= range.low && host <= range.high) {
            return true;
        }
    }
    return false;
}
