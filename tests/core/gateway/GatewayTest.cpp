// The router's WAN address: classification, diagnosis, the page note, the answers of a fake IGD on
// loopback (malformed ones included), and the bounds of a request to the gateway.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/gateway/Gateway.h"
#include "core/gateway/WanAddress.h"
#include "support/FakeIgd.h"
#include "support/HostileRouter.h"
#include "support/Wait.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::uint32_t Address(const char* dotted) {
    return ParseDottedQuad(dotted).value();
}

TEST(WanAddressTest, ClassifiesTheRouterWanAddress) {
    const struct {
        const char* address;
        WanKind kind;
    } rows[] = {
        {"203.0.113.45", WanKind::Public},      {"8.8.8.8", WanKind::Public},
        {"100.63.255.255", WanKind::Public},    {"100.64.0.0", WanKind::Shared},
        {"100.64.12.7", WanKind::Shared},       {"100.127.255.255", WanKind::Shared},
        {"100.128.0.0", WanKind::Public},       {"9.255.255.255", WanKind::Public},
        {"10.0.0.0", WanKind::Private},         {"10.255.255.255", WanKind::Private},
        {"11.0.0.0", WanKind::Public},          {"172.15.255.255", WanKind::Public},
        {"172.16.0.0", WanKind::Private},       {"172.31.255.255", WanKind::Private},
        {"172.32.0.0", WanKind::Public},        {"192.167.255.255", WanKind::Public},
        {"192.168.0.1", WanKind::Private},      {"192.168.255.255", WanKind::Private},
        {"192.169.0.0", WanKind::Public},       {"169.254.1.1", WanKind::Unusable},
        {"169.253.255.255", WanKind::Public},   {"127.0.0.1", WanKind::Unusable},
        {"0.0.0.0", WanKind::Unusable},         {"0.255.255.255", WanKind::Unusable},
        {"1.0.0.0", WanKind::Public},           {"223.255.255.255", WanKind::Public},
        {"224.0.0.1", WanKind::Unusable},       {"255.255.255.255", WanKind::Unusable},
        {"192.0.0.0", WanKind::DsLite},         {"192.0.0.2", WanKind::DsLite},
        {"192.0.0.7", WanKind::DsLite},         {"192.0.0.8", WanKind::Public},
        {"191.255.255.255", WanKind::Public},   {"126.255.255.255", WanKind::Public},
        {"127.0.0.0", WanKind::Unusable},       {"127.255.255.255", WanKind::Unusable},
        {"128.0.0.0", WanKind::Public},         {"169.254.0.0", WanKind::Unusable},
        {"169.254.255.255", WanKind::Unusable}, {"169.255.0.0", WanKind::Public},
        {"224.0.0.0", WanKind::Unusable},       {"239.255.255.255", WanKind::Unusable},
        {"240.0.0.0", WanKind::Unusable},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ClassifyWanAddress(Address(row.address)), row.kind) << row.address;
    }
}

TEST(WanAddressTest, DiagnosisSaysWhatTheWanAddressMeans) {
    const std::uint32_t kPublic = Address("203.0.113.45");
    const struct {
        RouterWan wan;
        std::uint32_t publicAddress;
        const char* diagnosis;
    } rows[] = {
        {{true, Address("100.64.12.7")},
         kPublic,
         "Your router's internet address is 100.64.12.7, a carrier-grade NAT address shared by "
         "your provider: no page of this router can show your public address 203.0.113.45."},
        {{true, Address("192.168.0.5")},
         kPublic,
         "Your router's internet address is 192.168.0.5, a private address behind another router "
         "(double NAT): no page of this router can show your public address 203.0.113.45."},
        {{true, Address("192.0.0.2")},
         kPublic,
         "Your router's internet address is 192.0.0.2, a DS-Lite address: your provider carries "
         "IPv4 through a tunnel to a NAT of its own, so no page of this router can show your "
         "public address 203.0.113.45. Nothing on the router can make this machine reachable from "
         "the internet over IPv4: reach it over IPv6, or through a tunnel of your own."},
        {{true, 0},
         kPublic,
         "Your router has no internet address of its own: your provider's carrier-grade NAT or "
         "another router stands in front of it, so no page of this router can show your public "
         "address 203.0.113.45."},
        {{true, Address("169.254.3.4")},
         0,
         "Your router has no internet address of its own: your provider's carrier-grade NAT or "
         "another router stands in front of it, so no page of this router can show your public "
         "address."},
        {{true, Address("100.64.12.7")},
         0,
         "Your router's internet address is 100.64.12.7, a carrier-grade NAT address shared by "
         "your provider: no page of this router can show your public address."},
        {{true, Address("198.51.100.7")},
         kPublic,
         "Your router's internet address is 198.51.100.7, not your public address 203.0.113.45: "
         "this computer reaches the internet another way (a VPN, a proxy or a second line), so no "
         "page of this router can show 203.0.113.45."},
        {{true, kPublic}, kPublic, ""},
        {{true, Address("198.51.100.7")}, 0, ""},
        {{false, 0}, kPublic, ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DiagnoseRouterWan(row.wan, row.publicAddress), row.diagnosis) << row.wan.address;
    }
}

// A page shows the WAN address in place of the public one only when it shows no public address.
TEST(WanAddressTest, PageNoteKeepsASharedOrForeignPrivateAddress) {
    const struct {
        std::vector<const char*> pages;
        const char* noted;
    } rows[] = {
        {{"WAN 100.64.12.7 GW 100.64.0.1 LAN 192.168.1.1 mask 255.255.255.0"}, "100.64.12.7"},
        {{"WAN 100.64.12.7. DNS 8.8.8.8"}, "0.0.0.0"},                        // a public address
        {{"LAN 192.168.1.1 DHCP 192.168.1.100-192.168.1.199"}, "0.0.0.0"},    // the router's LAN
        {{"WAN 192.168.0.5 LAN 192.168.1.1"}, "192.168.0.5"},                 // double NAT
        {{"WAN 192.168.0.5", "WAN 100.64.12.7"}, "100.64.12.7"},              // shared wins
        {{"WAN 192.168.0.5", "B4 192.0.0.2 AFTR 2001:db8::1"}, "192.0.0.2"},  // as DS-Lite does
        {{"WAN 100.64.12.7", "WAN 100.64.99.9"}, "100.64.12.7"},              // the first stays
        {{"v100.64.12.7.1 build 100.064.1.2 and 0100.64.1.1"}, "0.0.0.0"},    // no dotted quad
        {{"uptime 1234567890 loopback 127.0.0.1 link 169.254.0.9"}, "0.0.0.0"},
    };
    for (const auto& row : rows) {
        CPageWanNote note;
        note.Clear(Address("192.168.1.1"));
        for (const char* page : row.pages) {
            note.Look(page);
        }
        EXPECT_EQ(DottedAddress(note.Address()), row.noted) << row.pages.front();
    }
}

TEST(WanAddressTest, OnlyPlainAddressesAndIpv4HttpUrlsPass) {
    EXPECT_EQ(ParseExternalAddressText(" 203.0.113.45\r\n"), Address("203.0.113.45"));
    EXPECT_EQ(ParseExternalAddressText(""), 0u);
    EXPECT_EQ(ParseExternalAddressText("0.0.0.0"), 0u);
    for (const char* bad : {"203.0.113", "203.0.113.256", "203.0.113.045", "1.2.3.4.5", "1.2.3.x",
                            "::1", "1.2.3.4 5", "+1.2.3.4"}) {
        EXPECT_FALSE(ParseExternalAddressText(bad)) << bad;
    }
    std::uint32_t host = 0;
    EXPECT_TRUE(CrackIgdUrl("HTTP://192.168.1.1:5000/rootDesc.xml", &host));
    EXPECT_EQ(host, Address("192.168.1.1"));
    EXPECT_TRUE(CrackIgdUrl("http://10.0.0.1"));
    for (const char* bad :
         {"https://192.168.1.1/", "http://router.lan/", "http://[::1]:5000/",
          "http://user@192.168.1.1/", "http://192.168.1.1:0/", "http://192.168.1.1:65536/",
          "http://0.0.0.0/", "http://1.2.3.4/a b", "http://1.2.3.4/\r\nX: y",
          "http://1.2.3.4/\xC3\xA9", "ftp://1.2.3.4/"}) {
        EXPECT_FALSE(CrackIgdUrl(bad)) << bad;
    }
    EXPECT_FALSE(CrackIgdUrl("http://1.2.3.4/" + std::string(300, 'a')));

    // A router reached over loopback has no gateway: nothing is asked.
    CGateway gateway;
    const GatewayTarget target = GatewayTargetOfRouter(Address("127.0.0.1"));
    const GatewayAnswer answer = gateway.Ask(GatewayMethod::NatPmp, target, CAbortSignal());
    EXPECT_EQ(answer.kind, GatewayAnswer::Kind::NoAnswer);
    EXPECT_EQ(answer.source, "NAT-PMP 127.0.0.1");
    EXPECT_EQ(answer.why, "the router is on this machine: no gateway to ask");
}

// GetExternalIPAddress against a fake IGD on loopback: the well-formed answers, and malformed ones
// that end in a reason, never a crash or an address that was not sent.
TEST(GatewayTest, FakeIgdAnswersWellOrBadly) {
    using Kind = GatewayAnswer::Kind;
    const std::string huge = "<a>" + std::string(1 << 20, 'x');
    const struct {
        CHostileRouter::Answer answer;
        Kind kind;
        const char* said;  // the address, or a piece of the reason
    } rows[] = {
        {CHostileRouter::Page(ExternalAddressAnswer("203.0.113.45")), Kind::Address,
         "203.0.113.45"},
        {CHostileRouter::Page(ExternalAddressAnswer(" 100.64.12.7 ")), Kind::Address,
         "100.64.12.7"},
        {CHostileRouter::Page(ExternalAddressAnswer("")), Kind::None, ""},
        {CHostileRouter::Page(ExternalAddressAnswer("0.0.0.0")), Kind::None, ""},
        {CHostileRouter::Page(ExternalAddressAnswer("203.0.113.456")), Kind::NoAnswer,
         "holds no IPv4 address"},
        {CHostileRouter::Page(ExternalAddressAnswer("\x1b[2J203.0.113.45")), Kind::NoAnswer,
         "holds no IPv4 address"},
        {CHostileRouter::Page(ExternalAddressAnswer("203.0.113.45 and more text")), Kind::NoAnswer,
         "holds no IPv4 address"},
        {CHostileRouter::Page(SoapAnswer("")), Kind::NoAnswer, ""},
        {CHostileRouter::Page("<s:Envelope><NewExternalIPAddress>203.0.113.45"), Kind::NoAnswer,
         ""},
        {CHostileRouter::Page("not XML at all \x01\x02\xff"), Kind::NoAnswer, ""},
        {CHostileRouter::Page(huge), Kind::NoAnswer, ""},
        {CHostileRouter::Page(SoapAnswer("<UPnPError><errorCode>501</errorCode></UPnPError>"), 500),
         Kind::NoAnswer, "UPnP error 501"},
        // The library takes a body cut short for what it holds: the address was sent.
        {CHostileRouter::ShortBody(ExternalAddressAnswer("203.0.113.45"), 4000), Kind::Address,
         "203.0.113.45"},
        {CHostileRouter::Http09("garbage"), Kind::NoAnswer, ""},
    };
    CGateway gateway;
    for (const auto& row : rows) {
        CHostileRouter igd;
        igd.Serve("/rootDesc.xml", CHostileRouter::Page(IgdDescription()));
        igd.Serve("/ctl", row.answer);
        GatewayTarget target;
        target.igdUrl = igd.Url("/rootDesc.xml");
        const GatewayAnswer answer = gateway.Ask(GatewayMethod::UpnpIgd, target, CAbortSignal());
        const std::string said =
            answer.kind == Kind::Address ? DottedAddress(answer.address) : answer.why;
        EXPECT_EQ(answer.kind, row.kind) << said;
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        EXPECT_EQ(answer.source, "UPnP IGD " + target.igdUrl);
        EXPECT_EQ(igd.RequestedTargets(), (std::vector<std::string>{"/rootDesc.xml", "/ctl"}));
    }

    // A control URL on another host is not followed.
    CHostileRouter igd;
    std::string description = IgdDescription();
    description.replace(description.find("/ctl"), 4, "http://127.0.0.2:9/ctl");
    igd.Serve("/rootDesc.xml", CHostileRouter::Page(description));
    GatewayTarget target;
    target.igdUrl = igd.Url("/rootDesc.xml");
    const GatewayAnswer elsewhere = gateway.Ask(GatewayMethod::UpnpIgd, target, CAbortSignal());
    EXPECT_EQ(elsewhere.why, "the IGD names no WAN connection on its own address");
}

// The library cannot be interrupted: its call goes on on a helper thread (here until its own 3 s
// socket time-out), while the request returns within its limit, or at once when abandoned, and no
// other UPnP request starts until the helper has let go. NAT-PMP needs no helper: a device that
// takes the connection and never answers keeps it from being asked no longer than UPnP's limit.
TEST(GatewayTest, RequestIsBoundedCancellableAndAlone) {
    CHostileRouter igd;
    igd.Serve("/rootDesc.xml", CHostileRouter::Silent());
    GatewayTarget target;
    target.igdUrl = igd.Url("/rootDesc.xml");
    CGateway gateway({milliseconds(1000), milliseconds(1500)});

    std::atomic<bool> abandon{false};
    GatewayAnswer first;
    Clock::time_point returned;
    std::thread asking([&] {
        first = gateway.Ask(GatewayMethod::UpnpIgd, target, CAbortSignal(&abandon));
        returned = Clock::now();
    });
    ASSERT_TRUE(WaitUntil([&] { return igd.RequestedTargets().size() == 1; }));
    const Clock::time_point abandoned = Clock::now();
    abandon = true;
    asking.join();
    EXPECT_EQ(first.why, "cancelled");
    EXPECT_LT(returned - abandoned, milliseconds(1000)) << "promised: 100 ms";

    // The helper is still inside the library: no UPnP request is sent, but NAT-PMP is asked
    // (nothing listens for it on loopback).
    target.natpmpGateway = Address("127.0.0.1");
    const GatewayAnswer busy = gateway.Ask(GatewayMethod::UpnpIgd, target, CAbortSignal());
    EXPECT_EQ(busy.why, "an earlier request to the gateway is still running");
    EXPECT_EQ(gateway.Ask(GatewayMethod::NatPmp, target, CAbortSignal()).why, "refused");
    EXPECT_EQ(igd.RequestedTargets().size(), 1u);

    // Once it has let go, the next turn goes out: UPnP ends at its own limit, then NAT-PMP is
    // asked within its own.
    std::vector<GatewayAnswer> turn;
    Clock::duration took{};
    ASSERT_TRUE(WaitUntil([&] {
        const Clock::time_point start = Clock::now();
        turn = AskGatewayInTurn(gateway, target, CAbortSignal());
        took = Clock::now() - start;
        return turn.front().why != busy.why;
    }));
    ASSERT_EQ(turn.size(), 2u);
    EXPECT_EQ(turn[0].why, "timed out");
    EXPECT_EQ(turn[1].why, "refused");
    EXPECT_LT(took, milliseconds(1500 + 1000));
    EXPECT_EQ(igd.RequestedTargets().size(), 2u);
}

}  // namespace
