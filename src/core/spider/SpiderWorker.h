#pragma once

#include <atomic>
#include <chrono>

#include "core/net/HttpFetch.h"
#include "core/net/RouterUrl.h"
#include "core/spider/Crawl.h"
#include "core/spider/ParsedPageList.h"
#include "core/spider/SpiderParams.h"
#include "core/spider/SpiderSink.h"

class CDetectScript;

// Everything one run works on besides its params.
struct SpiderRunContext {
    ISpiderSink& sink;
    CDetectScript* detector;  // null: params already hold the external address
    CParsedPageList& parsed;
    const std::atomic<bool>& cancel;
    const std::atomic<bool>& shutdown;  // abandons transfers, detection included
    HttpTimeouts timeouts;
    HostLookup lookup;  // names in links; empty: the system resolver
    std::chrono::milliseconds lookupLimit{5000};
    std::chrono::milliseconds lookupBudget{15000};
    PageTextHook pageText{};
    bool bDeep = false;  // the crawl also follows what deep discovery finds
    RequestHook onRequest{};
    // Set from outside (a signal handler may set it), abandons the run as `shutdown` does.
    const std::atomic<bool>* abandon = nullptr;
};

// The worker body: detection, WM_SPIDER_ADDRESS, then the crawl from "/" on one Internet handle.
void SpiderMain(SpiderParams& params, SpiderRunContext& context);

// SpiderMain, then WM_SPIDER_DONE whatever happened.
void SpiderThreadProc(SpiderParams& params, SpiderRunContext& context);
