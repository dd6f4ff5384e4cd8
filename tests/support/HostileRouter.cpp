#include "support/HostileRouter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "core/text/Ascii.h"

namespace {

constexpr int kSliceMs = 20;  // how often a wait looks at the stop flag

std::string Head(int status, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) + " Hostile\r\n" + headers + "\r\n";
}

std::string Sized(int status, const std::string& body) {
    return Head(status, "Content-Type: text/html\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n") +
           body;
}

}  // namespace

CHostileRouter::Answer CHostileRouter::Page(std::string body, int status) {
    return {Sized(status, body), {}, 0, {}, Ending::KeepAlive};
}

CHostileRouter::Answer CHostileRouter::Redirect(const std::string& location) {
    return {Head(302, "Location: " + location + "\r\nContent-Length: 0\r\n"),
            {},
            0,
            {},
            Ending::KeepAlive};
}

CHostileRouter::Answer CHostileRouter::Http09(std::string body) {
    return {std::move(body), {}, 0, {}, Ending::Close};
}

CHostileRouter::Answer CHostileRouter::EndlessInterim(std::chrono::milliseconds drip) {
    return {{}, "HTTP/1.1 100 Continue\r\n\r\n", 0, drip, Ending::Close};
}

CHostileRouter::Answer CHostileRouter::Drip(std::string body, std::chrono::milliseconds interval) {
    return {Sized(200, body), {}, 0, interval, Ending::Close};
}

CHostileRouter::Answer CHostileRouter::EndlessBody() {
    return {Head(200, "Transfer-Encoding: chunked\r\n"),
            "400\r\n" + std::string(1024, 'e') + "\r\n",
            0,
            {},
            Ending::Close};
}

CHostileRouter::Answer CHostileRouter::Huge(std::uint64_t size) {
    return {Head(200, "Content-Length: " + std::to_string(size) + "\r\n"),
            std::string(4096, 'h'),
            size,
            {},
            Ending::Close};
}

CHostileRouter::Answer CHostileRouter::ShortBody(std::string body, std::size_t announced) {
    return {Head(200, "Content-Length: " + std::to_string(announced) + "\r\n") + body,
            {},
            0,
            {},
            Ending::Close};
}

CHostileRouter::Answer CHostileRouter::BadChunking(std::string body) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    return {Head(200, "Transfer-Encoding: chunked\r\n") + size + body + "\r\nzz\r\nmore\r\n",
            {},
            0,
            {},
            Ending::Close};
}

CHostileRouter::Answer CHostileRouter::ResetMidBody(std::string body) {
    const std::string half = body.substr(0, body.size() / 2);
    return {Head(200, "Content-Length: " + std::to_string(body.size()) + "\r\n") + half,
            {},
            0,
            {},
            Ending::Reset};
}

CHostileRouter::Answer CHostileRouter::Silent() {
    return {{}, {}, 0, {}, Ending::Hang};
}

CHostileRouter::Answer CHostileRouter::TrickyLinks() {
    return Page(std::string("<a href=\"a\rb.htm\"> <a href=\"c\nX-Injected: 1\"> ") +
                "<a href=e\x1b.htm> <a href=../../up.htm> <a href=f.htm>" + '\0' +
                "<a href=g.htm>");
}

CHostileRouter::Answer CHostileRouter::EndlessTreePage() {
    return Page("<a href=\"abcdefghijklmnop/\">a</a> <a href=\"qrstuvwxyz012345/\">b</a>");
}

CHostileRouter::CHostileRouter(const std::string& address, std::uint16_t port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const bool bV6 = address.find(':') != std::string::npos;
    if (bV6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        length = sizeof v6;
        if (inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) != 1) {
            throw std::runtime_error("not an address: " + address);
        }
        m_host = "[" + address + "]";
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        length = sizeof v4;
        if (inet_pton(AF_INET, address.c_str(), &v4.sin_addr) != 1) {
            throw std::runtime_error("not an address: " + address);
        }
        m_host = address;
    }
    m_listener = socket(bV6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bV6) {
        setsockopt(m_listener, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    }
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        listen(m_listener, 64) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        if (m_listener >= 0) {
            close(m_listener);
        }
        throw std::runtime_error("cannot listen on " + address);
    }
    m_port = ntohs(bV6 ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                       : reinterpret_cast<sockaddr_in&>(storage).sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

CHostileRouter::~CHostileRouter() {
    m_bStopping = true;
    m_acceptor.join();
    close(m_listener);
    for (std::thread& conversation : m_conversations) {
        conversation.join();
    }
}

void CHostileRouter::Serve(const std::string& target, Answer answer) {
    std::lock_guard lock(m_mutex);
    m_answers[target] = std::move(answer);
}

void CHostileRouter::ServeOthers(Answers answers) {
    std::lock_guard lock(m_mutex);
    m_others = std::move(answers);
}

std::string CHostileRouter::Url(const std::string& target) const {
    return "http://" + m_host + ":" + std::to_string(m_port) + target;
}

std::vector<std::string> CHostileRouter::RequestedTargets() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> targets;
    for (const Received& request : m_received) {
        targets.push_back(request.target);
    }
    return targets;
}

std::string CHostileRouter::Header(std::size_t index, std::string_view name) const {
    std::lock_guard lock(m_mutex);
    const std::string& head = m_received.at(index).head;
    for (std::size_t at = head.find("\r\n"); at != std::string::npos;) {
        const std::size_t start = at + 2;
        at = head.find("\r\n", start);
        const std::string_view line =
            std::string_view(head).substr(start, at == std::string::npos ? at : at - start);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            EqualsNoCase(line.substr(0, name.size()), name)) {
            const std::size_t value = line.find_first_not_of(' ', name.size() + 1);
            return std::string(line.substr(value == std::string_view::npos ? line.size() : value));
        }
    }
    return "<none>";
}

CHostileRouter::Answer CHostileRouter::Find(const std::string& target) const {
    std::lock_guard lock(m_mutex);
    if (const auto found = m_answers.find(target); found != m_answers.end()) {
        return found->second;
    }
    return m_others ? m_others(target)
                    : Page("<html><body><h1>404 Not Found</h1></body></html>", 404);
}

void CHostileRouter::AcceptLoop() {
    while (!m_bStopping) {
        pollfd ready{m_listener, POLLIN, 0};
        if (poll(&ready, 1, kSliceMs) != 1) {
            continue;
        }
        const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            std::lock_guard lock(m_mutex);
            m_conversations.emplace_back([this, connection] { Converse(connection); });
        }
    }
}

void CHostileRouter::Converse(int connection) {
    std::string pending;
    bool bOpen = true;
    while (bOpen && !m_bStopping) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            pollfd ready{connection, POLLIN, 0};
            if (poll(&ready, 1, kSliceMs) == 1) {
                char buffer[4096];
                const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
                bOpen = n > 0;
                pending.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
            }
            continue;
        }
        const std::string head = pending.substr(0, end);
        pending.erase(0, end + 4);
        const std::size_t targetStart = head.find(' ') + 1;
        const std::string target =
            head.substr(targetStart, head.find(' ', targetStart) - targetStart);
        if (m_bKeep) {
            std::lock_guard lock(m_mutex);
            m_received.push_back({target, head});
        }
        ++m_nRequests;
        const Answer answer = Find(target);
        if (!SendAnswer(connection, answer) || answer.ending == Ending::Close) {
            break;
        }
        if (answer.ending == Ending::Reset) {
            const linger abort{1, 0};
            setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            break;
        }
        while (answer.ending == Ending::Hang && !m_bStopping) {
            pollfd gone{connection, POLLIN, 0};
            char byte = 0;
            if (poll(&gone, 1, kSliceMs) == 1 && recv(connection, &byte, 1, 0) <= 0) {
                bOpen = false;
                break;
            }
        }
    }
    close(connection);
}

bool CHostileRouter::SendAll(int connection, std::string_view bytes) {
    while (!bytes.empty()) {
        if (m_bStopping) {
            return false;
        }
        pollfd ready{connection, POLLOUT, 0};
        if (poll(&ready, 1, kSliceMs) != 1) {
            continue;
        }
        const ssize_t n = send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        bytes.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return true;
}

bool CHostileRouter::SendAnswer(int connection, const Answer& answer) {
    const auto pause = [this](std::chrono::milliseconds interval) {
        const auto until = std::chrono::steady_clock::now() + interval;
        while (!m_bStopping && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::min(interval, std::chrono::milliseconds(kSliceMs)));
        }
        return !m_bStopping;
    };
    std::uint64_t repeated = 0;
    const auto more = [&] {
        return !answer.repeat.empty() && (answer.repeatLimit == 0 || repeated < answer.repeatLimit);
    };
    if (answer.drip.count() > 0) {
        for (const char byte : answer.bytes) {
            if (!SendAll(connection, std::string_view(&byte, 1)) || !pause(answer.drip)) {
                return false;
            }
        }
        for (; more(); ++repeated) {
            const char byte = answer.repeat[repeated % answer.repeat.size()];
            if (!SendAll(connection, std::string_view(&byte, 1)) || !pause(answer.drip)) {
                return false;
            }
        }
        return true;
    }
    if (!SendAll(connection, answer.bytes)) {
        return false;
    }
    std::string block;
    while (more() && block.size() < 65536) {
        block += answer.repeat;
    }
    while (more()) {
        const std::uint64_t left =
            answer.repeatLimit == 0 ? block.size() : answer.repeatLimit - repeated;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!SendAll(connection, std::string_view(block).substr(0, n))) {
            return false;
        }
        repeated += n;
    }
    return true;
}
