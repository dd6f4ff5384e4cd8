#pragma once

#include <atomic>
#include <string>

#include "core/net/RouterUrl.h"
#include "core/spider/SpiderParams.h"

struct CrawlContext {
    CParsedPageList& parsed;
    ISpiderSink& sink;
    const std::atomic<bool>& cancel;
    const HostLookup& lookup;  // names in links; empty: the system resolver
};

// Crawls the page at params' path and, depth-first, every new page linked from it that stays on
// the router. WM_SPIDER_FOUND is posted for a page right after it is read (pre-order),
// WM_SPIDER_PARSED once every page followed from it is done (post-order). The walk keeps its own
// stack, so a chain of any depth costs heap, not thread stack.
void CrawlPage(const SpiderParams& params, CrawlContext& context);

// The path a link value leads to from the page at `pagePath`, or the empty text when the link is
// not followed (empty, "#...", javascript:, another host or port, no path).
std::string ResolveLinkPath(const SpiderParams& params, std::string value,
                            const HostLookup& lookup);

// Collapses "/../" and then "/./" to "/", each in one left-to-right pass.
std::string NormalizePath(const std::string& path);
