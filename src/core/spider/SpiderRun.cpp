#include "core/spider/SpiderRun.h"

#include <arpa/inet.h>

#include "core/address/AddressScan.h"
#include "core/net/HttpFetch.h"
#include "core/net/RouterUrl.h"
#include "core/text/StringTable.h"

std::atomic<bool> g_bSpiderCancel{false};

std::string SpiderParams::GetUrl() const {
    std::string url;
    ComposeRouterUrl(nRouterAddress, nRouterPort, strPath, url);
    return url;
}

void CParsedPageList::Clear() {
    m_index.clear();
    m_paths.clear();
}

bool CParsedPageList::CheckParsedPage(const std::string& path) {
    if (m_index.contains(path)) {
        return true;
    }
    m_index.insert(m_paths.emplace_back(path));
    return false;
}

SpiderParams& TheSpiderParams() {
    static SpiderParams params;
    return params;
}

CParsedPageList& TheParsedPages() {
    static CParsedPageList pages;
    return pages;
}

void PrepareRun(std::string_view login, std::string_view password, std::uint32_t address,
                std::int32_t port) {
    SpiderParams& params = TheSpiderParams();
    params.strPath.assign(1, '/');  // gcc 12 warns falsely (-Wrestrict) on = "/"
    params.nRouterAddress = address;
    params.nRouterPort = static_cast<std::uint16_t>(port & 0xFFFF);
    params.strHeaders = BuildAuthorizationHeader(login, password);
    params.pInternet = nullptr;
}

int CheckRouterTarget(std::uint32_t address, std::int32_t port) {
    if (address == 0 || !IsReservedAddress(htonl(address))) {
        return IDS_INVALID_ADDRESS;
    }
    return port == 0 ? IDS_INVALID_PORT : 0;
}

int SpiderOutcome(bool bCancelled, std::uint32_t externalAddress, std::size_t foundPages) {
    if (bCancelled) {
        return IDS_TEST_CANCELLED;
    }
    if (externalAddress == 0) {
        return IDS_NO_EXTERNAL_ADDRESS;
    }
    return foundPages == 0 ? IDS_NO_STATUS_PAGE : IDS_STATUS_PAGE_FOUND;
}
