#pragma once

#include <atomic>

#include "core/spider/Crawl.h"
#include "core/spider/ParsedPageList.h"
#include "core/spider/SpiderSettings.h"
#include "core/spider/SpiderSink.h"

class CDetectScript;

// What one run works on and changes as it goes, kept apart from its settings.
struct SpiderRunState {
    ISpiderSink& sink;
    CDetectScript& detector;  // asked unless the settings give the external address
    CParsedPageList& parsed;
    const std::atomic<bool>& cancel;
    const std::atomic<bool>& shutdown;  // abandons transfers, detection included
    // Set from outside (a signal handler may set it), abandons the run as `shutdown` does.
    const std::atomic<bool>* abandon = nullptr;
    RouterReached* reached = nullptr;  // told how the router was reached, when given
};

// The worker body: detection, WM_SPIDER_ADDRESS, then the crawl from "/" on one Internet handle.
void SpiderMain(const SpiderSettings& settings, SpiderRunState& state);

// SpiderMain, then WM_SPIDER_DONE whatever happened.
void SpiderThreadProc(const SpiderSettings& settings, SpiderRunState& state);
