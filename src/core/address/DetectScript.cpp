#include "core/address/DetectScript.h"

#include "core/address/AddressProbe.h"

namespace {

// Public services that answer a plain GET with a page showing the caller's IPv4 address. Several
// may be gone at any time; the rotation passes over them.
const char* const kDetectionServers[] = {
    // 1-3: one service under three names; documented on ports 80 and 8245, answers
    // "Current IP Address: a.b.c.d".
    "http://checkip.dyndns.org:8245/",
    "http://checkip.dyndns.com:8245/",
    "http://checkip.dyn.com:8245/",
    // 4-9: dynamic-DNS update hosts whose clients read the caller's address from them on 8245.
    "http://ip1.dynupdate.no-ip.com:8245/",
    "http://ip2.dynupdate.no-ip.com:8245/ip.php",
    "http://ip1.dynupdate6.no-ip.com:8245/",
    "http://dynupdate.no-ip.com:8245/",
    "http://checkip.dyndns.it:8245/",
    "http://checkip.dynu.com:8245/",
    // 10: no echo service documented on 7777 is known; kept for the fixed rotation.
    "http://myip.dnsomatic.com:7777/myip.php",
};

}  // namespace

CDetectScript::CDetectScript()
    : m_servers(std::begin(kDetectionServers), std::end(kDetectionServers)) {}

CDetectScript::CDetectScript(std::vector<std::string> servers) : m_servers(std::move(servers)) {}

bool CDetectScript::Detect(bool allowReserved, std::string& address, const FetchOptions& options,
                           const ServerFailedHook& failed) {
    const int count = static_cast<int>(m_servers.size());
    if (count == 0) {
        return false;
    }
    const int start = m_nNextServer;
    while (true) {
        const std::string& url = m_servers[m_nNextServer];
        ProbeFailure failure;
        const bool bFound =
            ProbeAddress(url, {}, {}, allowReserved, {}, address, options, &failure);
        if (!bFound && failed && !options.abort.IsSet()) {
            failed(url, failure);
        }
        m_nNextServer = (m_nNextServer + 1) % count;
        if (m_nNextServer == start || bFound || options.abort.IsSet()) {
            return bFound;
        }
    }
}
