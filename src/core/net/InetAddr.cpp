#include "core/net/InetAddr.h"

#include <arpa/inet.h>

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

std::string DottedAddress(std::uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + '.' + std::to_string((hostOrder >> 16) & 0xFF) + '.' +
           std::to_string((hostOrder >> 8) & 0xFF) + '.' + std::to_string(hostOrder & 0xFF);
}
