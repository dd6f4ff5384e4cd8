#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/net/AbortSignal.h"
#include "core/net/KnownRouters.h"
#include "core/net/RouterUrl.h"
#include "core/spider/ParsedPageList.h"
#include "core/spider/SpiderParams.h"
#include "core/spider/SpiderSettings.h"
#include "core/spider/SpiderSink.h"

// What the walk holds at once besides the parsed-page list, for tests and benchmarks.
struct CrawlFootprint {
    std::size_t textBytes = 0;  // text of the page being scanned for links
    std::size_t peakTextBytes = 0;
    std::size_t links = 0;  // links waiting to be followed, over all pages of the walk
    std::size_t peakLinks = 0;
    std::size_t asideBytes = 0;  // links kept aside for scripts, see CrawlState::asideLimit
    std::size_t peakAsideBytes = 0;
    std::size_t waitingBytes = 0;  // links waiting to be followed, see CrawlState::waitingLimit
    std::size_t peakWaitingBytes = 0;
};

class CInternetHandle;
class CRouterSession;

// How a run reached the router, for the front ends once it has ended.
struct RouterReached {
    bool bHttps = false;       // the pages were read over https, from the start or after a redirect
    std::uint16_t nPort = 0;   // from this port; 0 before any page was
    bool bRedirected = false;  // the router's plain port redirected there
    KeyRefusal refused;        // a key the run would not use: it ended there, nothing sent
    KeyRefusal trusted;        // a key not known before, trusted and remembered in this run
    std::string rememberFailure;  // why that key could not be remembered
};

// Where a run asked over https read its pages, as the list and the report say it: "https://A.B.C.D:
// PORT/", with " (redirected from http://A.B.C.D:PORT/)" when the plain port `asked` led there;
// the empty text when the pages were read over plain http, or none was read.
std::string HttpsRouterText(const RouterAccess& asked, const RouterReached& reached);

inline constexpr std::size_t kAsideLinkBytes = 64;
inline constexpr std::size_t kWaitingLinkBytes = 256;
// Some 250,000 links waiting at once: far more than any router's menus hold.
inline constexpr std::size_t kWaitingLimit = 64u << 20;

// What one call of the crawl works on and changes, kept apart from the run's settings.
struct CrawlState {
    CInternetHandle& internet;           // the run's, for every page
    std::string_view externalAddress{};  // what pages are searched for: given or detected
    CParsedPageList& parsed;
    ISpiderSink& sink;
    CAbortSignal cancel;  // the run's cancel flag, and a flag that abandons it from outside
    CrawlFootprint* footprint = nullptr;
    // What the links kept aside for scripts that deep discovery alone loaded may hold in all, each
    // counted as kAsideLinkBytes and its text: far more than the links router scripts write. The
    // links of a script past it are not kept.
    std::size_t asideLimit = 4u << 20;
    // What the links waiting to be followed may hold in all, each counted as kWaitingLinkBytes and
    // its own text. A page that meets the limit gives up the rest of its links.
    std::size_t waitingLimit = kWaitingLimit;
    RouterReached* reached = nullptr;  // told how the pages were reached, when given
    // The run's way into the router (cookies, Digest, its login form); null: the crawl keeps one
    // of its own, which tells the sink of its logins.
    CRouterSession* session = nullptr;
};

// Crawls the router from "/" and, depth-first, every new page linked from it that stays on the
// router. When the router's plain port redirects to https on its address, the run goes on there:
// every page after is asked over https on that port, and links name the router by that scheme and
// port. A key the Internet handle's trust refuses ends the crawl: nothing more is asked.
// WM_SPIDER_FOUND is posted for a page right after it is read (pre-order), WM_SPIDER_PARSED once
// every page followed from it is done (post-order). Each name in a link is looked up once per call,
// within the settings' lookupLimit, and the cancel flag ends the wait; once the lookups have taken
// lookupBudget in all, names not known yet are skipped, and their number goes to the sink's
// NamesSkipped at the end.
//
// The walk keeps its own stack, so a chain of any depth costs heap, not thread stack, and it holds
// no page text once the page's links are taken out of it: for each page on the way down only the
// links still to follow, each checked against the parsed-page list when its turn comes. A link
// that cannot lead anywhere new by then (already listed, met earlier on the same page, or waiting
// on a page further down, which will reach it first) is dropped as soon as it is read. Once the
// links waiting fill the state's waitingLimit, a page gives up the rest of its own, and the number
// of pages that did goes to the sink's LinksGivenUp at the end.
//
// With bDeep, each page yields after its links what deep discovery finds in it (see ScriptScan.h),
// in document order, into the same walk: the same list, order and cancel, each path requested at
// most once. A script loaded that way is searched for the address and for names; its links are
// followed only if a link leads to the script too; should they not fit within asideLimit, the
// script is then read again for them, the only case of a path requested twice. Names in a script
// are resolved against the page that loaded it, as a browser does. A name found only so with a part
// that suggests an action (NamesAnAction) is listed but never requested, unless a link leads
// there too; absolute URLs in what deep discovery finds are followed only to a router named by its
// address or by a name the run has looked up already for a link.
void CrawlPage(const SpiderSettings& settings, CrawlState& state);

// The path a link value leads to from the page at params' path, or the empty text when the link
// is not followed (empty, "#...", javascript:, another host, port or scheme, no path). Absolute
// links are http:// ones, and on an https router https:// ones too: on a plain one an "https:"
// value is a relative path, as any value of another scheme is.
std::string ResolveLinkPath(const SpiderParams& params, std::string value,
                            const HostLookup& lookup);

// Collapses "/../" and then "/./" to "/", each in one left-to-right pass.
std::string NormalizePath(const std::string& path);
