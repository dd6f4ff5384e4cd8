#include "core/spider/SpiderWorker.h"

#include "core/address/DetectScript.h"
#include "core/spider/Crawl.h"

void SpiderMain(SpiderParams& params, SpiderRunContext& context) {
    context.parsed.Clear();
    FetchOptions detection{context.timeouts, CAbortSignal(&context.shutdown, context.abandon)};
    detection.onRequest = context.onRequest;
    if (context.detector != nullptr &&
        !context.detector->Detect(false, params.strExternalAddress, detection)) {
        return;
    }
    context.sink.Post(WM_SPIDER_ADDRESS, params.strExternalAddress);
    const CAbortSignal cancel(&context.cancel, context.abandon);
    if (cancel.IsSet()) {
        return;
    }
    // Cancel lets the page in flight finish if it does soon, so that it is read and counted.
    FetchOptions router{
        context.timeouts, CAbortSignal(&context.shutdown, context.abandon), {}, &context.cancel};
    router.bDirect = true;
    router.onRequest = context.onRequest;
    InternetHandle internet = OpenInternetHandle(router);
    if (!internet) {
        return;
    }
    params.pInternet = internet.get();
    CrawlContext crawl{context.parsed, context.sink, cancel, context.lookup};
    crawl.lookupLimit = context.lookupLimit;
    crawl.lookupBudget = context.lookupBudget;
    crawl.pageText = context.pageText;
    crawl.bDeep = context.bDeep;
    CrawlPage(params, crawl);
    params.pInternet = nullptr;
}

void SpiderThreadProc(SpiderParams& params, SpiderRunContext& context) {
    SpiderMain(params, context);
    context.sink.Post(WM_SPIDER_DONE, {});
}
