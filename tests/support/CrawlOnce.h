#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/net/HttpFetch.h"
#include "core/spider/Crawl.h"
#include "support/RecordingSink.h"
#include "support/TestHostLookup.h"

// Crawls the loopback router on `port` from "/" on a fresh Internet handle, as a run does once the
// external address is known.
inline void CrawlLoopbackRouter(std::uint16_t port, const std::string& externalAddress,
                                CParsedPageList& parsed, CRecordingSink& sink, bool bDeep = false) {
    InternetHandle internet = OpenInternetHandle();
    SpiderParams params;
    params.strExternalAddress = externalAddress;
    params.strPath.assign(1, '/');
    params.nRouterAddress = 0x7F000001;
    params.nRouterPort = port;
    params.pInternet = internet.get();
    std::atomic<bool> cancel{false};
    const HostLookup lookup = TestHostLookup();
    CrawlContext context{parsed, sink, cancel, lookup};
    context.bDeep = bDeep;
    CrawlPage(params, context);
}
