#include "core/spider/SpiderParams.h"

#include "core/net/RouterUrl.h"

std::string SpiderParams::GetUrl() const {
    std::string url;
    ComposeRouterUrl(nRouterAddress, nRouterPort, strPath, url);
    return url;
}
