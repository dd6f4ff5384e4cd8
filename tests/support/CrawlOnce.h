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
    std::atomic<bool> cancel{false};
    CrawlState state{.internet = *internet,
                     .externalAddress = externalAddress,
                     .parsed = parsed,
                     .sink = sink,
                     .cancel = cancel};
    CrawlPage({.router = {.nAddress = 0x7F000001, .nPort = port},
               .bDeep = bDeep,
               .lookup = TestHostLookup()},
              state);
}
