#include "core/spider/SpiderWorker.h"

#include <system_error>

#include "core/address/DetectScript.h"
#include "core/net/HttpFetch.h"
#include "core/spider/Crawl.h"

void SpiderMain(SpiderParams& params, SpiderRunContext& context) {
    context.parsed.Clear();
    const CAbortSignal abortAll(&context.shutdown);
    if (context.detector != nullptr &&
        !context.detector->Detect(false, params.strExternalAddress, abortAll)) {
        return;
    }
    context.sink.Post(WM_SPIDER_ADDRESS, params.strExternalAddress);
    if (context.cancel.load()) {
        return;
    }
    InternetHandle internet = OpenInternetHandle(CAbortSignal(&context.cancel, &context.shutdown));
    if (!internet) {
        return;
    }
    params.pInternet = internet.get();
    CrawlContext crawl{context.parsed, context.sink, context.cancel};
    CrawlPage(params, crawl);
    params.pInternet = nullptr;
}

void SpiderThreadProc(SpiderParams& params, SpiderRunContext& context) {
    SpiderMain(params, context);
    context.sink.Post(WM_SPIDER_DONE, {});
}

CSpiderThread::CSpiderThread(ISpiderSink& sink)
    : m_context{sink, &TheDetectScript(), TheParsedPages(), g_bSpiderCancel, m_bShutdown} {}

CSpiderThread::~CSpiderThread() {
    Shutdown();
}

bool CSpiderThread::Start() {
    if (m_thread.joinable()) {
        m_thread.join();  // the previous run has posted its last message already
    }
    try {
        m_thread = std::thread([this] { SpiderThreadProc(TheSpiderParams(), m_context); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CSpiderThread::Shutdown() {
    if (m_thread.joinable()) {
        m_bShutdown = true;
        g_bSpiderCancel = true;
        m_thread.join();
        m_bShutdown = false;
    }
}
