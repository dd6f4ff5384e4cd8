#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/gateway/WanAddress.h"
#include "core/net/AbortSignal.h"

// Asking the router itself for its WAN address: UPnP IGD (GetExternalIPAddress, the IGD found by
// an SSDP search or given by its root description URL) and NAT-PMP (the public address request to
// port 5351 of a given gateway or the default route's). IPv4 only. The protocols are our own small
// exchanges (UpnpIgd.h, NatPmp.h), each read bounded in bytes and in time, on the calling thread.

enum class GatewayMethod { UpnpIgd, NatPmp };

// Why a gateway gave no usable answer. Callers branch on the code; the sentence that goes with it
// is for people.
enum class GatewayError {
    None,
    OnThisMachine,    // the router is reached over loopback: no gateway to ask
    NoRoute,          // no default route, or no local address toward the router
    NotIgdUrl,        // the IGD URL given is no http URL on an IPv4 address
    Cancelled,        // the abort signal was set
    TimedOut,         // no answer within the limit
    Refused,          // the gateway refused the connection or the port (ECONNREFUSED)
    CouldNotConnect,  // the network or the host unreachable, or another failed connect
    Dropped,          // the connection ended without a whole answer
    NotFound,         // the router did not answer the search
    NoWanService,     // the IGD names no WAN connection on its own address
    TooLarge,         // an answer past its byte limit
    Malformed,        // an answer that is not understood: no address, wrong version or opcode…
    ErrorAnswer,      // the gateway answered with an error of its protocol
    BadAddress,       // the answer names an address no router's WAN side can hold
    Failed,           // anything else: no socket, no memory
};

struct GatewayAnswer {
    enum class Kind {
        Address,   // the gateway's external address
        None,      // the gateway answered that it has none (its WAN side is shared or private)
        NoAnswer,  // nothing usable came back; `error` and `why` say what happened
    };
    Kind kind = Kind::NoAnswer;
    std::uint32_t address = 0;  // host order, Kind::Address
    // What was asked, for people: "UPnP IGD http://192.168.1.1:5000/rootDesc.xml",
    // "UPnP IGD search", "NAT-PMP 192.168.1.1", "NAT-PMP".
    std::string source;
    GatewayError error = GatewayError::None;  // Kind::NoAnswer
    std::string why;                          // the sentence for `error`

    bool Answered() const { return kind != Kind::NoAnswer; }
    static GatewayAnswer Failure(std::string source, GatewayError error, std::string why);
};

// Each step is bounded in time: the SSDP search listens for `search` (and ends at the router's
// first answer), each request (the root description, the SOAP call, the NAT-PMP exchange) gets
// `request`, its connection included.
struct GatewayLimits {
    std::chrono::milliseconds search{2000};
    std::chrono::milliseconds request{5000};
};

// And in bytes: a longer root description or SOAP answer is given up as too large. Routers send a
// few KiB of either.
inline constexpr std::size_t kMaxIgdDescriptionBytes = 64u * 1024u;
inline constexpr std::size_t kMaxSoapAnswerBytes = 16u * 1024u;

struct GatewayTarget {
    std::string igdUrl;               // root description URL, on any address; empty: a search
    std::uint32_t igdHost = 0;        // host order: the router, the only device whose search
                                      // answer counts; 0: natpmpGateway, else the default route's
    std::uint32_t natpmpGateway = 0;  // host order; 0: the default route's gateway
    bool bOnThisMachine = false;      // a router reached over loopback: nothing to ask
};

// What the gateway met on the way, for people (--verbose): each HTTP exchange, a device other than
// the router that answered the search, a packet that was not understood.
using GatewayNotes = std::function<void(const std::string& note)>;

// The seam both front ends ask through; tests put in one that answers as they like.
class IGateway {
public:
    virtual ~IGateway() = default;
    // Returns within the limits, and within 100 ms of `abort` being set.
    virtual GatewayAnswer Ask(GatewayMethod method, const GatewayTarget& target,
                              const CAbortSignal& abort) = 0;
};

// The gateway through the network. Every read ends with the call that started it: nothing of a
// request outlives Ask, and Asks from several threads do not wait for one another.
class CGateway final : public IGateway {
public:
    explicit CGateway(GatewayLimits limits = {}, GatewayNotes notes = {});

    GatewayAnswer Ask(GatewayMethod method, const GatewayTarget& target,
                      const CAbortSignal& abort) override;

private:
    GatewayLimits m_limits;
    GatewayNotes m_notes;
};

// True for "http://A.B.C.D[:PORT][/PATH]" of at most 255 bytes with no space, control or non-ASCII
// byte (it goes on a request line as it stands); `host` gets A.B.C.D in host order.
bool CrackIgdUrl(std::string_view url, std::uint32_t* host = nullptr);

// The policy (GatewayPolicy.cpp): whom to ask, in what order, and what the answers mean.

// The gateway of the router a crawl reads (host order): the IGD and the NAT-PMP server on the
// router's own address.
GatewayTarget GatewayTargetOfRouter(std::uint32_t router);

// UPnP IGD, then NAT-PMP unless UPnP gave an address; every answer, in the order asked.
std::vector<GatewayAnswer> AskGatewayInTurn(IGateway& gateway, const GatewayTarget& target,
                                            const CAbortSignal& abort);
// The first address among `answers`, else the first "none", else the first.
const GatewayAnswer& BestGatewayAnswer(const std::vector<GatewayAnswer>& answers);
// Each answer's source and why, "SOURCE: WHY; …".
std::string GatewayReasons(const std::vector<GatewayAnswer>& answers);

// An address that no router's WAN side can hold (WanKind::Unusable) is a bad answer, not an
// address: `answer` made a failure, BadAddress. Other answers pass unchanged.
GatewayAnswer JudgedGatewayAnswer(GatewayAnswer answer);

// The WAN side as the gateway's answer tells it, else as a page showed it (`pageAddress`, from
// CPageWanNote; 0: none).
RouterWan RouterWanOf(const GatewayAnswer& answer, std::uint32_t pageAddress);
