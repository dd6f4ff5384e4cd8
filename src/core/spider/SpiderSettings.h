#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "core/net/HttpFetch.h"
#include "core/net/RouterAccess.h"
#include "core/net/RouterUrl.h"

// Sees the text of every page the crawl reads, on the crawl's thread.
using PageTextHook = std::function<void(std::string_view text)>;

// What the user and the front end decided for one spider run. The front end builds it once for
// each run, naming the fields it fills (designated initializers: several fields share a type);
// the worker, the crawl and every request of the run read it in place, and nothing writes to it
// while the run lasts. What a run learns and changes as it goes is kept apart, in SpiderRunState
// and CrawlState.
struct SpiderSettings {
    RouterAccess router{};  // see RouterAccessFor
    // Given by the user: the crawl looks for it and no detection server is asked. Empty: the
    // detector learns it.
    std::string strExternalAddress{};
    // The crawl also follows what deep discovery finds in pages and scripts (see CrawlPage).
    bool bDeep = false;
    HttpTimeouts timeouts{};  // the program keeps the defaults; tests shorten them
    HostLookup lookup{};      // names in links; empty: the system resolver
    std::chrono::milliseconds lookupLimit{5000};  // one name lookup gives up after this long
    // All name lookups of a run together; names met after it is spent are skipped unresolved.
    std::chrono::milliseconds lookupBudget{15000};
    PageTextHook pageText{};  // sees every page the crawl reads
    RequestHook onRequest{};  // sees every request, detection's included
};
