#include "core/gateway/LocalRoute.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "core/gateway/Socket.h"

namespace {

constexpr unsigned kRouteUp = 0x1;       // RTF_UP
constexpr unsigned kRouteGateway = 0x2;  // RTF_GATEWAY

}  // namespace

std::optional<std::uint32_t> DefaultGateway() {
    // The thread's own table: a thread moved into another network namespace sees that one's.
    std::ifstream table("/proc/thread-self/net/route");
    if (!table) {
        table.open("/proc/net/route");
    }
    std::string line;
    std::getline(table, line);  // the column names
    std::optional<std::uint32_t> best;
    unsigned long bestMetric = 0;
    while (std::getline(table, line)) {
        std::istringstream columns(line);
        std::string name;
        unsigned long destination = 0;
        unsigned long gateway = 0;
        unsigned flags = 0;
        unsigned long references = 0;
        unsigned long use = 0;
        unsigned long metric = 0;
        unsigned long mask = 0;
        columns >> name >> std::hex >> destination >> gateway >> flags >> std::dec >> references >>
            use >> metric >> std::hex >> mask;
        if (!columns || destination != 0 || mask != 0 || (flags & kRouteUp) == 0 ||
            (flags & kRouteGateway) == 0 || gateway == 0) {
            continue;
        }
        // The kernel writes each address as the 32 bits lie in memory: network order.
        if (!best || metric < bestMetric) {
            best = ntohl(static_cast<std::uint32_t>(gateway));
            bestMetric = metric;
        }
    }
    return best;
}

std::optional<std::uint32_t> LocalAddressToward(std::uint32_t address, int* error) {
    const CSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in to = SocketAddress(address, 9);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (socket.Fd() >= 0 &&
        connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        return ntohl(local.sin_addr.s_addr);
    }
    if (error != nullptr) {
        *error = errno;
    }
    return std::nullopt;
}
