#include "core/gateway/Gateway.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "core/gateway/LocalRoute.h"
#include "core/gateway/NatPmp.h"
#include "core/gateway/UpnpIgd.h"
#include "core/text/Ascii.h"

namespace {

constexpr std::size_t kMaxIgdUrl = 255;

// The router the search is for: the one named, else the NAT-PMP server named, else the default
// route's gateway (0: none).
std::uint32_t RouterOf(const GatewayTarget& target) {
    if (target.igdHost != 0) {
        return target.igdHost;
    }
    if (target.natpmpGateway != 0) {
        return target.natpmpGateway;
    }
    return DefaultGateway().value_or(0);
}

// "UPnP IGD URL", or "UPnP IGD search" without one.
std::string UpnpSource(const GatewayTarget& target) {
    return "UPnP IGD " + (target.igdUrl.empty() ? std::string("search") : target.igdUrl);
}

GatewayAnswer AskUpnp(const GatewayTarget& target, const GatewayLimits& limits,
                      const CAbortSignal& abort, const GatewayNotes& notes) {
    const std::string source = UpnpSource(target);
    UpnpQuestion question;
    question.igdUrl = target.igdUrl;
    if (!question.igdUrl.empty()) {
        if (!CrackIgdUrl(question.igdUrl)) {
            return GatewayAnswer::Failure(source, GatewayError::NotIgdUrl,
                                          "not an http URL on an IPv4 address");
        }
        return AskUpnpIgd(question, limits, abort, notes);
    }
    question.router = RouterOf(target);
    if (question.router == 0) {
        return GatewayAnswer::Failure(source, GatewayError::NoRoute,
                                      "no default route: no router to search for");
    }
    int error = 0;
    const std::optional<std::uint32_t> from = LocalAddressToward(question.router, &error);
    if (!from) {
        return GatewayAnswer::Failure(
            source, GatewayError::NoRoute,
            std::string("no network to search on (") + std::strerror(error) + ')');
    }
    question.from = *from;
    return AskUpnpIgd(question, limits, abort, notes);
}

GatewayAnswer AskPmp(const GatewayTarget& target, const GatewayLimits& limits,
                     const CAbortSignal& abort, const GatewayNotes& notes) {
    const std::uint32_t gateway =
        target.natpmpGateway != 0 ? target.natpmpGateway : DefaultGateway().value_or(0);
    if (gateway == 0) {
        return GatewayAnswer::Failure("NAT-PMP", GatewayError::NoRoute, "no default route");
    }
    return AskNatPmp(gateway, limits.request, abort, notes);
}

}  // namespace

GatewayAnswer GatewayAnswer::Failure(std::string source, GatewayError error, std::string why) {
    GatewayAnswer answer;
    answer.source = std::move(source);
    answer.error = error;
    answer.why = std::move(why);
    return answer;
}

CGateway::CGateway(GatewayLimits limits, GatewayNotes notes)
    : m_limits(limits), m_notes(std::move(notes)) {}

GatewayAnswer CGateway::Ask(GatewayMethod method, const GatewayTarget& target,
                            const CAbortSignal& abort) {
    const bool bUpnp = method == GatewayMethod::UpnpIgd;
    if (target.bOnThisMachine) {
        std::string source = bUpnp ? UpnpSource(target) : std::string("NAT-PMP");
        if (!bUpnp && target.natpmpGateway != 0) {
            source += ' ' + DottedAddress(target.natpmpGateway);
        }
        return GatewayAnswer::Failure(source, GatewayError::OnThisMachine,
                                      "the router is on this machine: no gateway to ask");
    }
    GatewayAnswer answer = bUpnp ? AskUpnp(target, m_limits, abort, m_notes)
                                 : AskPmp(target, m_limits, abort, m_notes);
    if (m_notes && answer.kind == GatewayAnswer::Kind::Address &&
        ClassifyWanAddress(answer.address) == WanKind::Unusable) {
        m_notes(answer.source + ": the answer named " + DottedAddress(answer.address));
    }
    return JudgedGatewayAnswer(std::move(answer));
}

bool CrackIgdUrl(std::string_view url, std::uint32_t* host) {
    constexpr std::string_view kScheme = "http://";
    if (url.size() > kMaxIgdUrl || url.size() < kScheme.size() || !StartsWithNoCase(url, kScheme) ||
        std::any_of(url.begin(), url.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte <= 0x20 || byte >= 0x7F;
        })) {
        return false;
    }
    std::string_view rest = url.substr(kScheme.size());
    const std::string_view authority = rest.substr(0, rest.find('/'));
    const std::size_t colon = authority.find(':');
    const std::optional<std::uint32_t> address =
        ParseExternalAddressText(authority.substr(0, colon));
    if (!address || *address == 0 || authority.substr(0, colon).empty()) {
        return false;
    }
    if (colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoul(std::string(port)) == 0 || std::stoul(std::string(port)) > 65535) {
            return false;
        }
    }
    if (host != nullptr) {
        *host = *address;
    }
    return true;
}
