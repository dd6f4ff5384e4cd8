#include "core/address/Exclusions.h"

#include <arpa/inet.h>

#include "core/address/AddressScan.h"

void NormalizeExclusions(std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '-') {
            out.push_back(text[at++]);
            continue;
        }
        ++at;
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        while (!out.empty() && (out.back() == ' ' || out.back() == '-')) {
            out.pop_back();
        }
        const auto follower = at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
        if (!out.empty() && follower >= 1 && follower <= 127) {
            out.push_back('-');
        }
    }
    text = std::move(out);
}

std::uint32_t PatternBound(std::string_view pattern, bool low) {
    std::string text;
    for (const char c : pattern) {
        if (c == '*') {
            text += low ? "0" : "255";
        } else {
            text += c;
        }
    }
    return ntohl(ClassicInetAddr(text));
}

void PatternToNetwork(std::string_view pattern, std::uint32_t& network, std::uint32_t& mask) {
    const std::uint32_t low = PatternBound(pattern, true);
    const std::uint32_t high = PatternBound(pattern, false);
    mask = ~(low ^ high);
    network = low & mask;
}

bool MatchAddressPattern(std::uint32_t address, std::string_view pattern) {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
    PatternToNetwork(pattern, network, mask);
    return (ntohl(address) & mask) == network;
}

bool MatchAddressRange(std::uint32_t address, std::string_view low, std::string_view high) {
    std::uint32_t networkLow = 0;
    std::uint32_t maskLow = 0;
    std::uint32_t networkHigh = 0;
    std::uint32_t maskHigh = 0;
    PatternToNetwork(low, networkLow, maskLow);
    PatternToNetwork(high, networkHigh, maskHigh);
    const std::uint32_t value = ntohl(address);
    return (value & maskLow) >= networkLow && (value & maskHigh) <= networkHigh;
}

bool IsExcludedAddress(std::uint32_t address, const char* exclusions) {
    return CExclusionList(exclusions).Matches(address);
}

CExclusionList::CExclusionList(const char* exclusions) {
    const char* cursor = exclusions;
    std::string text;
    while (GetNextToken(cursor, kExclusionChars, text)) {
        const std::string_view entry = text;
        const std::size_t dash = entry.find('-');
        Entry compiled{};
        compiled.bRange = dash != std::string_view::npos;
        PatternToNetwork(entry.substr(0, dash), compiled.networkLow, compiled.maskLow);
        if (compiled.bRange) {
            PatternToNetwork(entry.substr(dash + 1), compiled.networkHigh, compiled.maskHigh);
        }
        m_entries.push_back(compiled);
    }
}

bool CExclusionList::Matches(std::uint32_t address) const {
    const std::uint32_t value = ntohl(address);
    for (const Entry& entry : m_entries) {
        const bool bMatch = entry.bRange ? (value & entry.maskLow) >= entry.networkLow &&
                                               (value & entry.maskHigh) <= entry.networkHigh
                                         : (value & entry.maskLow) == entry.networkLow;
        if (bMatch) {
            return true;
        }
    }
    return false;
}
