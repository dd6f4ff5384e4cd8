#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/gateway/WanAddress.h"
#include "core/net/AbortSignal.h"

// Asking the router itself for its WAN address: UPnP IGD (GetExternalIPAddress, the IGD found by
// an SSDP search or given by its root description URL) and NAT-PMP (the public address request to
// port 5351 of a given gateway or the default route's). IPv4 only.

enum class GatewayMethod { UpnpIgd, NatPmp };

struct GatewayAnswer {
    enum class Kind {
        Address,   // the gateway's external address
        None,      // the gateway answered that it has none (its WAN side is shared or private)
        NoAnswer,  // nothing usable came back; `why` says what happened
    };
    Kind kind = Kind::NoAnswer;
    std::uint32_t address = 0;  // host order, Kind::Address
    // What was asked, for people: "UPnP IGD http://192.168.1.1:5000/rootDesc.xml",
    // "UPnP IGD search", "NAT-PMP 192.168.1.1", "NAT-PMP".
    std::string source;
    std::string why;

    bool Answered() const { return kind != Kind::NoAnswer; }
};

// Each step is bounded: the SSDP search listens for `search` (the library listens for at least
// 1 s, and for as long again after each late answer, so the step is cut off 500 ms after that),
// and each request (reading the root description, the SOAP call, the NAT-PMP exchange) gets
// `request`.
struct GatewayLimits {
    std::chrono::milliseconds search{2000};
    std::chrono::milliseconds request{5000};
};

struct GatewayTarget {
    std::string igdUrl;               // root description URL; empty: an SSDP search
    std::string searchFrom;           // local dotted address the search goes out from; empty:
                                      // the system's multicast interface
    std::uint32_t igdHost = 0;        // host order; not 0: only an IGD on this address counts
    std::uint32_t natpmpGateway = 0;  // host order; 0: the default route's gateway
    bool bOnThisMachine = false;      // a router reached over loopback: nothing to ask
};

// The gateway of the router a crawl reads (host order): the IGD and the NAT-PMP server on the
// router's own address, searched for from the interface that leads to it.
GatewayTarget GatewayTargetOfRouter(std::uint32_t router);

// True for "http://A.B.C.D[:PORT][/PATH]" of at most 255 bytes with no space, control or non-ASCII
// byte (the library puts it on a request line as it stands); `host` gets A.B.C.D in host order.
bool CrackIgdUrl(std::string_view url, std::uint32_t* host = nullptr);

// The seam both front ends ask through; tests put in one that answers as they like.
class IGateway {
public:
    virtual ~IGateway() = default;
    // Returns within the limits, and within 100 ms of `abort` being set.
    virtual GatewayAnswer Ask(GatewayMethod method, const GatewayTarget& target,
                              const CAbortSignal& abort) = 0;
};

// UPnP IGD, then NAT-PMP unless UPnP gave an address; every answer, in the order asked.
std::vector<GatewayAnswer> AskGatewayInTurn(IGateway& gateway, const GatewayTarget& target,
                                            const CAbortSignal& abort);
// The first address among `answers`, else the first "none", else the first.
const GatewayAnswer& BestGatewayAnswer(const std::vector<GatewayAnswer>& answers);

// The WAN side as the gateway's answer tells it, else as a page showed it (`pageAddress`, from
// CPageWanNote; 0: none).
RouterWan RouterWanOf(const GatewayAnswer& answer, std::uint32_t pageAddress);

// The gateway through libminiupnpc and libnatpmp.
//
// Never more than one request by each method is in flight. The library's UPnP calls cannot be
// interrupted, so they run on a helper thread while Ask waits for them within its limits and its
// abort flag; an abandoned call keeps its helper until the library returns (its own socket
// time-outs end it). A later UPnP Ask first waits for that helper within its own first limit and
// abort flag, and answers "an earlier request to the gateway is still running" when it is still
// busy; NAT-PMP, asked on the calling thread within its own limit, does not wait for it. A
// gateway destroyed while its helper runs lets the helper finish on its own: the helper owns all
// it uses. One Ask runs at a time; a second caller waits for the first.
class CGateway final : public IGateway {
public:
    explicit CGateway(GatewayLimits limits = {});
    ~CGateway() override;
    CGateway(const CGateway&) = delete;
    CGateway& operator=(const CGateway&) = delete;

    GatewayAnswer Ask(GatewayMethod method, const GatewayTarget& target,
                      const CAbortSignal& abort) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
