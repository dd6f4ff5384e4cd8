// The router's WAN address: classification, diagnosis, the page note, the answers of a fake IGD on
// loopback (malformed and endless ones included), the bounds of a request to the gateway, and a
// hostile router and another device on the LAN of the namespace fixture.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "core/gateway/Gateway.h"
#include "core/gateway/WanAddress.h"
#include "support/FakeIgd.h"
#include "support/GatewayNamespace.h"
#include "support/HostileRouter.h"
#include "support/Wait.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::uint32_t Address(const char* dotted) {
    return ParseStrictDottedQuad(dotted).value();
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
    EXPECT_EQ(answer.error, GatewayError::OnThisMachine);
}

// What an answer says, for the tables: the address, "none", or the name of its code.
std::string Outcome(const GatewayAnswer& answer) {
    switch (answer.kind) {
        case GatewayAnswer::Kind::Address:
            return DottedAddress(answer.address);
        case GatewayAnswer::Kind::None:
            return "none";
        case GatewayAnswer::Kind::NoAnswer:
            break;
    }
    constexpr const char* kNames[] = {
        "None",      "OnThisMachine",   "NoRoute",    "NotIgdUrl", "Cancelled",    "TimedOut",
        "Refused",   "CouldNotConnect", "Dropped",    "NotFound",  "NoWanService", "TooLarge",
        "Malformed", "ErrorAnswer",     "BadAddress", "Failed"};
    return kNames[static_cast<int>(answer.error)];
}

// GetExternalIPAddress against a fake IGD on loopback: the well-formed answers, and hostile or
// malformed ones that end in their code, never a crash, a read past its bound or an address that
// was not sent.
TEST(GatewayTest, FakeIgdAnswersWellOrBadly) {
    using Hostile = CHostileRouter;
    const Hostile::Answer kIgd = Hostile::Page(IgdDescription());
    const auto soap = [](const char* address) {
        return Hostile::Page(ExternalAddressAnswer(address));
    };
    const Hostile::Answer kAddress = soap("203.0.113.45");
    const auto describing = [](const std::string& from, const std::string& to) {
        std::string description = IgdDescription();
        description.replace(description.find(from), from.size(), to);
        return Hostile::Page(description);
    };
    const struct {
        Hostile::Answer description;
        Hostile::Answer control;
        const char* outcome;
        std::size_t requests = 2;  // the description, then the SOAP call
    } rows[] = {
        {kIgd, kAddress, "203.0.113.45"},
        {kIgd, soap(" 100.64.12.7 "), "100.64.12.7"},
        {kIgd, soap("192.0.0.2"), "192.0.0.2"},
        {kIgd, soap(""), "none"},
        {kIgd, soap("0.0.0.0"), "none"},
        // Addresses no router's WAN side holds: a bad answer, not an address.
        {kIgd, soap("255.255.255.255"), "BadAddress"},
        {kIgd, soap("127.0.0.1"), "BadAddress"},
        {kIgd, soap("224.0.0.1"), "BadAddress"},
        {kIgd, soap("0.1.2.3"), "BadAddress"},
        {kIgd, soap("169.254.1.1"), "BadAddress"},
        {kIgd, soap("203.0.113.456"), "Malformed"},
        {kIgd, soap("\x1b[2J203.0.113.45"), "Malformed"},
        {kIgd, soap("203.0.113.45 and more text"), "Malformed"},
        {kIgd, Hostile::Page(SoapAnswer("")), "Malformed"},
        {kIgd, Hostile::Page("<s:Envelope><NewExternalIPAddress>203.0.113.45"), "Malformed"},
        {kIgd, Hostile::Page("not XML at all \x01\x02\xff"), "Malformed"},
        {kIgd, Hostile::Http09("garbage"), "Malformed"},
        {kIgd, Hostile::Page(SoapAnswer("<UPnPError><errorCode>501</errorCode></UPnPError>"), 500),
         "ErrorAnswer"},
        // A body cut short of its announced length holds what was sent: the address.
        {kIgd, Hostile::ShortBody(ExternalAddressAnswer("203.0.113.45"), 4000), "203.0.113.45"},
        // Reads end at kMaxSoapAnswerBytes and kMaxIgdDescriptionBytes.
        {kIgd, Hostile::Page("<a>" + std::string(kMaxSoapAnswerBytes, 'x')), "TooLarge"},
        {kIgd, Hostile::EndlessBody(), "TooLarge"},
        {kIgd, Hostile::Huge(100'000'000), "TooLarge"},
        {Hostile::EndlessBody(), kAddress, "TooLarge", 1},
        {Hostile::Huge(100'000'000), kAddress, "TooLarge", 1},
        {Hostile::Page(IgdDescription() + std::string(kMaxIgdDescriptionBytes, ' ')), kAddress,
         "TooLarge", 1},
        // The WAN connection service: a PPP one will do; one whose type would carry a header
        // line, or whose control URL is on another host, is none.
        {describing("WANIPConnection", "WANPPPConnection"), kAddress, "203.0.113.45"},
        {describing("WANIPConnection:1<", "WANIPConnection:1\r\nX-Injected: 1<"), kAddress,
         "NoWanService", 1},
        {describing("/ctl", "http://127.0.0.2:9/ctl"), kAddress, "NoWanService", 1},
    };
    CGateway gateway;
    const std::vector<std::string> targets{"/rootDesc.xml", "/ctl"};
    for (const auto& row : rows) {
        CHostileRouter igd;
        igd.Serve("/rootDesc.xml", row.description);
        igd.Serve("/ctl", row.control);
        GatewayTarget target;
        target.igdUrl = igd.Url("/rootDesc.xml");
        const GatewayAnswer answer = gateway.Ask(GatewayMethod::UpnpIgd, target, CAbortSignal());
        EXPECT_EQ(Outcome(answer), row.outcome) << answer.why;
        EXPECT_EQ(answer.source, "UPnP IGD " + target.igdUrl);
        EXPECT_EQ(igd.RequestedTargets(),
                  std::vector<std::string>(targets.begin(), targets.begin() + row.requests))
            << row.outcome;
    }
}

std::size_t ThreadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:")) {
            return std::stoul(line.substr(8));
        }
    }
    return 0;
}

// Asks on a thread of its own and abandons the question once `asked` holds: the answer, and how
// long the gateway took to return after that (promised: 100 ms).
std::pair<GatewayAnswer, Clock::duration> Abandoned(CGateway& gateway, GatewayMethod method,
                                                    const GatewayTarget& target,
                                                    const std::function<bool()>& asked) {
    std::atomic<bool> abandon{false};
    GatewayAnswer answer;
    Clock::time_point returned;
    std::thread asking([&] {
        answer = gateway.Ask(method, target, CAbortSignal(&abandon));
        returned = Clock::now();
    });
    EXPECT_TRUE(WaitUntil(asked));
    const Clock::time_point abandoned = Clock::now();
    abandon = true;
    asking.join();
    return {answer, returned - abandoned};
}

// A device that takes the connection and never answers: the request ends at its limit, or at once
// when abandoned, and leaves nothing of itself behind, so the next one goes out at once.
TEST(GatewayTest, RequestIsBoundedAndCancellable) {
    CHostileRouter igd;
    igd.Serve("/rootDesc.xml", CHostileRouter::Silent());
    GatewayTarget target;
    target.igdUrl = igd.Url("/rootDesc.xml");
    CGateway gateway({milliseconds(1000), milliseconds(1500)});
    const std::size_t threads = ThreadCount();

    const auto [first, latency] = Abandoned(gateway, GatewayMethod::UpnpIgd, target,
                                            [&] { return igd.RequestedTargets().size() == 1; });
    EXPECT_EQ(first.error, GatewayError::Cancelled);
    EXPECT_LT(latency, milliseconds(1000));
    // The server's side of the connection ends once ours has closed.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }));

    const Clock::time_point start = Clock::now();
    const GatewayAnswer second = gateway.Ask(GatewayMethod::UpnpIgd, target, CAbortSignal());
    const Clock::duration took = Clock::now() - start;
    EXPECT_EQ(second.error, GatewayError::TimedOut);
    EXPECT_GE(took, milliseconds(1500));
    EXPECT_LT(took, milliseconds(1500 + 1000));
    EXPECT_EQ(igd.RequestedTargets().size(), 2u);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }));
}

// The namespace fixture's router played by a gateway of the test's own, beside another device on
// the LAN that answers the search for a WAN address of its own (100.64.9.9): what each answer
// means, method by method, asked as the command line asks (the default route's gateway).
TEST(GatewayTest, HostileGatewayOnTheLan) {
    CGatewayNamespace lan;
    std::string why;
    const std::unique_ptr<CHostileGateway> router = lan.StartHostileRouter(why);
    if (!router) {
        GTEST_SKIP() << why;
    }
    router->http.Serve("/rootDesc.xml", CHostileRouter::Page(IgdDescription()));
    CHostileGateway other(CGatewayNamespace::kOtherDevice);
    other.http.Serve("/rootDesc.xml", CHostileRouter::Page(IgdDescription()));
    other.http.Serve("/ctl", CHostileRouter::Page(ExternalAddressAnswer("100.64.9.9")));

    const auto pmp = [](const char* address, int result = 0) {
        return CHostileGateway::NatPmpAnswer(address, result);
    };
    const std::string good = pmp("203.0.113.7");
    const auto changed = [&good](std::size_t at, char byte, char result = 0) {
        std::string packet = good;
        packet[at] = byte;
        packet[3] = result;
        return packet;
    };
    const std::string cut = good.substr(0, 5);
    constexpr auto kNatPmp = GatewayMethod::NatPmp;
    constexpr auto kUpnp = GatewayMethod::UpnpIgd;
    const struct {
        GatewayMethod method;
        std::vector<std::string> natpmp;  // the router's answer to each NAT-PMP request
        const char* soap;                 // the address text of its SOAP answer
        const char* searched;  // who answers the search: "router", "other", "both", or "named":
                               // the router, naming the other device's root description
        const char* given;     // the NAT-PMP server or IGD URL to ask instead
        const char* outcome;
    } rows[] = {
        {kNatPmp, {good}, "", "", "", "203.0.113.7"},
        {kNatPmp, {pmp("0.0.0.0")}, "", "", "", "none"},
        {kNatPmp, {pmp("0.0.0.0", 3).substr(0, 8)}, "", "", "", "none"},
        // Malformed answers count for nothing, however many come, and never as "none".
        {kNatPmp, {changed(1, '\x81')}, "", "", "", "Malformed"},
        {kNatPmp, {changed(1, '\x81', 3)}, "", "", "", "Malformed"},
        {kNatPmp, {changed(0, 1)}, "", "", "", "Malformed"},
        {kNatPmp, {cut}, "", "", "", "Malformed"},
        {kNatPmp, {good.substr(0, 10)}, "", "", "", "Malformed"},
        {kNatPmp, std::vector<std::string>(2000, cut), "", "", "", "Malformed"},
        {kNatPmp, {cut, good}, "", "", "", "203.0.113.7"},
        {kNatPmp, {pmp("0.0.0.0", 2)}, "", "", "", "ErrorAnswer"},
        {kNatPmp, {}, "", "", "", "TimedOut"},
        {kNatPmp, {pmp("255.255.255.255")}, "", "", "", "BadAddress"},
        {kNatPmp, {pmp("127.0.0.1")}, "", "", "", "BadAddress"},
        {kNatPmp, {pmp("224.0.0.1")}, "", "", "", "BadAddress"},
        {kNatPmp, {pmp("0.1.2.3")}, "", "", "", "BadAddress"},
        {kNatPmp, {}, "", "", "127.0.0.1", "Refused"},  // nothing listens there
        {kNatPmp, {}, "", "", CGatewayNamespace::kUnreachable, "CouldNotConnect"},
        {kUpnp, {}, "203.0.113.7", "router", "", "203.0.113.7"},
        {kUpnp, {}, "255.255.255.255", "router", "", "BadAddress"},
        // Only the router's answer to the search counts; an IGD given counts wherever it is.
        {kUpnp, {}, "203.0.113.7", "both", "", "203.0.113.7"},
        {kUpnp, {}, "203.0.113.7", "other", "", "NotFound"},
        {kUpnp, {}, "203.0.113.7", "named", "", "Malformed"},
        {kUpnp, {}, "", "", "http://192.168.77.3:5000/rootDesc.xml", "100.64.9.9"},
        {kUpnp, {}, "", "", "http://127.0.0.1:9/", "Refused"},
        {kUpnp, {}, "", "", "http://192.0.2.1:5000/", "CouldNotConnect"},
    };
    for (const auto& row : rows) {
        router->AnswerNatPmp(row.natpmp);
        router->http.Serve("/ctl", CHostileRouter::Page(ExternalAddressAnswer(row.soap)));
        const std::string searched = row.searched;
        router->bAnswerSearch = searched == "router" || searched == "both" || searched == "named";
        router->NameInSearch(searched == "named" ? other.RootUrl() : "");
        other.bAnswerSearch = searched == "other" || searched == "both";
        const std::string given = row.given;
        GatewayTarget target;
        if (given.starts_with("http://")) {
            target.igdUrl = given;
        } else if (!given.empty()) {
            target.natpmpGateway = Address(row.given);
        }
        std::vector<std::string> notes;
        const std::string outcome = row.outcome;
        // Rows that end at a limit get a short one; the others end at once.
        const bool bWaits =
            outcome == "TimedOut" || outcome == "NotFound" || outcome == "Malformed";
        const milliseconds limit(bWaits ? 500 : 3000);
        CGateway gateway({limit, limit}, [&](const std::string& note) { notes.push_back(note); });
        const Clock::time_point start = Clock::now();
        const GatewayAnswer answer = gateway.Ask(row.method, target, CAbortSignal());
        EXPECT_LT(Clock::now() - start, limit + milliseconds(1000)) << outcome;
        EXPECT_EQ(Outcome(answer), outcome) << answer.source << ": " << answer.why;
        if (searched == "other") {
            EXPECT_NE(std::find(notes.begin(), notes.end(),
                                "UPnP IGD search: ignored the answer of 192.168.77.3, which is not "
                                "the router 192.168.77.1"),
                      notes.end());
        }
    }
}

// NAT-PMP asked of a router that never answers gives up within 100 ms of being abandoned, long
// before its limit.
TEST(GatewayTest, NatPmpHonoursCancel) {
    CGatewayNamespace lan;
    std::string why;
    const std::unique_ptr<CHostileGateway> router = lan.StartHostileRouter(why);
    if (!router) {
        GTEST_SKIP() << why;
    }
    CGateway gateway({milliseconds(20000), milliseconds(20000)});
    const auto [answer, latency] = Abandoned(gateway, GatewayMethod::NatPmp, GatewayTarget(),
                                             [&] { return router->NatPmpRequests() >= 1; });
    EXPECT_EQ(answer.error, GatewayError::Cancelled);
    EXPECT_LT(latency, milliseconds(1000));
}

}  // namespace
