#include "core/address/AddressScan.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

std::uint32_t Host(const char* dotted) {
    in_addr value{};
    inet_pton(AF_INET, dotted, &value);
    return ntohl(value.s_addr);
}

struct ParseCase {
    const char* text;
    const char* expected;  // null: rejected
};

TEST(ParseIPAddress, AcceptsWhatTheClassicConversionGivesInTheUsableRange) {
    const ParseCase cases[] = {
        {"192.168.1.1", "192.168.1.1"},
        {"1.2.3", nullptr},
        {"10.1.300", "10.1.1.44"},
        {"12.1.2006", "12.1.7.214"},
        {"16777216", "1.0.0.0"},
        {"1234567", "0.18.214.135"},
        {"192.168.010.001", "192.168.8.1"},
        {"192.168.08.1", nullptr},
        {"0.0.0.0", nullptr},
        {"224.0.0.1", nullptr},
        {"255.255.255.255", nullptr},
        {"1.2.3.4.5", nullptr},
        {"192.168.1.256", nullptr},
        {"10.0.0.1a", nullptr},
        {"1234567890", "73.150.2.210"},
        {"223.255.255.255", "223.255.255.255"},
        {"224.0.0.0", nullptr},
        {"1.2..3.4", nullptr},
        {".1.2.3.4", nullptr},
        {"99999999999", nullptr},
    };
    for (const ParseCase& c : cases) {
        std::uint32_t address = 0xDEADBEEF;
        const bool bAccepted = ParseIPAddress(c.text, &address);
        if (c.expected == nullptr) {
            EXPECT_FALSE(bAccepted) << c.text;
            EXPECT_EQ(address, 0xDEADBEEFu) << c.text << ": output touched on failure";
        } else {
            ASSERT_TRUE(bAccepted) << c.text;
            EXPECT_EQ(ntohl(address), Host(c.expected)) << c.text;
        }
    }
}

TEST(ClassicInetAddr, FollowsThePartLimitsOfEachForm) {
    EXPECT_EQ(ntohl(ClassicInetAddr("1.16777215")), 0x01FFFFFFu);
    EXPECT_EQ(ClassicInetAddr("1.16777216"), kAddressNone);
    EXPECT_EQ(ntohl(ClassicInetAddr("1.2.65535")), 0x0102FFFFu);
    EXPECT_EQ(ClassicInetAddr("1.2.65536"), kAddressNone);
    EXPECT_EQ(ntohl(ClassicInetAddr("4294967295")), 0xFFFFFFFFu);
    EXPECT_EQ(ClassicInetAddr("4294967296"), kAddressNone);
    EXPECT_EQ(ClassicInetAddr(""), kAddressNone);
    EXPECT_EQ(ClassicInetAddr("router.invalid"), kAddressNone);
    EXPECT_EQ(ntohl(ClassicInetAddr("0")), 0u);
}

// Each reading of address text, by what it accepts; null where it refuses the text.
TEST(InetAddr, EachVariantAcceptsWhatItsNameSays) {
    const struct {
        const char* text;
        const char* classic;  // ClassicInetAddr
        const char* strict;   // ParseStrictDottedQuad
        const char* padded;   // ParsePaddedDottedQuad
        const char* found;    // FindDottedQuad, its parts joined
    } rows[] = {
        {"192.168.1.1", "192.168.1.1", "192.168.1.1", "192.168.1.1", "192.168.1.1"},
        {"0.0.0.0", "0.0.0.0", "0.0.0.0", "0.0.0.0", "0.0.0.0"},
        {"010.000.000.001", "8.0.0.1", nullptr, "10.0.0.1", "10.0.0.1"},
        {"08.1.1.1", nullptr, nullptr, "8.1.1.1", "8.1.1.1"},
        {"1.2.3.04", "1.2.3.4", nullptr, "1.2.3.4", "1.2.3.4"},
        {"1.2.3", "1.2.0.3", nullptr, nullptr, nullptr},
        {"256.1.1.1", nullptr, nullptr, nullptr, "256.1.1.1"},
        {"1.2.3.0256", "1.2.3.174", nullptr, nullptr, nullptr},
        {"1.2.3.4.5", nullptr, nullptr, nullptr, nullptr},
        {"1234.1.1.1", nullptr, nullptr, nullptr, nullptr},
        {" 1.2.3.4", nullptr, nullptr, nullptr, "1.2.3.4"},
        {"http://192.168.1.1:80/", nullptr, nullptr, nullptr, "192.168.1.1"},
        {"v1.2.3.4.5 or 10.0.0.138.", nullptr, nullptr, nullptr, "10.0.0.138"},
        {"", nullptr, nullptr, nullptr, nullptr},
    };
    const auto shown = [](std::optional<std::uint32_t> host) {
        return host ? DottedAddress(*host) : "-";
    };
    for (const auto& row : rows) {
        const std::uint32_t classic = ClassicInetAddr(row.text);
        EXPECT_EQ(classic == kAddressNone ? "-" : DottedAddress(ntohl(classic)),
                  row.classic ? row.classic : "-")
            << row.text;
        EXPECT_EQ(shown(ParseStrictDottedQuad(row.text)), row.strict ? row.strict : "-")
            << row.text;
        EXPECT_EQ(shown(ParsePaddedDottedQuad(row.text)), row.padded ? row.padded : "-")
            << row.text;
        const auto parts = FindDottedQuad(row.text);
        EXPECT_EQ(parts ? std::to_string((*parts)[0]) + '.' + std::to_string((*parts)[1]) + '.' +
                              std::to_string((*parts)[2]) + '.' + std::to_string((*parts)[3])
                        : "-",
                  row.found ? row.found : "-")
            << row.text;
    }
}

TEST(IsReservedAddress, CoversExactlyTheSixBlocks) {
    const char* reserved[] = {
        "0.0.0.0",         "0.255.255.255",   "10.0.0.0",       "10.255.255.255", "127.0.0.0",
        "127.0.0.1",       "127.255.255.255", "172.16.0.0",     "172.31.255.255", "192.168.0.0",
        "192.168.255.255", "255.0.0.0",       "255.255.255.255"};
    const char* open[] = {"172.15.255.255", "172.32.0.0",    "169.254.1.1",     "100.64.0.1",
                          "1.0.0.0",        "9.255.255.255", "11.0.0.0",        "192.167.255.255",
                          "192.169.0.0",    "224.0.0.1",     "254.255.255.255", "126.255.255.255",
                          "128.0.0.0"};
    for (const char* text : reserved) {
        EXPECT_TRUE(IsReservedAddress(htonl(Host(text)))) << text;
    }
    for (const char* text : open) {
        EXPECT_FALSE(IsReservedAddress(htonl(Host(text)))) << text;
    }
}

TEST(GetNextToken, CutsRunsAndKeepsTrailingDots) {
    const char* cursor = "IP: 203.0.113.5, mask 255.255.255.0.";
    std::string token;
    ASSERT_TRUE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(token, "203.0.113.5");
    ASSERT_TRUE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(token, "255.255.255.0.");
    EXPECT_EQ(cursor, nullptr);
    EXPECT_FALSE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(token, "255.255.255.0.") << "token touched on failure";
}

TEST(GetNextToken, TextWithoutTokenCharactersUsesTheCursorUp) {
    const char* cursor = "abc";
    std::string token = "kept";
    EXPECT_FALSE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(cursor, nullptr);
    EXPECT_FALSE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(token, "kept");
}

TEST(GetNextToken, BytesOfMultibyteCharactersSeparateTokens) {
    const char* cursor =
        "\xC2\xB2"
        "1.2.3.4\xE2\x80\xA6"
        "5";
    std::string token;
    ASSERT_TRUE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(token, "1.2.3.4");
    ASSERT_TRUE(GetNextToken(cursor, kAddressChars, token));
    EXPECT_EQ(token, "5");
}

}  // namespace
