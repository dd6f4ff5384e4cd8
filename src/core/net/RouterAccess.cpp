#include "core/net/RouterAccess.h"

#include "core/net/RouterUrl.h"

std::string RouterAccess::Url(std::string_view path) const {
    std::string url;
    ComposeRouterUrl(nAddress, nPort, path, url, bHttps);
    return url;
}
