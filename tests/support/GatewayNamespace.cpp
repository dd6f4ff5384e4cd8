#include "support/GatewayNamespace.h"

// The failures of the fixture are those of the test that uses it, GoogleTest's or Qt Test's.
#ifdef VELMO_QT_TEST
#include <QTest>
#else
#include <gtest/gtest.h>
#endif

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Process.h"
#include "support/Wait.h"

namespace {

constexpr const char* kDaemon = "/usr/sbin/miniupnpd";
constexpr const char* kNsenter = "/usr/bin/nsenter";

std::string FindIp() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Answers(const char* address, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address, &to.sin_addr);
    const bool bConnected = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    return bConnected;
}

// Ends a child of ours: SIGTERM, then SIGKILL should it linger.
void End(pid_t pid, int signal) {
    kill(pid, signal);
    if (!WaitUntil([pid] { return waitpid(pid, nullptr, WNOHANG) != 0; },
                   std::chrono::seconds(5))) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace

std::string CGatewayNamespace::Fail(const std::string& why) {
    const std::string said = why.empty() ? "the gateway namespace failed" : why;
#ifdef VELMO_QT_TEST
    QTest::qFail(said.c_str(), __FILE__, __LINE__);
#else
    ADD_FAILURE() << said;
#endif
    return said;
}

std::string CGatewayNamespace::MakeNamespaces(const std::string& wan) {
    const std::string ip = FindIp();
    if (ip.empty() || access(kNsenter, X_OK) != 0) {
        return Fail("ip (iproute2) or nsenter (util-linux) is missing");
    }
    m_home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_home < 0) {
        return Fail(std::string("cannot open this thread's network namespace: ") +
                    std::strerror(errno));
    }
    if (unshare(CLONE_NEWNET) != 0) {
        const int error = errno;
        const std::string why = std::string("this machine cannot create a network namespace (") +
                                std::strerror(error) +
                                "): the gateway tests run as root, as CI does";
        return error == EPERM ? why : Fail(why);
    }
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velmo-gateway-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return Fail("no temporary folder");
    }
    m_folder = pattern;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return Fail("no pipe");
    }
    m_holder = fork();
    if (m_holder == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        signal(SIGTERM, SIG_DFL);  // the test framework's handler is for the test, not for this
        close(fds[1]);
        char byte = 0;
        if (unshare(CLONE_NEWNET) == 0) {
            [[maybe_unused]] const ssize_t n = read(fds[0], &byte, 1);  // until our end closes
        }
        _exit(0);
    }
    close(fds[0]);
    m_holderPipe = fds[1];
    const std::string holder = std::to_string(m_holder);
    // The holder has its namespace once /proc shows one other than ours.
    if (!WaitUntil([&] {
            std::error_code error;
            return std::filesystem::read_symlink("/proc/" + holder + "/ns/net", error) !=
                   std::filesystem::read_symlink("/proc/thread-self/ns/net", error);
        })) {
        return Fail("the router's namespace did not come up");
    }

    const ProcessResult lan = RunProgram({ip, "-batch", "-"},
                                         "link set lo up\n"
                                         "link add lanc type veth peer name lanr netns " +
                                             holder +
                                             "\n"
                                             "addr add 192.168.77.2/24 dev lanc\n"
                                             "addr add 192.168.77.3/24 dev lanc\n"
                                             "link set lanc up\n"
                                             "route add default via 192.168.77.1\n"
                                             "route add unreachable 192.0.2.0/24\n");
    const ProcessResult router = RunProgram({kNsenter, "-t", holder, "-n", ip, "-batch", "-"},
                                            "link set lo up\n"
                                            "addr add 192.168.77.1/24 dev lanr\n"
                                            "link set lanr up\n"
                                            "link add wan0 type veth peer name wan1\n"
                                            "addr add " +
                                                wan +
                                                " dev wan0\n"
                                                "link set wan0 up\n"
                                                "link set wan1 up\n");
    if (lan.status != 0 || router.status != 0) {
        return Fail(lan.err + router.err);
    }
    return {};
}

std::unique_ptr<CHostileGateway> CGatewayNamespace::StartHostileRouter(std::string& why) {
    why = MakeNamespaces("203.0.113.2/24");
    std::unique_ptr<CHostileGateway> router;
    if (why.empty()) {
        InRouter([&] { router = std::make_unique<CHostileGateway>(kRouter); });
    }
    if (!router && why.empty()) {
        why = Fail("no gateway in the router's namespace");
    }
    return router;
}

std::string CGatewayNamespace::Start(const std::string& wan) {
    if (access(kDaemon, X_OK) != 0) {
        return "miniupnpd is not installed (tools/dev installs miniupnpd-nftables)";
    }
    if (const std::string why = MakeNamespaces(wan); !why.empty()) {
        return why;
    }
    const std::string holder = std::to_string(m_holder);
    const std::string config = m_folder + "/miniupnpd.conf";
    std::ofstream(config) << "ext_ifname=wan0\n"
                             "listening_ip=lanr\n"
                             "http_port=5000\n"
                             "enable_natpmp=yes\n"
                             "enable_upnp=yes\n"
                             "secure_mode=yes\n"
                             "uuid=3a0c6a5e-1b7d-4c2e-9f4a-5d6e7f8a9b0c\n"
                             "lease_file=" +
                                 m_folder +
                                 "/upnp.leases\n"
                                 "allow 1024-65535 192.168.77.0/24 1024-65535\n"
                                 "deny 0-65535 0.0.0.0/0 0-65535\n";
    const std::string log = m_folder + "/miniupnpd.log";
    const std::string pidFile = m_folder + "/miniupnpd.pid";
    const std::string routerNamespace = "/proc/" + holder + "/ns/net";
    m_daemon = fork();
    if (m_daemon == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int ns = open(routerNamespace.c_str(), O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (ns < 0 || setns(ns, CLONE_NEWNET) != 0 || out < 0) {
            _exit(127);
        }
        dup2(out, 1);
        dup2(out, 2);
        execl(kDaemon, kDaemon, "-d", "-f", config.c_str(), "-P", pidFile.c_str(), nullptr);
        _exit(127);
    }
    // Ready once its web server takes connections and NAT-PMP listens.
    if (!WaitUntil([&] {
            return waitpid(m_daemon, nullptr, WNOHANG) != 0 ||
                   (Answers(kRouter, 5000) &&
                    ReadText(log).find("Listening for NAT-PMP") != std::string::npos);
        }) ||
        kill(m_daemon, 0) != 0) {
        m_daemon = -1;
        return Fail("miniupnpd did not start: " + ReadText(log));
    }
    return {};
}

void CGatewayNamespace::InRouter(const std::function<void()>& make) {
    const int lan = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int router =
        open(("/proc/" + std::to_string(m_holder) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (lan < 0 || router < 0 || setns(router, CLONE_NEWNET) != 0) {
        Fail(std::string("cannot enter the router's namespace: ") + std::strerror(errno));
        return;
    }
    make();
    setns(lan, CLONE_NEWNET);
    close(router);
    close(lan);
}

bool CGatewayNamespace::SetWan(const std::string& wan) {
    const ProcessResult changed =
        RunProgram({kNsenter, "-t", std::to_string(m_holder), "-n", FindIp(), "-batch", "-"},
                   "addr flush dev wan0\naddr add " + wan + " dev wan0\n");
    if (changed.status != 0) {
        Fail("the WAN address did not change: " + changed.err);
    }
    return changed.status == 0;
}

void CGatewayNamespace::Freeze() {
    kill(m_daemon, SIGSTOP);
    m_bFrozen = true;
}

CGatewayNamespace::~CGatewayNamespace() {
    if (m_daemon > 0) {
        End(m_daemon, m_bFrozen ? SIGKILL : SIGTERM);
    }
    if (m_holder > 0) {
        close(m_holderPipe);
        End(m_holder, SIGTERM);
    }
    if (m_home >= 0) {
        setns(m_home, CLONE_NEWNET);
        close(m_home);
    }
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

namespace {

constexpr std::uint16_t kSsdpPort = 1900;
constexpr std::uint16_t kNatPmpPort = 5351;

sockaddr_in At(std::uint32_t networkOrder, std::uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = networkOrder;
    return at;
}

int BoundUdp(std::uint32_t networkOrder, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const sockaddr_in at = At(networkOrder, port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        throw std::runtime_error(std::string("cannot bind a UDP socket: ") + std::strerror(errno));
    }
    return fd;
}

}  // namespace

CHostileGateway::CHostileGateway(const std::string& address) : http(address, 5000) {
    inet_pton(AF_INET, address.c_str(), &m_address);
    m_search = BoundUdp(INADDR_ANY, kSsdpPort);
    ip_mreq group{};
    inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
    group.imr_interface.s_addr = m_address;
    if (setsockopt(m_search, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
        throw std::runtime_error(std::string("cannot join the SSDP group: ") +
                                 std::strerror(errno));
    }
    m_reply = BoundUdp(m_address, 0);
    m_natpmp = BoundUdp(m_address, kNatPmpPort);
    m_thread = std::thread([this] { Serve(); });
}

CHostileGateway::~CHostileGateway() {
    m_bStopping = true;
    m_thread.join();
    close(m_search);
    close(m_reply);
    close(m_natpmp);
}

void CHostileGateway::NameInSearch(std::string url) {
    const std::lock_guard lock(m_mutex);
    m_location = std::move(url);
}

void CHostileGateway::AnswerNatPmp(std::vector<std::string> datagrams) {
    const std::lock_guard lock(m_mutex);
    m_datagrams = std::move(datagrams);
}

std::string CHostileGateway::NatPmpAnswer(const std::string& address, int result) {
    in_addr wan{};
    inet_pton(AF_INET, address.c_str(), &wan);
    std::string answer = {0,
                          static_cast<char>(128),
                          static_cast<char>(result >> 8),
                          static_cast<char>(result & 0xFF),
                          0,
                          0,
                          0,
                          42};
    answer.append(reinterpret_cast<const char*>(&wan), 4);
    return answer;
}

void CHostileGateway::Serve() {
    while (!m_bStopping) {
        pollfd ready[2] = {{m_search, POLLIN, 0}, {m_natpmp, POLLIN, 0}};
        if (poll(ready, 2, 20) <= 0) {
            continue;
        }
        char packet[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        if ((ready[0].revents & POLLIN) != 0) {
            const ssize_t n = recvfrom(m_search, packet, sizeof packet, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
            if (n > 0 && bAnswerSearch &&
                std::string_view(packet, static_cast<std::size_t>(n)).starts_with("M-SEARCH")) {
                std::string location;
                {
                    const std::lock_guard lock(m_mutex);
                    location = m_location.empty() ? RootUrl() : m_location;
                }
                const std::string answer =
                    "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
                    "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                    "USN: uuid:5e1a8b52-0000-4000-8000-000000000001::urn:schemas-upnp-org:"
                    "device:InternetGatewayDevice:1\r\nEXT:\r\nLOCATION: " +
                    location + "\r\n\r\n";
                sendto(m_reply, answer.data(), answer.size(), 0,
                       reinterpret_cast<const sockaddr*>(&from), length);
            }
        }
        if ((ready[1].revents & POLLIN) != 0) {
            length = sizeof from;
            if (recvfrom(m_natpmp, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from),
                         &length) >= 0) {
                ++m_nNatPmpRequests;
                std::vector<std::string> datagrams;
                {
                    const std::lock_guard lock(m_mutex);
                    datagrams = m_datagrams;
                }
                for (const std::string& datagram : datagrams) {
                    sendto(m_natpmp, datagram.data(), datagram.size(), 0,
                           reinterpret_cast<const sockaddr*>(&from), length);
                }
            }
        }
    }
}
