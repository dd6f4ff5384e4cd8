#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/address/AddressProbe.h"
#include "core/net/HttpFetch.h"

// Hears why a server asked gave no address.
using ServerFailedHook = std::function<void(const std::string& url, const ProbeFailure& failure)>;

// Learns the machine's public IPv4 address from a rotating list of detection servers: each
// detection starts with the server after the one asked last and stops at the first answer that
// holds an acceptable address.
class CDetectScript {
public:
    CDetectScript();  // the ten public detection servers
    explicit CDetectScript(std::vector<std::string> servers);
    virtual ~CDetectScript() = default;

    // `address` receives the address text on success and is untouched otherwise. The rotation
    // stops early once the options' abort signal is set.
    bool Detect(bool allowReserved, std::string& address, const FetchOptions& options = {},
                const ServerFailedHook& failed = {});

    const std::vector<std::string>& Servers() const { return m_servers; }
    int NextServerIndex() const { return m_nNextServer; }

private:
    std::vector<std::string> m_servers;
    int m_nNextServer = 0;
};
