#include "core/gateway/Gateway.h"

#include <arpa/inet.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <natpmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "core/gateway/WanAddress.h"
#include "core/text/Ascii.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks at the abort flag: well inside the promised 100 ms.
constexpr milliseconds kSlice{20};
constexpr milliseconds kSearchGrace{500};
constexpr milliseconds kLibrarySearchFloor{1000};
constexpr std::size_t kMaxIgdUrl = 255;
constexpr const char* kIgdType = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
constexpr const char* kBusy = "an earlier request to the gateway is still running";

GatewayAnswer NoAnswer(std::string source, std::string why) {
    GatewayAnswer answer;
    answer.source = std::move(source);
    answer.why = std::move(why);
    return answer;
}

bool IsLoopback(std::uint32_t address) {
    return (address >> 24) == 127;
}

// A UDP socket "connected" to `address`: the route is looked up, nothing is sent. The local
// address the kernel chose, or the error.
std::optional<std::string> LocalAddressToward(std::uint32_t address, std::uint16_t port,
                                              int* error) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    std::optional<std::string> found;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        found = DottedAddress(ntohl(local.sin_addr.s_addr));
    } else {
        *error = errno;
    }
    close(fd);
    return found;
}

// What the caller and the helper thread of one UPnP call share; the helper keeps it alive.
struct UpnpCall {
    std::mutex mutex;
    std::condition_variable changed;
    bool bDone = false;
    Clock::time_point deadline;  // of the library call in progress
    GatewayAnswer answer;        // `source` as far as known, all of it once done

    void Step(milliseconds limit) {
        const std::lock_guard lock(mutex);
        deadline = Clock::now() + limit;
    }
    void SetSource(std::string source) {
        const std::lock_guard lock(mutex);
        answer.source = std::move(source);
    }
    void Finish(GatewayAnswer result) {
        {
            const std::lock_guard lock(mutex);
            answer = std::move(result);
            bDone = true;
        }
        changed.notify_all();
    }
};

struct UrlsHolder {
    UPNPUrls urls{};
    IGDdatas data{};
    bool bSet = false;
    ~UrlsHolder() {
        if (bSet) {
            FreeUPNPUrls(&urls);
        }
    }
};

// Keeps the devices whose description URL is http on an IPv4 address (`host`, when not 0); the
// others are freed.
UPNPDev* KeepUsable(UPNPDev* devices, std::uint32_t host) {
    UPNPDev* kept = nullptr;
    UPNPDev** tail = &kept;
    while (devices != nullptr) {
        UPNPDev* device = devices;
        devices = device->pNext;
        device->pNext = nullptr;
        std::uint32_t at = 0;
        if (device->descURL != nullptr && CrackIgdUrl(device->descURL, &at) &&
            (host == 0 || at == host)) {
            *tail = device;
            tail = &device->pNext;
        } else {
            freeUPNPDevlist(device);
        }
    }
    return kept;
}

std::string SoapFailure(int code) {
    if (code > 0) {
        return "the IGD answered with UPnP error " + std::to_string(code);
    }
    switch (code) {
        case UPNPCOMMAND_HTTP_ERROR:
            return "no answer to the request";
        case UPNPCOMMAND_INVALID_RESPONSE:
            return "the answer was not understood";
        default:
            return "the request failed (" + std::to_string(code) + ")";
    }
}

// The UPnP steps, on the helper thread.
void RunUpnp(UpnpCall& call, const GatewayTarget& target, const GatewayLimits& limits) {
    const std::string kind = "UPnP IGD ";
    UrlsHolder igd;
    char lan[64] = {};
    std::uint32_t descHost = 0;
    if (!target.igdUrl.empty()) {
        call.Step(limits.request);
        CrackIgdUrl(target.igdUrl, &descHost);
        igd.bSet =
            UPNP_GetIGDFromUrl(target.igdUrl.c_str(), &igd.urls, &igd.data, lan, sizeof lan) != 0;
        if (!igd.bSet) {
            call.Finish(NoAnswer(kind + target.igdUrl, "no IGD description could be read"));
            return;
        }
    } else {
        const milliseconds wait = std::max(limits.search, kLibrarySearchFloor);
        call.Step(wait + kSearchGrace);
        const char* const types[] = {kIgdType, nullptr};
        int error = 0;
        UPNPDev* devices =
            upnpDiscoverDevices(types, static_cast<int>(wait.count()),
                                target.searchFrom.empty() ? nullptr : target.searchFrom.c_str(),
                                nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error, 0);
        devices = KeepUsable(devices, target.igdHost);
        if (devices == nullptr) {
            call.Finish(NoAnswer(kind + "search", error == UPNPDISCOVER_SUCCESS
                                                      ? "no IGD answered the search"
                                                      : "the search could not be sent"));
            return;
        }
        call.SetSource(kind + devices->descURL);
        call.Step(limits.request);
#if MINIUPNPC_API_VERSION >= 18
        char wan[64] = {};
        const int found =
            UPNP_GetValidIGD(devices, &igd.urls, &igd.data, lan, sizeof lan, wan, sizeof wan);
        constexpr int kNoIgd = 4;  // the API added 2, an IGD whose WAN address is reserved
#else
        const int found = UPNP_GetValidIGD(devices, &igd.urls, &igd.data, lan, sizeof lan);
        constexpr int kNoIgd = 3;
#endif
        freeUPNPDevlist(devices);
        igd.bSet = found != 0;
        if (found == 0 || found == kNoIgd || igd.urls.rootdescURL == nullptr ||
            !CrackIgdUrl(igd.urls.rootdescURL, &descHost)) {
            call.Finish(NoAnswer(kind + "search", found == kNoIgd
                                                      ? "the device that answered is no IGD"
                                                      : "no IGD description could be read"));
            return;
        }
    }
    const std::string source =
        kind + (igd.urls.rootdescURL != nullptr ? igd.urls.rootdescURL : target.igdUrl);
    call.SetSource(source);
    std::uint32_t controlHost = 0;
    if (igd.urls.controlURL == nullptr || !CrackIgdUrl(igd.urls.controlURL, &controlHost) ||
        controlHost != descHost || igd.data.first.servicetype[0] == '\0') {
        call.Finish(NoAnswer(source, "the IGD names no WAN connection on its own address"));
        return;
    }
    call.Step(limits.request);
    char text[16] = {};
    const int code =
        UPNP_GetExternalIPAddress(igd.urls.controlURL, igd.data.first.servicetype, text);
    if (code != UPNPCOMMAND_SUCCESS) {
        call.Finish(NoAnswer(source, SoapFailure(code)));
        return;
    }
    const std::optional<std::uint32_t> address =
        ParseExternalAddressText(std::string_view(text, strnlen(text, sizeof text)));
    if (!address) {
        call.Finish(NoAnswer(source, "the IGD's answer holds no IPv4 address"));
        return;
    }
    GatewayAnswer answer;
    answer.kind = *address != 0 ? GatewayAnswer::Kind::Address : GatewayAnswer::Kind::None;
    answer.address = *address;
    answer.source = source;
    call.Finish(std::move(answer));
}

std::string NatPmpFailure(int code, int error) {
    switch (code) {
        case NATPMP_ERR_RECVFROM:
            return error == ECONNREFUSED ? "refused"
                                         : std::string("no answer (") + std::strerror(error) + ')';
        case NATPMP_ERR_NOGATEWAYSUPPORT:  // what the library makes of a refusal too
            return error == ECONNREFUSED ? "refused" : "no answer";
        case NATPMP_ERR_NOTAUTHORIZED:
            return "the gateway refused: not authorized";
        case NATPMP_ERR_OUTOFRESOURCES:
            return "the gateway is out of resources";
        case NATPMP_ERR_UNSUPPORTEDVERSION:
        case NATPMP_ERR_UNSUPPORTEDOPCODE:
            return "the gateway does not speak NAT-PMP";
        case NATPMP_ERR_WRONGPACKETSOURCE:
            return "an answer came from another address";
        default:
            return "the gateway answered with an error (" + std::to_string(code) + ")";
    }
}

// The NAT-PMP exchange. The library never blocks, so it runs on the calling thread.
GatewayAnswer AskNatPmp(const GatewayTarget& target, Clock::time_point deadline,
                        const CAbortSignal& abort) {
    std::string source = "NAT-PMP";
    natpmp_t natpmp{};
    const int opened =
        initnatpmp(&natpmp, target.natpmpGateway != 0 ? 1 : 0, htonl(target.natpmpGateway));
    if (opened < 0) {
        const int error = errno;
        return NoAnswer(
            source, opened == NATPMP_ERR_CANNOTGETGATEWAY
                        ? "no default route"
                        : std::string("cannot reach the gateway (") + std::strerror(error) + ')');
    }
    source += ' ' + DottedAddress(ntohl(natpmp.gateway));
    int result = sendpublicaddressrequest(&natpmp);
    int error = errno;
    natpmpresp_t response{};
    std::string why;
    if (result < 0) {
        why = std::string("the request could not be sent (") + std::strerror(error) + ')';
    }
    while (why.empty()) {
        if (abort.IsSet()) {
            why = "cancelled";
            break;
        }
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            why = "timed out";
            break;
        }
        pollfd ready{natpmp.s, POLLIN, 0};
        poll(&ready, 1, static_cast<int>(std::min(left, kSlice).count()));
        result = readnatpmpresponseorretry(&natpmp, &response);
        error = errno;
        if (result == 0) {
            break;
        }
        if (result == NATPMP_ERR_NETWORKFAILURE) {
            break;  // the gateway answered: it has no address of its own
        }
        if (result != NATPMP_TRYAGAIN) {
            why = NatPmpFailure(result, error);
        }
    }
    closenatpmp(&natpmp);
    if (!why.empty()) {
        return NoAnswer(source, why);
    }
    GatewayAnswer answer;
    answer.source = source;
    if (result == 0 && response.type == NATPMP_RESPTYPE_PUBLICADDRESS &&
        response.pnu.publicaddress.addr.s_addr != 0) {
        answer.kind = GatewayAnswer::Kind::Address;
        answer.address = ntohl(response.pnu.publicaddress.addr.s_addr);
    } else {
        answer.kind = GatewayAnswer::Kind::None;
    }
    return answer;
}

}  // namespace

struct CGateway::Impl {
    GatewayLimits limits;
    std::timed_mutex asking;
    std::shared_ptr<UpnpCall> call;  // of the helper below
    std::thread helper;

    ~Impl() {
        if (!helper.joinable()) {
            return;
        }
        bool bDone = false;
        {
            const std::lock_guard lock(call->mutex);
            bDone = call->bDone;
        }
        if (bDone) {
            helper.join();
        } else {
            helper.detach();  // it owns its call and target
        }
    }

    // Waits until the helper of an earlier call has ended; false when it still runs at
    // `deadline` or `abort` is set first.
    bool WaitForHelper(Clock::time_point deadline, const CAbortSignal& abort) {
        if (!helper.joinable()) {
            return true;
        }
        std::unique_lock lock(call->mutex);
        while (!call->bDone) {
            if (abort.IsSet() || Clock::now() >= deadline) {
                return false;
            }
            call->changed.wait_for(lock, kSlice);
        }
        lock.unlock();
        helper.join();
        return true;
    }

    GatewayAnswer AwaitUpnp(const CAbortSignal& abort) {
        std::unique_lock lock(call->mutex);
        while (!call->bDone) {
            if (abort.IsSet()) {
                return NoAnswer(call->answer.source, "cancelled");
            }
            if (Clock::now() >= call->deadline) {
                return NoAnswer(call->answer.source, "timed out");
            }
            call->changed.wait_for(
                lock, std::min<Clock::duration>(kSlice, call->deadline - Clock::now()));
        }
        return call->answer;
    }

    GatewayAnswer Ask(GatewayMethod method, const GatewayTarget& target,
                      const CAbortSignal& abort) {
        const bool bUpnp = method == GatewayMethod::UpnpIgd;
        std::string source =
            bUpnp ? "UPnP IGD " + (target.igdUrl.empty() ? std::string("search") : target.igdUrl)
                  : std::string("NAT-PMP");
        if (!bUpnp && target.natpmpGateway != 0) {
            source += ' ' + DottedAddress(target.natpmpGateway);
        }
        if (target.bOnThisMachine) {
            return NoAnswer(source, "the router is on this machine: no gateway to ask");
        }
        if (bUpnp && !target.igdUrl.empty() && !CrackIgdUrl(target.igdUrl)) {
            return NoAnswer(source, "not an http URL on an IPv4 address");
        }
        if (bUpnp && target.igdUrl.empty() && target.searchFrom.empty()) {
            int error = 0;
            if (!LocalAddressToward(0xEFFFFFFAu, 1900, &error)) {  // 239.255.255.250
                return NoAnswer(
                    source, std::string("no network to search on (") + std::strerror(error) + ')');
            }
        }
        const Clock::time_point deadline = Clock::now() + limits.request;
        std::unique_lock turn(asking, std::defer_lock);
        while (!turn.try_lock_for(kSlice)) {
            if (abort.IsSet() || Clock::now() >= deadline) {
                return NoAnswer(source, abort.IsSet() ? "cancelled" : kBusy);
            }
        }
        // NAT-PMP never waits for a UPnP call stuck in the library: a device that takes the
        // connection and never answers must not keep the other method from being tried.
        if (!bUpnp) {
            return AskNatPmp(target, deadline, abort);
        }
        if (!WaitForHelper(deadline, abort)) {
            return NoAnswer(source, abort.IsSet() ? "cancelled" : kBusy);
        }
        call = std::make_shared<UpnpCall>();
        call->answer.source = source;
        call->deadline = Clock::now() + limits.request;
        try {
            helper = std::thread(
                [call = call, target, limits = limits] { RunUpnp(*call, target, limits); });
        } catch (const std::system_error&) {
            call.reset();
            return NoAnswer(source, "no thread for the request");
        }
        return AwaitUpnp(abort);
    }
};

GatewayTarget GatewayTargetOfRouter(std::uint32_t router) {
    GatewayTarget target;
    target.igdHost = router;
    target.natpmpGateway = router;
    target.bOnThisMachine = IsLoopback(router);
    int error = 0;
    if (!target.bOnThisMachine) {
        target.searchFrom = LocalAddressToward(router, NATPMP_PORT, &error).value_or("");
    }
    return target;
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

std::vector<GatewayAnswer> AskGatewayInTurn(IGateway& gateway, const GatewayTarget& target,
                                            const CAbortSignal& abort) {
    std::vector<GatewayAnswer> answers;
    answers.push_back(gateway.Ask(GatewayMethod::UpnpIgd, target, abort));
    if (answers.back().kind != GatewayAnswer::Kind::Address && !abort.IsSet()) {
        answers.push_back(gateway.Ask(GatewayMethod::NatPmp, target, abort));
    }
    return answers;
}

const GatewayAnswer& BestGatewayAnswer(const std::vector<GatewayAnswer>& answers) {
    for (const GatewayAnswer::Kind kind :
         {GatewayAnswer::Kind::Address, GatewayAnswer::Kind::None}) {
        const auto found = std::find_if(answers.begin(), answers.end(),
                                        [kind](const GatewayAnswer& a) { return a.kind == kind; });
        if (found != answers.end()) {
            return *found;
        }
    }
    return answers.front();
}

RouterWan RouterWanOf(const GatewayAnswer& answer, std::uint32_t pageAddress) {
    if (answer.Answered()) {
        return {true, answer.kind == GatewayAnswer::Kind::Address ? answer.address : 0};
    }
    return {pageAddress != 0, pageAddress};
}

CGateway::CGateway(GatewayLimits limits) : m_impl(std::make_unique<Impl>()) {
    m_impl->limits = limits;
}

CGateway::~CGateway() = default;

GatewayAnswer CGateway::Ask(GatewayMethod method, const GatewayTarget& target,
                            const CAbortSignal& abort) {
    return m_impl->Ask(method, target, abort);
}
