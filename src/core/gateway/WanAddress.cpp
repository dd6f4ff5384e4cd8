#include "core/gateway/WanAddress.h"

#include <algorithm>
#include <array>

#include "core/text/Ascii.h"

namespace {

constexpr std::string_view kSpace = " \t\r\n";

struct Block {
    std::uint32_t network = 0;
    int prefix = 0;  // 0: no block
};

bool InBlock(std::uint32_t address, std::uint32_t network, int prefix) {
    return (address >> (32 - prefix)) == (network >> (32 - prefix));
}

// What the router's WAN address tells, kind by kind: the ranges of the kind, and the sentence that
// explains it to the user. "{wan}" is the WAN address, "{public}" the public one, "{shown}" the
// sentence that no page of the router can show it. An address in no range is public.
struct WanKindRow {
    WanKind kind;
    std::array<Block, 3> blocks;
    const char* diagnosis;
};

constexpr WanKindRow kWanKinds[] = {
    {WanKind::DsLite,
     {{{0xC0000000u, 29}}},
     "Your router's internet address is {wan}, a DS-Lite address: your provider carries IPv4 "
     "through a tunnel to a NAT of its own, so {shown} Nothing on the router can make this "
     "machine reachable from the internet over IPv4: reach it over IPv6, or through a tunnel of "
     "your own."},
    {WanKind::Shared,
     {{{0x64400000u, 10}}},
     "Your router's internet address is {wan}, a carrier-grade NAT address shared by your "
     "provider: {shown}"},
    {WanKind::Private,
     {{{0x0A000000u, 8}, {0xAC100000u, 12}, {0xC0A80000u, 16}}},
     "Your router's internet address is {wan}, a private address behind another router (double "
     "NAT): {shown}"},
    {WanKind::Unusable,
     {{{0x00000000u, 8}, {0x7F000000u, 8}, {0xA9FE0000u, 16}}},  // and 224.0.0.0 up, below
     "Your router has no internet address of its own: your provider's carrier-grade NAT or "
     "another router stands in front of it, so {shown}"},
    {WanKind::Public,
     {},
     "Your router's internet address is {wan}, not your public address {public}: this computer "
     "reaches the internet another way (a VPN, a proxy or a second line), so no page of this "
     "router can show {public}."},
};

void ReplaceAll(std::string& text, std::string_view name, const std::string& value) {
    for (std::size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
    }
}

}  // namespace

WanKind ClassifyWanAddress(std::uint32_t address) {
    if (address >= 0xE0000000u) {
        return WanKind::Unusable;  // multicast, reserved and broadcast
    }
    for (const WanKindRow& row : kWanKinds) {
        for (const Block& block : row.blocks) {
            if (block.prefix != 0 && InBlock(address, block.network, block.prefix)) {
                return row.kind;
            }
        }
    }
    return WanKind::Public;
}

std::optional<std::uint32_t> ParseExternalAddressText(std::string_view text) {
    text = Trimmed(text, kSpace);
    if (text.empty()) {
        return 0;
    }
    return ParseStrictDottedQuad(text);
}

std::string DiagnoseRouterWan(const RouterWan& wan, std::uint32_t publicAddress) {
    if (!wan.bKnown) {
        return {};
    }
    const WanKind kind = wan.address != 0 ? ClassifyWanAddress(wan.address) : WanKind::Unusable;
    if (kind == WanKind::Public && (publicAddress == 0 || publicAddress == wan.address)) {
        return {};
    }
    const auto row = std::find_if(std::begin(kWanKinds), std::end(kWanKinds),
                                  [kind](const WanKindRow& r) { return r.kind == kind; });
    std::string text = row->diagnosis;
    ReplaceAll(text, "{shown}",
               "no page of this router can show your public address" +
                   (publicAddress != 0 ? " " + DottedAddress(publicAddress) : std::string()) + '.');
    ReplaceAll(text, "{wan}", DottedAddress(wan.address));
    ReplaceAll(text, "{public}", DottedAddress(publicAddress));
    return text;
}

void CPageWanNote::Clear(std::uint32_t router) {
    m_router = router;
    m_shared = 0;
    m_private = 0;
}

void CPageWanNote::Look(std::string_view text) {
    if (m_shared != 0) {
        return;
    }
    std::uint32_t shared = 0;
    std::uint32_t privateOne = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (!IsAsciiDigit(text[at]) && text[at] != '.') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && (IsAsciiDigit(text[end]) || text[end] == '.')) {
            ++end;
        }
        std::string_view run = text.substr(at, end - at);
        at = end;
        const std::size_t first = run.find_first_not_of('.');
        if (first == std::string_view::npos) {
            continue;
        }
        run = run.substr(first, run.find_last_not_of('.') + 1 - first);
        const std::optional<std::uint32_t> address = ParseStrictDottedQuad(run);
        if (!address) {
            continue;
        }
        switch (ClassifyWanAddress(*address)) {
            case WanKind::Public:
                return;  // a page that shows a public address shows no WAN address in its place
            case WanKind::DsLite:
            case WanKind::Shared:
                shared = shared != 0 ? shared : *address;
                break;
            case WanKind::Private:
                if (!InBlock(*address, m_router, 24) && privateOne == 0) {
                    privateOne = *address;
                }
                break;
            case WanKind::Unusable:
                break;
        }
    }
    m_shared = shared;
    if (m_private == 0) {
        m_private = privateOne;
    }
}
