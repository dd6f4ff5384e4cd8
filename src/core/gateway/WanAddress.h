#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/InetAddr.h"

// What the router's WAN address says about the line behind it. Addresses here are host order
// (a*2^24 + b*2^16 + c*2^8 + d).

enum class WanKind {
    Public,
    DsLite,    // 192.0.0.0/29: the provider carries IPv4 in an IPv6 tunnel to a NAT of its own
    Shared,    // 100.64.0.0/10: the provider's carrier-grade NAT
    Private,   // 10/8, 172.16/12, 192.168/16: another router stands in front
    Unusable,  // 0/8, loopback, link-local, multicast and above: no address a router can hold
};

WanKind ClassifyWanAddress(std::uint32_t address);

// A dotted quad as a gateway writes its external address: four decimal parts of 0 to 255 without
// leading zeros, white space around it allowed. 0 for the text of no address (empty or 0.0.0.0);
// nullopt for anything else.
std::optional<std::uint32_t> ParseExternalAddressText(std::string_view text);

// What is known of the router's WAN side.
struct RouterWan {
    bool bKnown = false;  // the gateway answered, or a page showed a shared or private address
    std::uint32_t address = 0;  // 0: the router has no internet address of its own
};

// Why no page of the router can show `publicAddress` (0: not known), for people; the empty text
// when the WAN side does not explain it (a public WAN address that is the public address).
std::string DiagnoseRouterWan(const RouterWan& wan, std::uint32_t publicAddress);

// Notes, page by page, a router page that shows the WAN address in place of the public one: a page
// whose only addresses are the provider's (DS-Lite or shared) or private. Addresses are dotted
// quads; private ones in the router's own /24 are its LAN's and count for nothing, as do unusable
// ones. The first address of the provider's noted wins, else the first private one.
class CPageWanNote {
public:
    void Clear(std::uint32_t router);
    void Look(std::string_view text);
    std::uint32_t Address() const { return m_shared != 0 ? m_shared : m_private; }

private:
    std::uint32_t m_router = 0;
    std::uint32_t m_shared = 0;
    std::uint32_t m_private = 0;
};
