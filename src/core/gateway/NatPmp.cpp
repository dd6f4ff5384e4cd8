#include "core/gateway/NatPmp.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "core/gateway/Socket.h"
#include "core/net/InetAddr.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks at the abort flag: well inside the promised 100 ms.
constexpr milliseconds kSlice{20};
constexpr milliseconds kFirstResend{250};
constexpr std::size_t kNotedPackets = 3;  // malformed ones named, the others only counted

// A send or receive error of the connected socket: what the kernel learned of the gateway.
GatewayAnswer Unreachable(const std::string& source, int error) {
    if (error == ECONNREFUSED) {
        return GatewayAnswer::Failure(source, GatewayError::Refused, "refused");
    }
    if (error == ENETUNREACH || error == EHOSTUNREACH || error == EHOSTDOWN || error == ENETDOWN) {
        return GatewayAnswer::Failure(source, GatewayError::CouldNotConnect,
                                      WithErrno("could not connect", error));
    }
    return GatewayAnswer::Failure(source, GatewayError::Failed, WithErrno("failed", error));
}

std::string ResultText(std::uint16_t result) {
    switch (result) {
        case 1:
            return "the gateway does not speak this version of NAT-PMP";
        case 2:
            return "the gateway refused: not authorized";
        case 4:
            return "the gateway is out of resources";
        case 5:
            return "the gateway does not know the request";
        default:
            return "the gateway answered with NAT-PMP error " + std::to_string(result);
    }
}

}  // namespace

NatPmpReply ParseNatPmpReply(const unsigned char* data, std::size_t size) {
    NatPmpReply reply;
    // An error answer may stop after the result code and the time; a success carries the address.
    if (size < 8 || data[0] != 0 || data[1] != 128) {
        return reply;
    }
    reply.result = static_cast<std::uint16_t>((data[2] << 8) | data[3]);
    if (reply.result == 0) {
        if (size < 12) {
            return reply;
        }
        reply.kind = NatPmpReply::Kind::Address;
        reply.address = (std::uint32_t{data[8]} << 24) | (std::uint32_t{data[9]} << 16) |
                        (std::uint32_t{data[10]} << 8) | data[11];
    } else {
        reply.kind = reply.result == 3 ? NatPmpReply::Kind::None : NatPmpReply::Kind::Error;
    }
    return reply;
}

GatewayAnswer AskNatPmp(std::uint32_t gateway, milliseconds limit, const CAbortSignal& abort,
                        const GatewayNotes& notes) {
    const std::string source = "NAT-PMP " + DottedAddress(gateway);
    const Clock::time_point deadline = Clock::now() + limit;
    // Connected, the socket takes datagrams from the gateway's port alone, and learns of an ICMP
    // refusal.
    const CSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.Fd() < 0) {
        return GatewayAnswer::Failure(source, GatewayError::Failed, WithErrno("no socket", errno));
    }
    const sockaddr_in to = SocketAddress(gateway, kNatPmpPort);
    if (connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        return Unreachable(source, errno);
    }
    constexpr unsigned char kRequest[2] = {0, 0};
    std::size_t malformed = 0;
    milliseconds resend = kFirstResend;
    Clock::time_point nextSend = Clock::now();
    while (true) {
        if (abort.IsSet()) {
            return GatewayAnswer::Failure(source, GatewayError::Cancelled, "cancelled");
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            break;
        }
        if (now >= nextSend) {
            if (send(socket.Fd(), kRequest, sizeof kRequest, 0) < 0 && errno != EAGAIN) {
                return Unreachable(source, errno);
            }
            nextSend = now + resend;
            resend *= 2;
        }
        const auto wait = std::chrono::ceil<milliseconds>(std::min(deadline, nextSend) - now);
        pollfd ready{socket.Fd(), POLLIN, 0};
        poll(&ready, 1, static_cast<int>(std::clamp(wait, milliseconds(1), kSlice).count()));
        // A flood of datagrams cannot hold the loop: the abort flag and the deadline are looked
        // at between any two.
        unsigned char packet[16];
        const ssize_t size = recv(socket.Fd(), packet, sizeof packet, MSG_TRUNC);
        if (size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            return Unreachable(source, errno);
        }
        const NatPmpReply reply =
            ParseNatPmpReply(packet, std::min(static_cast<std::size_t>(size), sizeof packet));
        switch (reply.kind) {
            case NatPmpReply::Kind::Address: {
                GatewayAnswer answer;
                answer.kind =
                    reply.address != 0 ? GatewayAnswer::Kind::Address : GatewayAnswer::Kind::None;
                answer.address = reply.address;
                answer.source = source;
                return answer;
            }
            case NatPmpReply::Kind::None: {
                GatewayAnswer answer;
                answer.kind = GatewayAnswer::Kind::None;
                answer.source = source;
                return answer;
            }
            case NatPmpReply::Kind::Error:
                return GatewayAnswer::Failure(source, GatewayError::ErrorAnswer,
                                              ResultText(reply.result));
            case NatPmpReply::Kind::Malformed:
                if (notes && malformed < kNotedPackets) {
                    notes(source + ": a packet of " + std::to_string(size) +
                          " bytes that is no answer to the request, ignored");
                }
                ++malformed;
                break;
        }
    }
    if (malformed > 0) {
        return GatewayAnswer::Failure(
            source, GatewayError::Malformed,
            "no answer understood (" + std::to_string(malformed) +
                (malformed == 1 ? " packet that was not one)" : " packets that were not one)"));
    }
    return GatewayAnswer::Failure(source, GatewayError::TimedOut, "timed out");
}
