#include "core/net/RouterUrl.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "support/TestHostLookup.h"

namespace {

TEST(ComposeRouterUrl, ConcatenatesAddressPortAndPathUnchanged) {
    std::string url;
    ASSERT_TRUE(ComposeRouterUrl(0xC0A80101, 8080, "/", url));
    EXPECT_EQ(url, "http://192.168.1.1:8080/");
    ASSERT_TRUE(ComposeRouterUrl(0x0A00008A, 80, "/status.htm?x=1", url));
    EXPECT_EQ(url, "http://10.0.0.138:80/status.htm?x=1");
    ASSERT_TRUE(ComposeRouterUrl(0x7F000001, 8000, "/a b%c.htm", url));
    EXPECT_EQ(url, "http://127.0.0.1:8000/a b%c.htm");
    ASSERT_TRUE(ComposeRouterUrl(0x7F000001, 8000, "status.htm", url));
    EXPECT_EQ(url, "http://127.0.0.1:8000/status.htm");
}

TEST(ComposeRouterUrl, RefusesUrlsOver2047CharactersAndKeepsTheOldOne) {
    std::string url = "previous";
    const std::string prefix = "http://127.0.0.1:8000";
    // A path of `length` characters; built in place, as "/" + text trips a false -Wrestrict
    // warning of GCC 12 at -O3.
    const auto path = [](std::size_t length) {
        std::string text(length, 'p');
        text.front() = '/';
        return text;
    };
    EXPECT_TRUE(ComposeRouterUrl(0x7F000001, 8000, path(2047 - prefix.size()), url));
    EXPECT_EQ(url.size(), 2047u);
    url = "previous";
    EXPECT_FALSE(ComposeRouterUrl(0x7F000001, 8000, path(2047 - prefix.size() + 1), url));
    EXPECT_EQ(url, "previous");
}

TEST(CrackUrlHost, GivesHostAndPortWithDefault80) {
    std::string host;
    std::uint16_t port = 0;
    ASSERT_TRUE(CrackUrlHost("http://192.168.1.1/index.htm", host, port));
    EXPECT_EQ(host, "192.168.1.1");
    EXPECT_EQ(port, 80);
    ASSERT_TRUE(CrackUrlHost("HTTP://router.invalid:8080", host, port));
    EXPECT_EQ(host, "router.invalid");
    EXPECT_EQ(port, 8080);
    ASSERT_TRUE(CrackUrlHost("http://my%2Drouter.invalid/", host, port));
    EXPECT_EQ(host, "my-router.invalid");
    ASSERT_TRUE(CrackUrlHost("http://10.0.0.138:8000/a\tb\n.htm?\x1B\x7F", host, port));
    EXPECT_EQ(host, "10.0.0.138");
    EXPECT_EQ(port, 8000);
    host = "kept";
    EXPECT_FALSE(CrackUrlHost("http://10.0.0.\t138/", host, port));
    EXPECT_FALSE(CrackUrlHost("http://", host, port));
    EXPECT_FALSE(CrackUrlHost("http://" + std::string(300, 'h') + "/", host, port));
    EXPECT_EQ(host, "kept");
}

TEST(ResolveHost, ConvertsDottedTextWithoutLookup) {
    std::uint32_t address = 0;
    ASSERT_TRUE(ResolveHost("192.168.1.1", &address, TestHostLookup()));
    EXPECT_EQ(ntohl(address), 0xC0A80101u);
    ASSERT_TRUE(ResolveHost("127.1", &address, TestHostLookup()));
    EXPECT_EQ(ntohl(address), 0x7F000001u);
    // Converts to the failure value, so it goes to the name lookup, which knows only localhost.
    EXPECT_FALSE(ResolveHost("255.255.255.255", &address, TestHostLookup()));
    ASSERT_TRUE(ResolveHost("localhost", &address, TestHostLookup()));
    EXPECT_EQ(ntohl(address), 0x7F000001u);
    address = 1;
    EXPECT_FALSE(ResolveHost("no-such-router.invalid", &address, TestHostLookup()));
    EXPECT_FALSE(ResolveHost("", nullptr, TestHostLookup()));
    EXPECT_EQ(address, 1u);
}

TEST(ResolveHost, SystemResolverAnswersFromTheHostsFile) {
    std::uint32_t address = 0;
    ASSERT_TRUE(ResolveHost("localhost", &address));
    EXPECT_EQ(ntohl(address) >> 24, 127u);
}

}  // namespace
