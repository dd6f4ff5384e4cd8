#pragma once

#include <string>
#include <string_view>

#include "core/address/AddressProbe.h"
#include "core/gateway/Gateway.h"
#include "core/login/RouterSession.h"
#include "core/net/AbortSignal.h"

// One reading of the polled address, of a router page or of the router's own answer, with the
// reason a reading without an address names in the polling log and in velmo-cli's lines.

// Why a reading gave no address. Callers branch on the code; the reason is for people.
enum class PollFailure {
    None,
    NoAnswer,      // nothing or not all came back: no connection, a time-out, no gateway answer
                   // understood
    LoginRefused,  // the page answered HTTP 401 or 403
    HttpStatus,    // the page answered with another status of 400 or above
    NoAddress,     // the answer holds no acceptable address
    NoneOfItsOwn,  // the router answered that it has no internet address of its own
};

struct PollReading {
    std::string result = "n/a";  // the address text as it stood, or "n/a"
    PollFailure failure = PollFailure::None;
    // Why not, after "n/a": "HTTP 404", "login refused (HTTP 401)", "no answer (timed out)", "no
    // address in the page", "NAT-PMP 192.168.1.1: the router has no internet address of its own".
    std::string reason;
    long status = 0;  // a page's: the HTTP status of its answer; 0 when none came
    // A page's, when it could not be read whole: what became of the transfer, "timed out",
    // "refused", "connection dropped"…
    std::string transfer;
    // The router's own answer: the gateway whose answer counted, "UPnP IGD URL" or "NAT-PMP
    // ADDRESS"; empty when none answered.
    std::string gateway;

    bool Found() const { return failure == PollFailure::None; }
};

// The reading of a page probe that found `result`, or else failed for `failure`.
PollReading PageReading(bool bFound, const std::string& result, const ProbeFailure& failure);

// Reads the page at `url` as the address probe does (the reserved blocks refused).
PollReading ReadPolledPage(const std::string& url, std::string_view login,
                           std::string_view password, std::string_view exclusions,
                           const FetchOptions& options);

// One polling tick's reading of the page at `url` through `session`, which keeps its cookies,
// Digest and login from one tick to the next; a login the router refused is the reason.
// `failure`, when given, receives the probe's own account of a reading without an address.
PollReading ReadPolledPage(CRouterSession& session, const std::string& url,
                           std::string_view exclusions, const FetchOptions& options,
                           ProbeFailure* failure = nullptr);

// Asks the router itself, UPnP IGD and then NAT-PMP; an address is given dotted.
PollReading ReadRouterAnswer(IGateway& gateway, const GatewayTarget& target,
                             const CAbortSignal& abort);
