#include "core/gateway/UpnpIgd.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "core/gateway/Socket.h"
#include "core/net/HttpFetch.h"
#include "core/net/InetAddr.h"
#include "core/text/Ascii.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks at the abort flag: well inside the promised 100 ms.
constexpr milliseconds kSlice{20};
constexpr milliseconds kResend{500};
constexpr std::uint32_t kSsdpGroup = 0xEFFFFFFAu;  // 239.255.255.250
constexpr std::uint16_t kSsdpPort = 1900;
constexpr std::size_t kMaxDatagram = 2048;  // of an answer to the search; the rest is cut off
constexpr std::size_t kNamedDevices = 4;    // other devices that answered, named in the notes
constexpr std::size_t kMaxServiceType = 128;
constexpr const char* kIgdType = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";

// Sends the search from `question.from` and waits for the router's answer: its LOCATION, or the
// failure in `failure`.
std::optional<std::string> Search(const UpnpQuestion& question, milliseconds limit,
                                  const CAbortSignal& abort, const GatewayNotes& notes,
                                  GatewayAnswer& failure) {
    const std::string source = "UPnP IGD search";
    const std::string router = DottedAddress(question.router);
    const CSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_in local = SocketAddress(question.from, 0);
    const in_addr interface { htonl(question.from) };
    const unsigned char ttl = 2;
    if (socket.Fd() < 0 ||
        bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(socket.Fd(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0 ||
        setsockopt(socket.Fd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
        failure = GatewayAnswer::Failure(source, GatewayError::Failed,
                                         WithErrno("the search could not be sent", errno));
        return std::nullopt;
    }
    const std::string request = std::string("M-SEARCH * HTTP/1.1\r\n") +
                                "HOST: 239.255.255.250:1900\r\n"
                                "MAN: \"ssdp:discover\"\r\n"
                                "MX: 1\r\n"
                                "ST: " +
                                kIgdType + "\r\n\r\n";
    const sockaddr_in group = SocketAddress(kSsdpGroup, kSsdpPort);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + limit;
    // Sent at once, and again once the search has gone unanswered for kResend, should the first
    // have been lost.
    int sends = limit > 2 * kResend ? 2 : 1;
    Clock::time_point nextSend = start;
    std::set<std::uint32_t> others;
    bool bRouterAnswered = false;
    while (true) {
        if (abort.IsSet()) {
            failure = GatewayAnswer::Failure(source, GatewayError::Cancelled, "cancelled");
            return std::nullopt;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            break;
        }
        if (sends > 0 && now >= nextSend) {
            if (sendto(socket.Fd(), request.data(), request.size(), 0,
                       reinterpret_cast<const sockaddr*>(&group), sizeof group) < 0) {
                const int error = errno;
                failure = GatewayAnswer::Failure(source,
                                                 error == ENETUNREACH || error == EHOSTUNREACH
                                                     ? GatewayError::NoRoute
                                                     : GatewayError::Failed,
                                                 WithErrno("the search could not be sent", error));
                return std::nullopt;
            }
            --sends;
            nextSend = start + kResend;
        }
        pollfd ready{socket.Fd(), POLLIN, 0};
        poll(&ready, 1, static_cast<int>(kSlice.count()));
        char datagram[kMaxDatagram];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t size = recvfrom(socket.Fd(), datagram, sizeof datagram, 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size < 0) {
            continue;
        }
        const std::uint32_t sender = ntohl(from.sin_addr.s_addr);
        if (sender != question.router) {
            // Another device on the LAN may claim to be the gateway: only the router's word counts.
            if (notes && others.size() < kNamedDevices && others.insert(sender).second) {
                notes(source + ": ignored the answer of " + DottedAddress(sender) +
                      ", which is not the router " + router);
            }
            continue;
        }
        const std::optional<std::string> location =
            SsdpLocation(std::string_view(datagram, static_cast<std::size_t>(size)));
        std::uint32_t host = 0;
        if (location && CrackIgdUrl(*location, &host) && host == question.router) {
            return location;
        }
        if (notes && !bRouterAnswered) {
            notes(source + ": the router's answer names no root description on its own address");
        }
        bRouterAnswered = true;
    }
    failure = bRouterAnswered
                  ? GatewayAnswer::Failure(source, GatewayError::Malformed,
                                           "the router's answer to the search names no root "
                                           "description on its own address")
                  : GatewayAnswer::Failure(source, GatewayError::NotFound,
                                           "the router " + router + " did not answer the search");
    return std::nullopt;
}

GatewayError ErrorOfFetch(FetchError error) {
    switch (error) {
        case FetchError::Refused:
            return GatewayError::Refused;
        case FetchError::CouldNotConnect:
            return GatewayError::CouldNotConnect;
        case FetchError::TimedOut:
            return GatewayError::TimedOut;
        case FetchError::Cancelled:
            return GatewayError::Cancelled;
        case FetchError::TooLarge:
            return GatewayError::TooLarge;
        case FetchError::NoAnswer:
        case FetchError::ConnectionDropped:
            return GatewayError::Dropped;
        case FetchError::NotHttp:
        case FetchError::TooManyRedirects:
            return GatewayError::Malformed;
        default:
            return GatewayError::Failed;
    }
}

// One HTTP request to the IGD, bounded by `limit` and `maxBytes`, straight to it whatever
// http_proxy says.
struct Exchange {
    bool bRead = false;
    long status = 0;
    std::string body;
    GatewayError error = GatewayError::None;
    std::string why;
};

Exchange Request(const char* method, const std::string& url, std::string_view headers,
                 const std::string* body, milliseconds limit, std::size_t maxBytes,
                 const CAbortSignal& abort, const GatewayNotes& notes) {
    FetchOptions options;
    options.timeouts = {limit, limit, limit, {}};
    options.abort = abort;
    options.bDirect = true;
    options.maxBodyBytes = maxBytes;
    if (notes) {
        options.onRequest = [&notes, method](const RequestTrace& trace) {
            notes(std::string(method) + ' ' + trace.url + ": " +
                  (trace.status != 0 ? std::to_string(trace.status) : trace.failure) + ", " +
                  std::to_string(trace.bytes) + " bytes, " + std::to_string(trace.took.count()) +
                  " ms");
        };
    }
    Exchange exchange;
    const InternetHandle handle = OpenInternetHandle(options);
    if (!handle) {
        exchange.error = GatewayError::Failed;
        exchange.why = "no HTTP handle";
        return exchange;
    }
    const PageRequest page =
        body != nullptr ? PostPage(*handle, url, headers, *body) : OpenPage(*handle, url, headers);
    FetchError error = LastFetchError(*handle);
    if (page) {
        exchange.body = ReadWholeResponse(*page, &error).value_or("");
    }
    if (error != FetchError::None) {
        exchange.error = ErrorOfFetch(error);
        exchange.why = LastFetchFailure(*handle);
        return exchange;
    }
    exchange.bRead = true;
    exchange.status = LastResponseStatus(*handle);
    return exchange;
}

// The elements of a small XML text, tag by tag: the name without its namespace prefix, whether the
// tag closes, and the text after it up to the next tag. Comments, declarations and processing
// instructions are passed over; "<a/>" opens and closes.
template <class Visit>
void ForEachTag(std::string_view xml, Visit visit) {
    std::size_t at = xml.find('<');
    while (at != std::string_view::npos) {
        if (xml.substr(at, 4) == "<!--") {
            const std::size_t end = xml.find("-->", at + 4);
            at = end == std::string_view::npos ? end : xml.find('<', end + 3);
            continue;
        }
        const std::size_t close = xml.find('>', at);
        if (close == std::string_view::npos) {
            return;
        }
        std::string_view tag = xml.substr(at + 1, close - at - 1);
        const std::size_t next = xml.find('<', close + 1);
        const std::string_view text =
            xml.substr(close + 1, (next == std::string_view::npos ? xml.size() : next) - close - 1);
        at = next;
        if (tag.empty() || tag.front() == '?' || tag.front() == '!') {
            continue;
        }
        const bool bClosing = tag.front() == '/';
        tag.remove_prefix(bClosing ? 1 : 0);
        const bool bEmpty = !bClosing && !tag.empty() && tag.back() == '/';
        std::string_view name = tag.substr(0, std::min(tag.find_first_of(" \t\r\n/"), tag.size()));
        if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos) {
            name.remove_prefix(colon + 1);
        }
        if (bEmpty) {
            visit(name, false, std::string_view());
            visit(name, true, text);
        } else {
            visit(name, bClosing, text);
        }
    }
}

// Element text with the five predefined entities read, white space around it dropped.
std::string ElementText(std::string_view text) {
    text = Trimmed(text);
    std::string out;
    out.reserve(text.size());
    constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (std::size_t at = 0; at < text.size();) {
        const auto entity =
            std::find_if(std::begin(kEntities), std::end(kEntities),
                         [&](const auto& e) { return text.substr(at, e.first.size()) == e.first; });
        if (entity != std::end(kEntities)) {
            out += entity->second;
            at += entity->first.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

constexpr std::string_view kHttp = "http://";

// `reference` read against `base`, both http URLs (a reference of its own scheme stands alone).
std::string ResolvedUrl(std::string_view base, std::string_view reference) {
    if (StartsWithNoCase(reference, kHttp)) {
        return std::string(reference);
    }
    const std::size_t authorityEnd = std::min(base.find('/', kHttp.size()), base.size());
    if (!reference.empty() && reference.front() == '/') {
        return std::string(base.substr(0, authorityEnd)).append(reference);
    }
    const std::size_t slash = base.rfind('/');
    const std::string folder = slash != std::string_view::npos && slash >= authorityEnd
                                   ? std::string(base.substr(0, slash + 1))
                                   : std::string(base.substr(0, authorityEnd)) + '/';
    return folder + std::string(reference);
}

bool IsServiceTypeText(std::string_view type) {
    return !type.empty() && type.size() <= kMaxServiceType &&
           std::all_of(type.begin(), type.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsAsciiDigit(c) ||
                      c == ':' || c == '.' || c == '-' || c == '_';
           });
}

std::string SoapEnvelope(const std::string& serviceType) {
    return "<?xml version=\"1.0\"?>\r\n"
           "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
           "<u:GetExternalIPAddress xmlns:u=\"" +
           serviceType + "\"></u:GetExternalIPAddress></s:Body></s:Envelope>\r\n";
}

}  // namespace

std::optional<std::string> SsdpLocation(std::string_view datagram) {
    std::size_t end = datagram.find("\r\n");
    const std::string_view status = datagram.substr(0, end);
    if (!(status.starts_with("HTTP/1.1 200") || status.starts_with("HTTP/1.0 200"))) {
        return std::nullopt;
    }
    while (end != std::string_view::npos) {
        const std::size_t start = end + 2;
        end = datagram.find("\r\n", start);
        const std::string_view line = datagram.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsNoCase(Trimmed(line.substr(0, colon)), "location")) {
            return std::string(Trimmed(line.substr(colon + 1)));
        }
    }
    return std::nullopt;
}

std::optional<WanConnection> FindWanConnection(std::string_view description,
                                               std::string_view descriptionUrl) {
    constexpr std::string_view kIp = "urn:schemas-upnp-org:service:WANIPConnection:";
    constexpr std::string_view kPpp = "urn:schemas-upnp-org:service:WANPPPConnection:";
    std::string base;
    std::optional<WanConnection> ip;
    std::optional<WanConnection> ppp;
    bool bInService = false;
    WanConnection service;
    ForEachTag(description, [&](std::string_view name, bool bClosing, std::string_view text) {
        if (name == "service") {
            if (!bClosing) {
                bInService = true;
                service = {};
            } else if (bInService) {
                bInService = false;
                std::optional<WanConnection>& kept =
                    service.serviceType.starts_with(kIp) ? ip : ppp;
                if (!kept && !service.controlUrl.empty() &&
                    IsServiceTypeText(service.serviceType) &&
                    (service.serviceType.starts_with(kIp) ||
                     service.serviceType.starts_with(kPpp))) {
                    kept = service;
                }
            }
        } else if (!bClosing && bInService && name == "serviceType") {
            service.serviceType = ElementText(text);
        } else if (!bClosing && bInService && name == "controlURL") {
            service.controlUrl = ElementText(text);
        } else if (!bClosing && !bInService && name == "URLBase") {
            base = ElementText(text);
        }
    });
    std::optional<WanConnection> found = ip ? ip : ppp;
    if (found) {
        found->controlUrl =
            ResolvedUrl(StartsWithNoCase(base, kHttp) ? std::string_view(base) : descriptionUrl,
                        found->controlUrl);
    }
    return found;
}

SoapReply ParseSoapReply(long status, std::string_view body) {
    SoapReply reply;
    if (status == 0) {
        return reply;
    }
    const std::string_view wanted = status == 200 ? "NewExternalIPAddress" : "errorCode";
    std::optional<std::string_view> open;
    std::optional<std::string_view> content;
    ForEachTag(body, [&](std::string_view name, bool bClosing, std::string_view text) {
        if (content || name != wanted) {
            return;
        }
        if (!bClosing) {
            open = text;
        } else if (open) {
            content = *open;
        }
    });
    if (status == 200) {
        if (content) {
            reply.kind = SoapReply::Kind::Address;
            reply.text = std::string(*content);
        }
        return reply;
    }
    reply.kind = SoapReply::Kind::Error;
    const std::string code = content ? ElementText(*content) : std::string();
    if (!code.empty() && code.size() <= 9 && std::all_of(code.begin(), code.end(), IsAsciiDigit)) {
        reply.code = std::stol(code);
    }
    return reply;
}

GatewayAnswer AskUpnpIgd(const UpnpQuestion& question, const GatewayLimits& limits,
                         const CAbortSignal& abort, const GatewayNotes& notes) {
    std::string url = question.igdUrl;
    if (url.empty()) {
        GatewayAnswer failure;
        const std::optional<std::string> location =
            Search(question, limits.search, abort, notes, failure);
        if (!location) {
            return failure;
        }
        url = *location;
    }
    const std::string source = "UPnP IGD " + url;
    std::uint32_t host = 0;
    CrackIgdUrl(url, &host);

    const Exchange description =
        Request("GET", url, {}, nullptr, limits.request, kMaxIgdDescriptionBytes, abort, notes);
    if (description.error == GatewayError::Cancelled) {
        return GatewayAnswer::Failure(source, GatewayError::Cancelled, "cancelled");
    }
    if (!description.bRead || description.status != 200) {
        return GatewayAnswer::Failure(
            source, description.bRead ? GatewayError::ErrorAnswer : description.error,
            "the root description could not be read: " +
                (description.bRead ? "HTTP " + std::to_string(description.status)
                                   : description.why));
    }
    const std::optional<WanConnection> wan = FindWanConnection(description.body, url);
    std::uint32_t controlHost = 0;
    if (!wan || !CrackIgdUrl(wan->controlUrl, &controlHost) || controlHost != host) {
        return GatewayAnswer::Failure(source, GatewayError::NoWanService,
                                      "the IGD names no WAN connection on its own address");
    }

    const std::string headers =
        "Content-Type: text/xml; charset=\"utf-8\"\r\n"
        "SOAPAction: \"" +
        wan->serviceType + "#GetExternalIPAddress\"\r\nExpect:\r\n";
    const std::string envelope = SoapEnvelope(wan->serviceType);
    const Exchange call = Request("POST", wan->controlUrl, headers, &envelope, limits.request,
                                  kMaxSoapAnswerBytes, abort, notes);
    if (call.error == GatewayError::Cancelled) {
        return GatewayAnswer::Failure(source, GatewayError::Cancelled, "cancelled");
    }
    if (!call.bRead) {
        return GatewayAnswer::Failure(source, call.error,
                                      "the answer to the request could not be read: " + call.why);
    }
    const SoapReply reply = ParseSoapReply(call.status, call.body);
    switch (reply.kind) {
        case SoapReply::Kind::Error:
            return GatewayAnswer::Failure(
                source, GatewayError::ErrorAnswer,
                reply.code != 0 ? "the IGD answered with UPnP error " + std::to_string(reply.code)
                                : "the IGD answered HTTP " + std::to_string(call.status));
        case SoapReply::Kind::Malformed:
            return GatewayAnswer::Failure(source, GatewayError::Malformed,
                                          "the answer was not understood");
        case SoapReply::Kind::Address:
            break;
    }
    const std::optional<std::uint32_t> address = ParseExternalAddressText(reply.text);
    if (!address) {
        return GatewayAnswer::Failure(source, GatewayError::Malformed,
                                      "the IGD's answer holds no IPv4 address");
    }
    GatewayAnswer answer;
    answer.kind = *address != 0 ? GatewayAnswer::Kind::Address : GatewayAnswer::Kind::None;
    answer.address = *address;
    answer.source = source;
    return answer;
}
