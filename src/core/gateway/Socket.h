#pragma once

#include <netinet/in.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

// What the gateway's own UDP exchanges share: a socket closed with its holder, addresses, errors.

class CSocket {
public:
    explicit CSocket(int fd) : m_fd(fd) {}
    ~CSocket() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// `address` (host order) and `port` as the socket calls take them.
inline sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(address);
    return at;
}

// "WHAT (the system's text for `error`)".
inline std::string WithErrno(const std::string& what, int error) {
    return what + " (" + std::strerror(error) + ')';
}
