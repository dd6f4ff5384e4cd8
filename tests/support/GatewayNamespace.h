#pragma once

#include <sys/types.h>

#include <string>

// A home router in a network namespace of its own: Debian's miniupnpd, its LAN on a veth pair
// (192.168.77.1; this side 192.168.77.2, with the default route through it) and its WAN on another
// pair with the address a test chooses. The calling thread moves into a second new namespace, the
// LAN side, so that nothing of the machine's own network is touched: programs it starts from then
// on see only this LAN. Everything ends with the object: the two processes it started (by their
// pid), both namespaces, its temporary folder; the thread returns to its namespace.
class CGatewayNamespace {
public:
    static constexpr const char* kRouter = "192.168.77.1";
    static constexpr const char* kRootUrl = "http://192.168.77.1:5000/rootDesc.xml";

    CGatewayNamespace() = default;
    ~CGatewayNamespace();
    CGatewayNamespace(const CGatewayNamespace&) = delete;
    CGatewayNamespace& operator=(const CGatewayNamespace&) = delete;

    // Starts the router with WAN address `wan` ("A.B.C.D/PREFIX"). Empty when it answers; else
    // why not, for the test to end with: a skip when miniupnpd is not installed or the machine
    // refuses a namespace (EPERM), any other failure is one of the test's.
    std::string Start(const std::string& wan);
    // Stops the daemon (SIGSTOP): a gateway that takes every request and answers none.
    void Freeze();

private:
    std::string Fail(const std::string& why);

    int m_home = -1;  // the calling thread's namespace before
    pid_t m_holder = -1;
    int m_holderPipe = -1;  // its end closed, the holder leaves
    pid_t m_daemon = -1;
    bool m_bFrozen = false;
    std::string m_folder;
};
