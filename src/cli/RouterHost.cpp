#include "cli/RouterHost.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "cli/Interrupt.h"
#include "core/net/HostNames.h"
#include "core/net/InetAddr.h"
#include "core/spider/SpiderRules.h"
#include "core/text/Ascii.h"
#include "core/text/StringTable.h"

namespace {

bool IsNameCharacter(char c) {
    return IsAsciiDigit(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z') || c == '-' ||
           c == '.' || c == '_';
}

bool IsDotted(const std::string& host) {
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return IsAsciiDigit(c) || c == '.'; });
}

// What the router is given as, after what was given instead.
constexpr const char* kRouterForms =
    ", not HOST[:PORT]: give the router's IPv4 address or name, with :PORT when it is not 80";

}  // namespace

std::string RefusedRouterForm(const std::string& text) {
    const std::string shown = EscapeControls(text);
    if (const std::size_t scheme = text.find("://"); scheme != std::string::npos) {
        // The router of the URL, when it is one that HOST[:PORT] takes.
        const std::size_t start = scheme + 3;
        const std::string authority = text.substr(start, text.find_first_of("/?#", start) - start);
        RouterTarget target;
        const bool bPlain = !authority.empty() && RefusedRouterForm(authority).empty() &&
                            ParseRouter(authority, target).empty();
        return shown + " is a URL" + kRouterForms +
               (bPlain ? " (" + EscapeControls(authority) + " here)"
                       : ", as in 192.168.1.1 or router.home.arpa:8080");
    }
    if (text.starts_with('[')) {
        return shown + " is an address in brackets" + kRouterForms + ", as in 192.168.1.1:8080";
    }
    if (std::count(text.begin(), text.end(), ':') > 1) {
        return shown + " is an IPv6 address" + kRouterForms +
               "; velmo-cli reaches routers over IPv4";
    }
    return {};
}

std::string ParseRouter(const std::string& text, RouterTarget& target) {
    if (std::string refused = RefusedRouterForm(text); !refused.empty()) {
        return refused;
    }
    const std::size_t colon = text.find(':');
    target.host = text.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        const bool bDigits = !port.empty() && port.size() <= 5 &&
                             std::all_of(port.begin(), port.end(), IsAsciiDigit);
        const long value = bDigits ? std::strtol(port.c_str(), nullptr, 10) : 0;
        if (value < 1 || value > 65535) {
            return LoadString(IDS_INVALID_PORT);
        }
        target.port = static_cast<std::int32_t>(value);
    }
    const std::string& host = target.host;
    // A last label like 0x7f or 1 is no name (no top-level domain is numeric): the resolver would
    // take the text for an address in the classic forms, octal and hexadecimal included.
    const std::string last = host.substr(host.rfind('.') + 1);
    const bool bNumeric = !last.empty() && IsAsciiDigit(last.front()) &&
                          std::all_of(last.begin(), last.end(), [](char c) {
                              return IsAsciiDigit(c) ||
                                     (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') ||
                                     AsciiLower(c) == 'x';
                          });
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsNameCharacter) ||
        (!IsDotted(host) && bNumeric)) {
        return LoadString(IDS_INVALID_ADDRESS);
    }
    if (!IsDotted(host)) {
        return {};  // looked up by ResolveRouter
    }
    target.address = ParsePaddedDottedQuad(host).value_or(0);
    const int refusal = CheckRouterTarget(target.address, target.port);
    return refusal != 0 ? LoadString(refusal) : std::string();
}

OrExit<RouterTarget> ResolveRouter(const RouterTarget& target, const HostLookup& lookup,
                                   std::chrono::milliseconds limit) {
    if (IsDotted(target.host)) {
        return target;
    }
    CHostNames names(lookup, limit, limit, CAbortSignal(&InterruptFlag()));
    std::uint32_t address = 0;
    const bool bFound = names.Lookup(target.host, address);
    if (Interrupted()) {
        return Fail(kExitInterrupted, {});
    }
    if (!bFound) {
        std::ostringstream why;
        why << target.host << ": no IPv4 address for this name (not found, or no answer within "
            << std::chrono::duration<double>(limit).count() << " s)";
        return Fail(kExitNoHost, why.str());
    }
    RouterTarget resolved = target;
    resolved.address = ntohl(address);
    if (const int refusal = CheckRouterTarget(resolved.address, resolved.port); refusal != 0) {
        return Usage(LoadString(refusal));
    }
    return resolved;
}
