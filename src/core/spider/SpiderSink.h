#pragma once

#include <cstddef>
#include <string>

#include "core/login/RouterSession.h"

// The worker's reports, posted to the user interface in this order of events.
enum SpiderMessage : int {
    WM_SPIDER_PARSED = 0x8001,   // one more page read
    WM_SPIDER_FOUND = 0x8002,    // text: path of a page holding the external address
    WM_SPIDER_ADDRESS = 0x8003,  // text: the external address, detected or given
    WM_SPIDER_DONE = 0x8004,     // the run has ended; always last
};

// Receives the worker's messages. Texts travel by value, so none can die before it is handled.
// The run's router session tells it, on the worker, of each login (ILoginEvents).
class ISpiderSink : public ILoginEvents {
public:
    virtual ~ISpiderSink() = default;
    virtual void Post(SpiderMessage message, std::string text) = 0;
    // Called on the worker just before a page is requested; for progress displays only.
    virtual void Fetching(const std::string& /*path*/) {}
    // Called on the worker when a page gave no text, with the reason (see LastFetchFailure), which
    // a front end may give when no page could be read.
    virtual void FetchFailed(const std::string& /*path*/, const std::string& /*why*/) {}
    // Called on the worker when a page request had an answer, with its HTTP status (a 401 body is
    // still read as the page). The run keeps the first, its start status, which tells a refused
    // login (see CSpiderRun::StartStatus).
    virtual void Answered(const std::string& /*path*/, long /*status*/) {}
    // Called on the worker at the end of a crawl whose time for name lookups ran out, with how
    // many host names in links were then skipped unresolved, for a warning.
    virtual void NamesSkipped(std::size_t /*count*/) {}
    // Called on the worker at the end of a crawl that met the bound of the links waiting to be
    // followed, with how many pages then gave up the rest of their links, for a warning.
    virtual void LinksGivenUp(std::size_t /*pages*/) {}
};
