#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/HostileRouter.h"

class CHostileGateway;

// A home router in a network namespace of its own: Debian's miniupnpd, its LAN on a veth pair
// (192.168.77.1; this side 192.168.77.2, with the default route through it, and 192.168.77.3 for
// another device on the LAN) and its WAN on another pair with the address a test chooses. On this
// side no route leads to 192.0.2.0/24. The calling thread moves into a second new namespace, the
// LAN side, so that nothing of the machine's own network is touched: programs it starts from then
// on see only this LAN. Everything ends with the object: the two processes it started (by their
// pid), both namespaces, its temporary folder; the thread returns to its namespace. Its failures
// are the test's, in GoogleTest or, built with VELMO_QT_TEST, in Qt Test.
class CGatewayNamespace {
public:
    static constexpr const char* kRouter = "192.168.77.1";
    static constexpr const char* kRootUrl = "http://192.168.77.1:5000/rootDesc.xml";
    static constexpr const char* kOtherDevice = "192.168.77.3";
    static constexpr const char* kUnreachable = "192.0.2.1";

    CGatewayNamespace() = default;
    ~CGatewayNamespace();
    CGatewayNamespace(const CGatewayNamespace&) = delete;
    CGatewayNamespace& operator=(const CGatewayNamespace&) = delete;

    // Starts the router with WAN address `wan` ("A.B.C.D/PREFIX"). Empty when it answers; else
    // why not, for the test to end with: a skip when miniupnpd is not installed or the machine
    // refuses a namespace (EPERM), any other failure is one of the test's.
    std::string Start(const std::string& wan);
    // The namespaces without the daemon, the router played by a gateway of the test's own; null,
    // with `why` as Start gives it, when they cannot be made.
    std::unique_ptr<CHostileGateway> StartHostileRouter(std::string& why);
    // Gives the router's WAN side `wan` ("A.B.C.D/PREFIX") in place of the address it had.
    bool SetWan(const std::string& wan);
    // Stops the daemon (SIGSTOP): a gateway that takes every request and answers none.
    void Freeze();

private:
    // Runs `make` with the calling thread in the router's namespace, then brings it back: the
    // sockets `make` opens are the router's, whichever thread serves them.
    void InRouter(const std::function<void()>& make);
    std::string Fail(const std::string& why);
    std::string MakeNamespaces(const std::string& wan);

    int m_home = -1;  // the calling thread's namespace before
    pid_t m_holder = -1;
    int m_holderPipe = -1;  // its end closed, the holder leaves
    pid_t m_daemon = -1;
    bool m_bFrozen = false;
    std::string m_folder;
};

// A gateway of the tests' own on `address` of the namespace it is made in: the router's (made
// by CGatewayNamespace::StartHostileRouter, on 192.168.77.1) or the LAN side's, another device
// (192.168.77.3). It answers the SSDP search with its root description URL, serves HTTP on port
// 5000 through `http`, and answers each NAT-PMP request on port 5351 with the datagrams given,
// nothing by default. Its thread ends with it.
class CHostileGateway {
public:
    explicit CHostileGateway(const std::string& address);
    ~CHostileGateway();
    CHostileGateway(const CHostileGateway&) = delete;
    CHostileGateway& operator=(const CHostileGateway&) = delete;

    std::string RootUrl() const { return http.Url("/rootDesc.xml"); }
    void AnswerNatPmp(std::vector<std::string> datagrams);
    // A well-formed NAT-PMP answer: result 0 and the address, or with `result` only that.
    static std::string NatPmpAnswer(const std::string& address, int result = 0);
    std::size_t NatPmpRequests() const { return m_nNatPmpRequests.load(); }

    CHostileRouter http;
    std::atomic<bool> bAnswerSearch{true};
    void NameInSearch(std::string url);  // the LOCATION of its search answer; empty: RootUrl()

private:
    void Serve();

    std::uint32_t m_address = 0;  // network order
    int m_search = -1;            // port 1900, in the SSDP group
    int m_reply = -1;             // where search answers go out from
    int m_natpmp = -1;            // port 5351
    std::atomic<bool> m_bStopping{false};
    std::atomic<std::size_t> m_nNatPmpRequests{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_datagrams;
    std::string m_location;
    std::thread m_thread;
};
