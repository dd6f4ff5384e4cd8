#include "core/address/Exclusions.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

std::uint32_t Net(const char* dotted) {
    in_addr value{};
    inet_pton(AF_INET, dotted, &value);
    return value.s_addr;
}

struct EntryCase {
    const char* entry;
    std::vector<const char*> matched;
    std::vector<const char*> unmatched;
};

TEST(IsExcludedAddress, EntriesMatchWhatTheirBoundsAndMasksCover) {
    const EntryCase cases[] = {
        {"203.0.113.7", {"203.0.113.7"}, {"203.0.113.8", "203.0.113.6"}},
        {"203.0.113.*", {"203.0.113.0", "203.0.113.255"}, {"203.0.114.0"}},
        {"203.*.113.7", {"203.0.113.7", "203.99.113.7"}, {"203.0.113.8", "204.0.113.7"}},
        {"10.*.*.*", {"10.0.0.0", "10.255.255.255"}, {"11.0.0.0"}},
        {"198.51.100.10-198.51.100.20",
         {"198.51.100.10", "198.51.100.15", "198.51.100.20"},
         {"198.51.100.9", "198.51.100.21"}},
        {"198.51.*.*-198.53.*.*",
         {"198.51.0.0", "198.53.255.255"},
         {"198.50.255.255", "198.54.0.0"}},
        {"198.51.100.10-20", {}, {"198.51.100.10", "198.51.100.20"}},
        {"10.*", {"10.0.0.0", "10.0.0.255"}, {"10.0.1.0"}},
        {"*", {"0.0.0.1", "0.0.0.255"}, {"0.0.1.0", "1.0.0.0"}},
        {"198.51.100.20-198.51.100.10", {}, {"198.51.100.15", "198.51.100.10"}},
        {"-198.51.100.20", {}, {"198.51.100.20", "1.2.3.4"}},
        {"198.51.100.7-", {"198.51.100.7", "223.0.0.1"}, {"198.51.100.6"}},
        {"none", {}, {"1.2.3.4"}},
        {"", {}, {"1.2.3.4"}},
    };
    for (const EntryCase& c : cases) {
        for (const char* address : c.matched) {
            EXPECT_TRUE(IsExcludedAddress(Net(address), c.entry)) << c.entry << " / " << address;
        }
        for (const char* address : c.unmatched) {
            EXPECT_FALSE(IsExcludedAddress(Net(address), c.entry)) << c.entry << " / " << address;
        }
    }
}

TEST(IsExcludedAddress, TestsEveryEntryOfTheText) {
    const char* text = "203.0.113.7;198.51.100.*;10.0.0.1-10.0.0.9";
    EXPECT_TRUE(IsExcludedAddress(Net("203.0.113.7"), text));
    EXPECT_TRUE(IsExcludedAddress(Net("198.51.100.200"), text));
    EXPECT_TRUE(IsExcludedAddress(Net("10.0.0.5"), text));
    EXPECT_FALSE(IsExcludedAddress(Net("10.0.0.10"), text));
}

TEST(MatchAddress, SinglePatternsAndRangesMatchOnTheirOwn) {
    EXPECT_TRUE(MatchAddressPattern(Net("203.7.113.7"), "203.*.113.7"));
    EXPECT_FALSE(MatchAddressPattern(Net("203.7.113.8"), "203.*.113.7"));
    EXPECT_TRUE(MatchAddressRange(Net("198.52.1.1"), "198.51.*.*", "198.53.*.*"));
    EXPECT_FALSE(MatchAddressRange(Net("198.54.0.0"), "198.51.*.*", "198.53.*.*"));
}

TEST(PatternToNetwork, InnerWildcardGivesANonContiguousMask) {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
    PatternToNetwork("203.*.113.7", network, mask);
    EXPECT_EQ(mask, 0xFF00FFFFu);
    EXPECT_EQ(network, 0xCB007107u);
    EXPECT_EQ(PatternBound("1*", true), 10u);
    EXPECT_EQ(PatternBound("1*", false), 1255u);
    EXPECT_EQ(PatternBound("", true), 0xFFFFFFFFu);
}

TEST(NormalizeExclusions, JoinsRangesAndDropsStrayHyphens) {
    const std::pair<const char*, const char*> cases[] = {
        {"198.51.100.10 - 198.51.100.20", "198.51.100.10-198.51.100.20"},
        {"198.51.100.10 -- 198.51.100.20", "198.51.100.10-198.51.100.20"},
        {"198.51.100.10 - - 198.51.100.20", "198.51.100.10-198.51.100.20"},
        {"- 198.51.100.10", "198.51.100.10"},
        {"198.51.100.10 -", "198.51.100.10"},
        {"198.51.100.10, 198.51.100.20", "198.51.100.10, 198.51.100.20"},
        {"198.51.100.10,-198.51.100.20", "198.51.100.10,-198.51.100.20"},
        {"198.51.100.7-x", "198.51.100.7-x"},
        {"1.2.3.4 -\xC3\xA9", "1.2.3.4\xC3\xA9"},
        {"a\t-\tb", "a\t-\tb"},
        {"", ""},
        {"---", ""},
    };
    for (const auto& [before, after] : cases) {
        std::string text = before;
        NormalizeExclusions(text);
        EXPECT_EQ(text, after) << before;
    }
}

}  // namespace
