#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class CInternetHandle;

// What the front ends, the worker and the crawl share during one spider run.

// The worker's reports, posted to the user interface in this order of events.
enum SpiderMessage : int {
    WM_SPIDER_PARSED = 0x8001,   // one more page read
    WM_SPIDER_FOUND = 0x8002,    // text: path of a page holding the external address
    WM_SPIDER_ADDRESS = 0x8003,  // text: the detected external address
    WM_SPIDER_DONE = 0x8004,     // the run has ended; always last
};

// Receives the worker's messages. Texts travel by value, so none can die before it is handled.
class ISpiderSink {
public:
    virtual ~ISpiderSink() = default;
    virtual void Post(SpiderMessage message, std::string text) = 0;
    // Called on the worker just before a page is requested; for progress displays only.
    virtual void Fetching(const std::string& /*path*/) {}
    // Called on the worker when a page gave no text, with the reason (see LastFetchFailure); for
    // diagnostics only.
    virtual void FetchFailed(const std::string& /*path*/, const std::string& /*why*/) {}
};

// The parameters of one crawl step; the crawl copies it for every page it follows.
struct SpiderParams {
    std::string strExternalAddress;
    std::string strHeaders;
    std::string strPath;
    std::uint32_t nRouterAddress = 0;  // host order
    std::uint16_t nRouterPort = 0;
    CInternetHandle* pInternet = nullptr;  // owned by the worker, never by a copy

    // The request URL of this step, or the empty text when it cannot be composed.
    std::string GetUrl() const;
};

// Every path the crawl decided to fetch, in the order first met; also its set of visited paths.
class CParsedPageList {
public:
    void Clear();
    // True when `path` was there already; otherwise appends it and answers false.
    bool CheckParsedPage(const std::string& path);
    std::vector<std::string> Paths() const { return {m_paths.begin(), m_paths.end()}; }
    std::size_t Size() const { return m_paths.size(); }

private:
    std::deque<std::string> m_paths;  // a deque keeps the index's views valid as it grows
    std::unordered_set<std::string_view> m_index;
};
