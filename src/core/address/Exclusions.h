#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The user's list of addresses the polling test skips: entries of digits, dots, "*" wildcards and
// low-high ranges, separated by anything else.

// Removes spaces around hyphens, folds runs of hyphens and drops hyphens that lead or end the text.
void NormalizeExclusions(std::string& text);

// The pattern's low ("*" as 0) or high ("*" as 255) value in host order; all ones when it does not
// convert.
std::uint32_t PatternBound(std::string_view pattern, bool low);

// Host-order network and mask of a pattern: the mask has a bit set where both bounds agree.
void PatternToNetwork(std::string_view pattern, std::uint32_t& network, std::uint32_t& mask);

// `address` in network order.
bool MatchAddressPattern(std::uint32_t address, std::string_view pattern);
bool MatchAddressRange(std::uint32_t address, std::string_view low, std::string_view high);
bool IsExcludedAddress(std::uint32_t address, const char* exclusions);

// An exclusion text with its entries' networks and masks worked out once, for testing many
// addresses against it; it matches exactly what IsExcludedAddress matches.
class CExclusionList {
public:
    explicit CExclusionList(const char* exclusions);
    bool Matches(std::uint32_t address) const;  // network order

private:
    struct Entry {
        std::uint32_t networkLow, maskLow, networkHigh, maskHigh;
        bool bRange;
    };
    std::vector<Entry> m_entries;
};
