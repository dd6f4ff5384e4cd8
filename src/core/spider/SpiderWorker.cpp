#include "core/spider/SpiderWorker.h"

#include <string>

#include "core/address/DetectScript.h"
#include "core/spider/Crawl.h"

void SpiderMain(const SpiderSettings& settings, SpiderRunState& state) {
    state.parsed.Clear();
    const CAbortSignal shutdown(&state.shutdown, state.abandon);
    std::string address = settings.strExternalAddress;
    if (address.empty() &&
        !state.detector.Detect(
            false, address,
            {.timeouts = settings.timeouts, .abort = shutdown, .onRequest = settings.onRequest})) {
        return;
    }
    state.sink.Post(WM_SPIDER_ADDRESS, address);
    const CAbortSignal cancel(&state.cancel, state.abandon);
    if (cancel.IsSet()) {
        return;
    }
    const RouterAccess& router = settings.router;
    CRouterTrust trust(router.strKnownRouters, router.nAddress, router.bTrustNewKey);
    // Cancel lets the page in flight finish if it does soon, so that it is read and counted.
    InternetHandle internet = OpenInternetHandle({.timeouts = settings.timeouts,
                                                  .abort = shutdown,
                                                  .cancel = &state.cancel,
                                                  .bDirect = true,
                                                  .onRequest = settings.onRequest,
                                                  .trust = &trust});
    if (!internet) {
        return;
    }
    CrawlState crawl{.internet = *internet,
                     .externalAddress = address,
                     .parsed = state.parsed,
                     .sink = state.sink,
                     .cancel = cancel,
                     .reached = state.reached};
    CrawlPage(settings, crawl);
    if (state.reached != nullptr) {
        state.reached->refused = trust.Refused();
        state.reached->trusted = trust.TrustedNew();
        state.reached->rememberFailure = trust.RememberFailure();
    }
}

void SpiderThreadProc(const SpiderSettings& settings, SpiderRunState& state) {
    SpiderMain(settings, state);
    state.sink.Post(WM_SPIDER_DONE, {});
}
