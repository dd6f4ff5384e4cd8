#include "core/spider/SpiderRules.h"

#include <arpa/inet.h>

#include "core/address/AddressScan.h"
#include "core/net/HttpFetch.h"
#include "core/text/StringTable.h"

std::string RouterLogin(std::string_view login, std::string_view password) {
    if (login.empty() && !password.empty()) {
        return "%20";
    }
    return std::string(login);
}

RouterAccess RouterAccessFor(std::string_view login, std::string_view password,
                             std::uint32_t address, std::int32_t port) {
    return {.nAddress = address,
            .nPort = static_cast<std::uint16_t>(port & 0xFFFF),
            .strHeaders = BuildAuthorizationHeader(RouterLogin(login, password), password),
            .strLogin = std::string(login),
            .strPassword = std::string(password)};
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
