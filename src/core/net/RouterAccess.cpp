#include "core/net/RouterAccess.h"

#include "core/net/InetAddr.h"
#include "core/net/RouterUrl.h"
#include "core/text/Ascii.h"

std::string RouterAccess::Url(std::string_view path) const {
    std::string url;
    ComposeRouterUrl(nAddress, nPort, path, url, bHttps);
    return url;
}

bool RouterAccess::MoveToHttps(const std::string& url) {
    std::string host;
    std::uint16_t port = 0;
    if (bHttps || !StartsWithNoCase(url, "https://") || !CrackUrlHost(url, host, port) ||
        host != DottedAddress(nAddress)) {
        return false;
    }
    bHttps = true;
    nPort = port;
    return true;
}
