#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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
    // Called on the worker when a page request had an answer, with its HTTP status (a 401 body is
    // still read as the page); for diagnostics only.
    virtual void Answered(const std::string& /*path*/, long /*status*/) {}
    // Called on the worker at the end of a crawl whose time for name lookups ran out, with how
    // many host names in links were then skipped unresolved; for diagnostics only.
    virtual void NamesSkipped(std::size_t /*count*/) {}
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

// How the crawl came to list a page: through a link, or only through the deeper search of scripts,
// frames and refresh targets; and then whether it was left unrequested because its name suggests an
// action such as a restart.
enum class PageOrigin : std::uint8_t { Link, Script, ScriptNotRequested };

// What follows a listed path to say how it was reached: nothing for a link, " (script)" or
// " (script, not requested)".
std::string_view OriginMark(PageOrigin origin);

// Every path the crawl decided to fetch, in the order first met; also its set of visited paths.
//
// Paths are stored once each, by id, and each shares the start it has in common with a nearby
// path (the page it was found on, the link before it), so that the list stays small however long
// a deep router's paths grow. The crawl also keeps here the paths it has met but not listed yet.
class CParsedPageList {
public:
    using PathId = std::uint32_t;
    static constexpr PathId kNoPath = ~PathId{0};

    using PathVisitor = std::function<bool(const std::string& path, PageOrigin origin)>;

    void Clear();
    // True when `path` was there already; otherwise appends it and answers false.
    bool CheckParsedPage(const std::string& path);
    // Hands `visit` each listed path in order with how it was reached, one expanded at a time, so
    // that printing a list of any length costs one path's memory; stops early, answering false,
    // when `visit` does.
    bool ForEachPath(const PathVisitor& visit) const;
    // Every path at once; for tests and small lists.
    std::vector<std::string> Paths() const;
    std::size_t Size() const { return m_listed.size(); }

    // The id of `path`, kept but not listed when new; `near` and `nearToo` are paths likely to
    // share its start.
    PathId Intern(std::string_view path, PathId near = kNoPath, PathId nearToo = kNoPath);
    // The id of `path` when it is kept already, else kNoPath; keeps nothing.
    PathId Find(std::string_view path) const {
        return Find(path, std::hash<std::string_view>()(path));
    }
    // CheckParsedPage for a kept path, listed as reached through `origin` when new.
    bool CheckParsedPage(PathId id, PageOrigin origin = PageOrigin::Link);
    bool IsListed(PathId id) const { return m_entries[id].bListed; }
    PageOrigin Origin(PathId id) const { return m_entries[id].origin; }
    void SetOrigin(PathId id, PageOrigin origin) { m_entries[id].origin = origin; }
    std::string Text(PathId id) const;
    // Bytes held, for the memory checks of tests and benchmarks.
    std::size_t MemoryBytes() const;

private:
    // A path is the first `keep` characters of `base`'s text followed by its own tail.
    struct Entry {
        PathId base = kNoPath;
        std::uint32_t keep = 0;
        std::uint64_t tail = 0;  // offset in m_tails
        std::uint32_t tailLength = 0;
        bool bListed = false;
        PageOrigin origin = PageOrigin::Link;
        std::size_t hash = 0;
    };

    PathId Find(std::string_view path, std::size_t hash) const;
    bool Equals(PathId id, std::string_view path) const;
    void Index(PathId id);
    void Place(PathId id);

    std::vector<Entry> m_entries;
    std::string m_tails;
    std::vector<PathId> m_listed;  // in the order first met
    std::vector<PathId> m_slots;   // open-addressed by hash; kNoPath is a free slot
};
