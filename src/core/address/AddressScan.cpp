#include "core/address/AddressScan.h"

#include <arpa/inet.h>

#include "core/net/InetAddr.h"

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

std::string JudgedAddress(const std::string& token) {
    std::uint32_t address = 0;
    if (!ParseIPAddress(token, &address)) {
        return token;
    }
    return DottedAddress(ntohl(address));
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
