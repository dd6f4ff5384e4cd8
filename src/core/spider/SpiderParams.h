#pragma once

#include <cstdint>
#include <string>

class CInternetHandle;

// The parameters of one crawl step; the crawl copies it for every page it follows.
struct SpiderParams {
    std::string strExternalAddress;
    std::string strHeaders;
    std::string strPath;
    std::uint32_t nRouterAddress = 0;  // host order
    std::uint16_t nRouterPort = 0;
    CInternetHandle* pInternet = nullptr;  // owned by the worker, never by a copy

    // The request URL of this step, or the empty text when it cannot be composed.
    std::string GetUrl() const;
};
