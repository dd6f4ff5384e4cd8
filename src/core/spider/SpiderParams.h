#pragma once

#include <string>

#include "core/net/RouterAccess.h"

// One step of the crawl: a page of the router, by its path.
struct SpiderParams {
    const RouterAccess& router;  // the run's
    std::string strPath{};

    // The request URL of this step, or the empty text when it cannot be composed.
    std::string GetUrl() const { return router.Url(strPath); }
};
