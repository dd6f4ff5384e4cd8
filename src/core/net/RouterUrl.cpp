#include "core/net/RouterUrl.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdlib>
#include <memory>

#include "core/net/InetAddr.h"
#include "core/text/Ascii.h"

namespace {
constexpr std::size_t kMaxHostLength = 255;
}  // namespace

bool ComposeRouterUrl(std::uint32_t address, std::uint16_t port, std::string_view path,
                      std::string& url, bool bHttps) {
    std::string composed =
        (bHttps ? "https://" : "http://") + DottedAddress(address) + ':' + std::to_string(port);
    if (path.empty() || path.front() != '/') {
        composed += '/';
    }
    composed += path;
    if (composed.size() > kMaxUrlLength) {
        return false;
    }
    url = std::move(composed);
    return true;
}

bool CrackUrlHost(const std::string& url, std::string& host, std::uint16_t& port) {
    // The URL parser refuses a whole URL for one control byte, where a link only needs its host
    // and port: escaped, a control byte in the path passes, and one in the host or port still
    // fails there once decoded.
    std::string parsed;
    parsed.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            AppendPercentEscaped(parsed, byte);
        } else {
            parsed += c;
        }
    }
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
    if (!handle ||
        curl_url_set(handle.get(), CURLUPART_URL, parsed.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK) {
        return false;
    }
    char* hostText = nullptr;
    char* portText = nullptr;
    const bool bOk =
        curl_url_get(handle.get(), CURLUPART_HOST, &hostText, CURLU_URLDECODE) == CURLUE_OK &&
        curl_url_get(handle.get(), CURLUPART_PORT, &portText, CURLU_DEFAULT_PORT) == CURLUE_OK;
    std::string hostValue = hostText != nullptr ? hostText : "";
    const unsigned long portValue = portText != nullptr ? std::strtoul(portText, nullptr, 10) : 0;
    curl_free(hostText);
    curl_free(portText);
    if (!bOk || hostValue.size() > kMaxHostLength) {
        return false;
    }
    host = std::move(hostValue);
    port = static_cast<std::uint16_t>(portValue);
    return true;
}

bool SystemHostLookup(const std::string& name, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) {
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

bool ResolveHost(const std::string& host, std::uint32_t* address, const HostLookup& lookup) {
    std::uint32_t value = ClassicInetAddr(host);
    if (value == kAddressNone && !(lookup ? lookup(host, value) : SystemHostLookup(host, value))) {
        return false;
    }
    if (address != nullptr) {
        *address = value;
    }
    return true;
}
