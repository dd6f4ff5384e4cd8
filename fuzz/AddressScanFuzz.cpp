// Address scanning and probing: FindAcceptableAddress, ParseIPAddress, ClassicInetAddr and
// IsReservedAddress over arbitrary text.
//
// Input: byte 0 holds the flags (bit 0: allow reserved addresses); the rest up to its first
// newline is the exclusion text, everything after it the page text (a C string: it ends at its
// first NUL). Bytes 1-4 also serve as an address for the round trips.
//
// Invariants: FindAcceptableAddress answers the first run of digits and dots (dots trimmed) that
// is acceptable, as it stands in the text, and leaves the result alone when there is none; what it
// answers is ParseIPAddress-valid, whole (no digit or dot beside it), without a leading or
// trailing dot, outside the reserved blocks unless allowed, and not excluded. ClassicInetAddr
// agrees with the C library's inet_aton on every text of digits and dots; dotted text of any
// address converts back to it; ParseIPAddress accepts exactly the usable range and leaves its
// output alone otherwise; IsReservedAddress matches the six blocks written as prefixes.

#include <arpa/inet.h>

#include "FuzzCheck.h"
#include "core/address/AddressProbe.h"
#include "core/address/AddressScan.h"
#include "core/address/Exclusions.h"

namespace {

bool IsAddressChar(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The six reserved blocks, as prefixes: 0/8, 10/8, 127/8, 172.16/12, 192.168/16, 255/8.
bool InReservedBlock(std::uint32_t host) {
    const std::uint32_t first = host >> 24;
    return first == 0 || first == 10 || first == 127 || (host & 0xFFF00000u) == 0xAC100000u ||
           (host & 0xFFFF0000u) == 0xC0A80000u || first == 255;
}

bool IsUsable(std::uint32_t host) {
    return host != 0 && host < 0xE0000000u;
}

// ClassicInetAddr on a text of digits and dots against inet_aton, and ParseIPAddress's contract.
void CheckConversion(std::string_view digitsAndDots) {
    const std::string text(digitsAndDots);
    in_addr expected{};
    const std::uint32_t value = ClassicInetAddr(text);
    if (inet_aton(text.c_str(), &expected) != 0) {
        FUZZ_CHECK(value == expected.s_addr);
    } else {
        FUZZ_CHECK(value == kAddressNone);
    }
    std::uint32_t parsed = 0x5A5A5A5Au;
    const bool bAccepted = ParseIPAddress(text, &parsed);
    FUZZ_CHECK(bAccepted == (text.size() >= 7 && value != kAddressNone && IsUsable(ntohl(value))));
    FUZZ_CHECK(parsed == (bAccepted ? value : 0x5A5A5A5Au));
}

// The first acceptable address of `text`, found by walking its runs of digits and dots.
std::string_view FirstAcceptable(std::string_view text, bool allowReserved,
                                 const std::string& exclusions) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (!IsAddressChar(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && IsAddressChar(text[end])) {
            ++end;
        }
        std::string_view run = text.substr(at, end - at);
        at = end;
        CheckConversion(run);
        const std::size_t first = run.find_first_not_of('.');
        if (first == std::string_view::npos) {
            continue;
        }
        run = run.substr(first, run.find_last_not_of('.') + 1 - first);
        std::uint32_t address = 0;
        if (ParseIPAddress(run, &address) && (allowReserved || !IsReservedAddress(address)) &&
            !IsExcludedAddress(address, exclusions.c_str())) {
            return run;
        }
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool bAllowReserved = (data[0] & 1) != 0;
    const std::string_view rest = AsText(data + 1, size - 1);
    const std::size_t newline = rest.find('\n');
    const std::string exclusions(rest.substr(0, newline));
    const std::string page(newline == std::string_view::npos ? std::string_view()
                                                             : rest.substr(newline + 1));

    const std::string_view text = UpToNul(page);
    const std::string_view expected = FirstAcceptable(text, bAllowReserved, exclusions);
    std::string result = "untouched";
    const bool bFound = FindAcceptableAddress(page.c_str(), bAllowReserved, exclusions, result);
    FUZZ_CHECK(bFound == !expected.empty());
    if (!bFound) {
        FUZZ_CHECK(result == "untouched");
    } else {
        FUZZ_CHECK(result == expected);
        const auto position = static_cast<std::size_t>(expected.data() - text.data());
        FUZZ_CHECK(text.substr(position, result.size()) == result);
        FUZZ_CHECK(position == 0 || !IsDigit(text[position - 1]));
        FUZZ_CHECK(position + result.size() == text.size() ||
                   !IsDigit(text[position + result.size()]));
        FUZZ_CHECK(result.size() >= 7 && result.front() != '.' && result.back() != '.');
        std::uint32_t address = 0;
        FUZZ_CHECK(ParseIPAddress(result, &address));
        FUZZ_CHECK(bAllowReserved || !IsReservedAddress(address));
        FUZZ_CHECK(!IsExcludedAddress(address, exclusions.c_str()));
    }

    if (size >= 5) {
        const std::uint32_t host = ReadHost(data + 1);
        const std::string dotted = Dotted(host);
        FUZZ_CHECK(ClassicInetAddr(dotted) == htonl(host));
        FUZZ_CHECK(IsReservedAddress(htonl(host)) == InReservedBlock(host));
        std::uint32_t parsed = 0;
        FUZZ_CHECK(ParseIPAddress(dotted, &parsed) == IsUsable(host));
        std::string found;
        const bool bAcceptable = IsUsable(host) && !InReservedBlock(host);
        FUZZ_CHECK(FindAcceptableAddress(("WAN " + dotted + ".").c_str(), false, {}, found) ==
                   bAcceptable);
        FUZZ_CHECK(!bAcceptable || found == dotted);
    }
    return 0;
}
