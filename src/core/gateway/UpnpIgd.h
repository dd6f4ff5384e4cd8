#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/gateway/Gateway.h"

// UPnP IGD: the SSDP search for the router's IGD, its root description read over HTTP, and the
// SOAP call GetExternalIPAddress on its WAN connection service.

// One question to an IGD: the one whose root description is at `igdUrl`, or, when it is empty,
// the one that answers the search from `router` itself, searched for from the local address
// `from` (all host order).
struct UpnpQuestion {
    std::string igdUrl;
    std::uint32_t router = 0;
    std::uint32_t from = 0;
};

// Asks within `limits` and 100 ms of `abort`: the search listens at most limits.search, each HTTP
// request gets limits.request and reads at most kMaxIgdDescriptionBytes or kMaxSoapAnswerBytes.
GatewayAnswer AskUpnpIgd(const UpnpQuestion& question, const GatewayLimits& limits,
                         const CAbortSignal& abort, const GatewayNotes& notes);

// The root description URL of an SSDP search answer: its LOCATION, when the datagram is an
// "HTTP/1.x 200" answer that has one. Nothing is checked of the URL.
std::optional<std::string> SsdpLocation(std::string_view datagram);

// The WAN connection service a root description names: the first WANIPConnection service, else
// the first WANPPPConnection one, with a control URL made absolute against URLBase or
// `descriptionUrl`. Nullopt when there is none, or its service type holds anything but letters,
// digits and ":.-_".
struct WanConnection {
    std::string controlUrl;
    std::string serviceType;
};
std::optional<WanConnection> FindWanConnection(std::string_view description,
                                               std::string_view descriptionUrl);

// What a GetExternalIPAddress answer says, read from its HTTP status and body.
struct SoapReply {
    enum class Kind {
        Address,    // `text`, the content of NewExternalIPAddress (to be parsed yet)
        Error,      // a UPnP error `code` (0: none given, then `status` says it)
        Malformed,  // a 200 without the element, or no HTTP at all
    };
    Kind kind = Kind::Malformed;
    std::string text;
    long code = 0;
};
SoapReply ParseSoapReply(long status, std::string_view body);
