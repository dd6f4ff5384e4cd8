#include "core/gateway/WanAddress.h"

#include "core/text/Ascii.h"

namespace {

constexpr std::string_view kSpace = " \t\r\n";

bool InBlock(std::uint32_t address, std::uint32_t network, int prefix) {
    return (address >> (32 - prefix)) == (network >> (32 - prefix));
}

}  // namespace

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        const std::size_t start = at;
        std::uint32_t value = 0;
        while (at < text.size() && IsAsciiDigit(text[at]) && at - start < 3) {
            value = value * 10 + static_cast<std::uint32_t>(text[at++] - '0');
        }
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        address = (address << 8) | value;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return address;
}

namespace {

std::string PublicPart(std::uint32_t publicAddress) {
    return publicAddress != 0 ? " " + DottedAddress(publicAddress) : std::string();
}

}  // namespace

WanKind ClassifyWanAddress(std::uint32_t address) {
    if (InBlock(address, 0x64400000u, 10)) {
        return WanKind::Shared;
    }
    if (InBlock(address, 0x0A000000u, 8) || InBlock(address, 0xAC100000u, 12) ||
        InBlock(address, 0xC0A80000u, 16)) {
        return WanKind::Private;
    }
    if (InBlock(address, 0x00000000u, 8) || InBlock(address, 0x7F000000u, 8) ||
        InBlock(address, 0xA9FE0000u, 16) || address >= 0xE0000000u) {
        return WanKind::Unusable;
    }
    return WanKind::Public;
}

std::optional<std::uint32_t> ParseExternalAddressText(std::string_view text) {
    text = Trimmed(text, kSpace);
    if (text.empty()) {
        return 0;
    }
    return ParseDottedQuad(text);
}

std::string DiagnoseRouterWan(const RouterWan& wan, std::uint32_t publicAddress) {
    if (!wan.bKnown) {
        return {};
    }
    const std::string shown =
        "no page of this router can show your public address" + PublicPart(publicAddress) + '.';
    const WanKind kind = wan.address != 0 ? ClassifyWanAddress(wan.address) : WanKind::Unusable;
    const std::string router = "Your router's internet address is " + DottedAddress(wan.address);
    switch (kind) {
        case WanKind::Shared:
            return router + ", a carrier-grade NAT address shared by your provider: " + shown;
        case WanKind::Private:
            return router + ", a private address behind another router (double NAT): " + shown;
        case WanKind::Unusable:
            return "Your router has no internet address of its own: your provider's carrier-grade "
                   "NAT or another router stands in front of it, so " +
                   shown;
        case WanKind::Public:
            break;
    }
    if (publicAddress == 0 || publicAddress == wan.address) {
        return {};
    }
    return router + ", not your public address " + DottedAddress(publicAddress) +
           ": this computer reaches the internet another way (a VPN, a proxy or a second line), "
           "so no page of this router can show " +
           DottedAddress(publicAddress) + '.';
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
        const std::optional<std::uint32_t> address = ParseDottedQuad(run);
        if (!address) {
            continue;
        }
        switch (ClassifyWanAddress(*address)) {
            case WanKind::Public:
                return;  // a page that shows a public address shows no WAN address in its place
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
