#pragma once

#include <atomic>
#include <thread>

#include "core/spider/SpiderRun.h"

class CDetectScript;

// Everything one run works on besides its params.
struct SpiderRunContext {
    ISpiderSink& sink;
    CDetectScript* detector;  // null: params already hold the external address
    CParsedPageList& parsed;
    const std::atomic<bool>& cancel;
    const std::atomic<bool>& shutdown;  // abandons transfers, detection included
};

// The worker body: detection, WM_SPIDER_ADDRESS, then the crawl from "/" on one Internet handle.
void SpiderMain(SpiderParams& params, SpiderRunContext& context);

// SpiderMain, then WM_SPIDER_DONE whatever happened.
void SpiderThreadProc(SpiderParams& params, SpiderRunContext& context);

// Owns the worker thread of the process-wide run. Destroying it abandons a run in progress and
// waits for the thread, so the thread never outlives what it reports to.
class CSpiderThread {
public:
    explicit CSpiderThread(ISpiderSink& sink);
    ~CSpiderThread();
    CSpiderThread(const CSpiderThread&) = delete;
    CSpiderThread& operator=(const CSpiderThread&) = delete;

    // Starts SpiderThreadProc on TheSpiderParams() with the process-wide detector, cancel flag and
    // parsed-page list. False when the thread cannot be created.
    bool Start();
    void Shutdown();

private:
    std::atomic<bool> m_bShutdown{false};
    SpiderRunContext m_context;
    std::thread m_thread;
};
