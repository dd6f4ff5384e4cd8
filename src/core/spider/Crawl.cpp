#include "core/spider/Crawl.h"

#include <arpa/inet.h>

#include <algorithm>
#include <deque>
#include <iterator>
#include <list>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/login/RouterSession.h"
#include "core/net/HostNames.h"
#include "core/net/HttpFetch.h"
#include "core/net/InetAddr.h"
#include "core/net/LinkExtraction.h"
#include "core/net/RouterUrl.h"
#include "core/net/ScriptScan.h"
#include "core/text/Ascii.h"

namespace {

struct LinkTag {
    const char* tag;
    const char* attribute;
};
constexpr LinkTag kLinkTags[] = {{"a", "href"}, {"frame", "src"}, {"form", "action"}};

// Whether a link value names a host: http:// ones always, https:// ones on an https router.
bool IsAbsoluteLink(std::string_view value, const RouterAccess& router) {
    return StartsWithNoCase(value, "http://") ||
           (router.bHttps && StartsWithNoCase(value, "https://"));
}

std::string ReplaceOnce(const std::string& text, std::string_view what) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, what.size(), what) == 0) {
            out += '/';
            at += what.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

using PathId = CParsedPageList::PathId;
constexpr PathId kNoPath = CParsedPageList::kNoPath;

// How a link still to follow was met; one met several ways keeps every way.
enum LinkWay : std::uint8_t {
    kByLink = 1,    // a link the crawl takes; without it, only deep discovery found it
    kAsScript = 2,  // loaded by a script tag
    kAction = 4,    // its name suggests an action, so deep discovery alone never requests it
    kReread = 8,    // a script read already whose links were not kept: read again for them
};

// A link still to follow: a path kept in the parsed-page list, or, when its host name has not been
// looked up yet, the link text itself, resolved only when its turn comes.
struct PendingLink {
    PathId path = kNoPath;
    std::string text;
    std::uint8_t ways = kByLink;
};
using LinkList = std::list<PendingLink>;

// A link of a script that deep discovery alone loaded, kept aside: the path it leads to, or, when
// its host name has not been looked up yet, the link text. Kept out of the parsed-page list, which
// would otherwise hold on to every path of a script whose links are let go.
struct AsideLink {
    std::string text;
    bool bPath = true;
};
static_assert(sizeof(AsideLink) <= kAsideLinkBytes);
using AsideList = std::deque<AsideLink>;  // no bytes per link beyond the link's own

std::ptrdiff_t AsideBytes(const AsideLink& link) {
    return static_cast<std::ptrdiff_t>(kAsideLinkBytes + link.text.size());
}

// One page whose links are being followed.
struct Frame {
    PathId page;
    PathId base;  // the page that names in it are resolved against: a script's is its loader's
    LinkList links;
};

// A page whose turn has come, and how it was met.
struct Child {
    PathId page;
    std::uint8_t ways;
};

void ReportFetchFailure(const std::string& path, CrawlState& state) {
    const std::string why = LastFetchFailure(state.internet);
    state.sink.FetchFailed(path, why.empty() ? "empty page" : why);
}

class CWalk {
public:
    CWalk(const SpiderSettings& settings, CrawlState& state)
        : m_settings(settings),
          m_state(state),
          m_router(settings.router),
          m_step{.router = m_router, .strPath = "/"},
          m_ownSession(state.session != nullptr
                           ? std::nullopt
                           : std::make_optional<CRouterSession>(settings.router, &state.sink)),
          m_session(state.session != nullptr ? *state.session : *m_ownSession),
          m_names(settings.lookup, settings.lookupLimit, settings.lookupBudget, state.cancel),
          m_lookup([this](const std::string& name, std::uint32_t& address) {
              return m_names.Lookup(name, address);
          }),
          m_isRouter([this](const std::string& url) { return IsRouter(url); }) {}

    void Run();

private:
    std::optional<std::string> FetchPage(PathId page, bool bReread = false);
    void NoteWhereAnswered();
    void TakeLinks(const std::string& text, bool bPage, bool bScript);
    void TakeDeepLinks(const std::string& text, bool bScript);
    void Keep(PendingLink link);
    bool KeepAside(AsideList& aside, AsideLink link);
    std::optional<Child> NextNewPage(Frame& frame);
    bool Take(PathId id, std::uint8_t& ways);
    bool FollowSetAside(PathId script);
    void Enter(PathId page, std::uint8_t ways, const std::string& text);
    bool IsRouter(const std::string& url);
    bool HasRoom(std::size_t textBytes);
    void CountGivenUp();
    void Count(std::ptrdiff_t links, std::ptrdiff_t textBytes, std::ptrdiff_t asideBytes = 0);
    void CountWaiting(const PendingLink& link, std::ptrdiff_t sign);

    const SpiderSettings& m_settings;
    CrawlState& m_state;
    RouterAccess m_router;  // the settings', moved to https when the plain port redirects there
    bool m_bKeyRefused = false;  // the user must decide on the key before anything more is asked
    SpiderParams m_step;         // the page in hand
    std::optional<CRouterSession> m_ownSession;
    CRouterSession& m_session;
    CHostNames m_names;
    HostLookup m_lookup;
    RouterCheck m_isRouter;
    std::deque<Frame> m_stack;  // grows without moving the pages below
    // Where each kept path waits: its page's depth and its place in that page's list.
    std::unordered_map<PathId, std::pair<std::size_t, LinkList::iterator>> m_waiting;
    // The links of each script that deep discovery alone loaded, until a link leads there too,
    // and the scripts whose links did not fit.
    std::unordered_map<PathId, AsideList> m_setAside;
    std::unordered_set<PathId> m_unkept;
    std::size_t m_asideBytes = 0;
    std::size_t m_waitingBytes = 0;
    bool m_bGivingUp = false;  // the page in hand met the waiting links' bound
    std::size_t m_nGivenUp = 0;
};

void CWalk::Count(std::ptrdiff_t links, std::ptrdiff_t textBytes, std::ptrdiff_t asideBytes) {
    m_asideBytes = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(m_asideBytes) + asideBytes);
    if (CrawlFootprint* footprint = m_state.footprint) {
        footprint->asideBytes = m_asideBytes;
        footprint->peakAsideBytes = std::max(footprint->peakAsideBytes, m_asideBytes);
        footprint->links =
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(footprint->links) + links);
        footprint->textBytes =
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(footprint->textBytes) + textBytes);
        footprint->peakLinks = std::max(footprint->peakLinks, footprint->links);
        footprint->peakTextBytes = std::max(footprint->peakTextBytes, footprint->textBytes);
    }
}

// A link waiting to be followed holds its place in its page's list and in m_waiting, and its
// path's entry in the parsed-page list, all counted as kWaitingLinkBytes, and its own text.
void CWalk::CountWaiting(const PendingLink& link, std::ptrdiff_t sign) {
    const std::size_t bytes = kWaitingLinkBytes + link.text.size() +
                              (link.path == kNoPath ? 0 : m_state.parsed.OwnBytes(link.path));
    m_waitingBytes = sign > 0 ? m_waitingBytes + bytes : m_waitingBytes - bytes;
    Count(sign, 0);
    if (CrawlFootprint* footprint = m_state.footprint) {
        footprint->waitingBytes = m_waitingBytes;
        footprint->peakWaitingBytes = std::max(footprint->peakWaitingBytes, m_waitingBytes);
    }
}

// Whether one more link whose path or text is `textBytes` long may wait to be followed. Once one
// may not, the page in hand gives up the rest of its links.
bool CWalk::HasRoom(std::size_t textBytes) {
    if (m_waitingBytes + kWaitingLinkBytes + textBytes > m_state.waitingLimit) {
        m_bGivingUp = true;
    }
    return !m_bGivingUp;
}

void CWalk::CountGivenUp() {
    if (std::exchange(m_bGivingUp, false)) {
        ++m_nGivenUp;
    }
}

// Requests and reads one page; posts WM_SPIDER_FOUND when it holds the external address, unless it
// was read before.
std::optional<std::string> CWalk::FetchPage(PathId page, bool bReread) {
    if (m_state.cancel.IsSet() || m_bKeyRefused) {
        return std::nullopt;
    }
    if (page != kNoPath) {
        m_step.strPath = m_state.parsed.Text(page);
    }
    m_state.sink.Fetching(m_step.strPath);
    RouterAnswer answer = m_session.Get(m_state.internet, m_step.GetUrl());
    if (!answer.request) {
        const FetchError error = LastFetchError(m_state.internet);
        m_bKeyRefused = error == FetchError::Untrusted || error == FetchError::KeyChanged;
        ReportFetchFailure(m_step.strPath, m_state);
        return std::nullopt;
    }
    NoteWhereAnswered();
    m_state.sink.Answered(m_step.strPath, answer.status);
    std::optional<std::string> text = ReadWholeResponse(*answer.request);
    answer.request.reset();
    if (!text) {
        ReportFetchFailure(m_step.strPath, m_state);
    }
    if (text && answer.bAfterLogin) {
        m_state.parsed.SetAfterLogin(page != kNoPath ? page
                                                     : m_state.parsed.Intern(m_step.strPath));
    }
    if (text && m_settings.pageText) {
        m_settings.pageText(*text);
    }
    if (text && !bReread && text->find(m_state.externalAddress) != std::string::npos) {
        m_state.sink.Post(WM_SPIDER_FOUND, m_step.strPath);
    }
    return text;
}

// An answer that came from https on the router's address, where the run asked its plain port, moves
// the run there.
void CWalk::NoteWhereAnswered() {
    // The session moves on any hop to https of the router's; the run follows it there.
    bool bMoved = m_router.MoveToHttps(LastUrl(m_state.internet));
    if (const RouterAccess& session = m_session.Router(); session.bHttps && !m_router.bHttps) {
        m_router.bHttps = true;
        m_router.nPort = session.nPort;
        bMoved = true;
    }
    if (m_state.reached != nullptr) {
        m_state.reached->bRedirected = m_state.reached->bRedirected || bMoved;
        m_state.reached->bHttps = m_router.bHttps;
        m_state.reached->nPort = m_router.nPort;
    }
}

// Takes the links out of the text of the page on top of the stack, in the order they will be
// followed, keeping only those that may still lead to a new page, then, in a deep crawl, what deep
// discovery finds. The links of a script that only deep discovery loaded (not `bPage`) are kept
// aside: they are followed only once a link leads to the script too, as they would have been had
// the script been read as a page. Those that lead to a page listed through a link already would
// change nothing then, and are not kept.
void CWalk::TakeLinks(const std::string& text, bool bPage, bool bScript) {
    Count(0, static_cast<std::ptrdiff_t>(text.size()));
    std::unordered_set<std::string> waitingOnNames;
    AsideList aside;
    bool bKeepAside = !bPage;
    std::unordered_set<std::string_view> setAside;  // in `aside`, whose links never move
    PathId previous = kNoPath;
    std::string value;
    for (const LinkTag& link : kLinkTags) {
        const char* cursor = text.c_str();
        while ((bPage || bKeepAside) && !m_bGivingUp && !m_state.cancel.IsSet() &&
               FindNextLink(cursor, link.tag, link.attribute, value)) {
            value = std::string(Trimmed(value));
            std::string host;
            std::uint16_t port = 0;
            if (IsAbsoluteLink(value, m_router) && CrackUrlHost(value, host, port) &&
                ClassicInetAddr(host) == kAddressNone && !m_names.IsKnown(host)) {
                if (!waitingOnNames.insert(value).second) {
                    continue;
                }
                if (bPage) {
                    if (HasRoom(value.size())) {
                        Keep({kNoPath, value});
                    }
                } else {
                    bKeepAside = KeepAside(aside, {value, false});
                }
                continue;
            }
            // Resolving costs no lookup here: the host is an address or its answer is kept.
            const std::string path = ResolveLinkPath(m_step, value, m_lookup);
            if (path.empty()) {
                continue;
            }
            if (!bPage) {
                const PathId known = m_state.parsed.Find(path);
                const bool bLinked = known != kNoPath && m_state.parsed.IsListed(known) &&
                                     m_state.parsed.Origin(known) == PageOrigin::Link;
                if (!bLinked && !setAside.contains(path)) {
                    bKeepAside = KeepAside(aside, {path});
                    if (bKeepAside) {
                        setAside.insert(aside.back().text);
                    }
                }
                continue;
            }
            if (!HasRoom(path.size())) {
                continue;
            }
            const PathId id = m_state.parsed.Intern(path, m_stack.back().page, previous);
            previous = id;
            if (!m_state.parsed.IsListed(id)) {
                Keep({id, {}});
            } else if (m_settings.bDeep) {
                const PageOrigin origin = m_state.parsed.Origin(id);
                if (origin == PageOrigin::Script) {
                    m_state.parsed.SetOrigin(id, PageOrigin::Link);
                    if (FollowSetAside(id)) {
                        Keep({id, {}, kByLink | kReread});
                    }
                } else if (origin == PageOrigin::ScriptNotRequested) {
                    Keep({id, {}});  // a link leads there: followed as any link is
                }
            }
        }
    }
    if (!bKeepAside && !bPage) {
        std::ptrdiff_t bytes = 0;
        for (const AsideLink& left : aside) {
            bytes += AsideBytes(left);
        }
        setAside.clear();
        aside.clear();
        Count(0, 0, -bytes);
        m_unkept.insert(m_stack.back().page);
    } else if (!aside.empty()) {
        m_setAside.emplace(m_stack.back().page, std::move(aside));
    }
    if (m_settings.bDeep && !m_bGivingUp) {
        TakeDeepLinks(text, bScript);
    }
    Count(0, -static_cast<std::ptrdiff_t>(text.size()));
}

void CWalk::TakeDeepLinks(const std::string& text, bool bScript) {
    const Frame& frame = m_stack.back();
    const std::string base =
        frame.base == frame.page ? m_step.strPath : m_state.parsed.Text(frame.base);
    PathId previous = kNoPath;
    const DeepLinkVisitor take = [&](DeepLinkKind kind, std::string_view reference) {
        if (m_bGivingUp) {
            return;
        }
        const std::string path = ResolveBrowserPath(base, reference, m_isRouter);
        if (path.empty() || !HasRoom(path.size())) {
            return;
        }
        const PathId id = m_state.parsed.Intern(path, frame.page, previous);
        previous = id;
        if (m_state.parsed.IsListed(id)) {
            return;
        }
        std::uint8_t ways = kind == DeepLinkKind::Script ? kAsScript : 0;
        if (!m_waiting.contains(id) && NamesAnAction(path)) {
            ways |= kAction;  // one waiting has it already
        }
        Keep({id, {}, ways});
    };
    if (bScript) {
        FindScriptNames(text, [&](std::string_view name) { take(DeepLinkKind::Name, name); });
    } else {
        FindDeepLinks(text, take);
    }
}

// Whether an absolute URL that deep discovery found names the router. A guess never waits on a
// name lookup nor spends the run's time for them: only a name looked up for a link already counts.
bool CWalk::IsRouter(const std::string& url) {
    std::string host;
    std::uint16_t port = 0;
    std::uint32_t address = 0;
    return StartsWithNoCase(url, m_router.bHttps ? "https://" : "http://") &&
           CrackUrlHost(url, host, port) &&
           (ClassicInetAddr(host) != kAddressNone || m_names.IsKnown(host)) &&
           ResolveHost(host, &address, m_lookup) && ntohl(address) == m_router.nAddress &&
           port == m_router.nPort;
}

// Keeps one more link of a script that deep discovery alone loaded, and answers true, while the
// links kept so stay within the limit.
bool CWalk::KeepAside(AsideList& aside, AsideLink link) {
    const std::ptrdiff_t bytes = AsideBytes(link);
    if (m_asideBytes + static_cast<std::size_t>(bytes) > m_state.asideLimit) {
        return false;
    }
    aside.push_back(std::move(link));
    Count(0, 0, bytes);
    return true;
}

// A link leads to a script that deep discovery alone had loaded: its links are followed from here.
// Answers true when they were not kept, so that the script is to be read again for them.
bool CWalk::FollowSetAside(PathId script) {
    if (m_unkept.erase(script) > 0) {
        return true;
    }
    const auto found = m_setAside.find(script);
    if (found == m_setAside.end()) {
        return false;
    }
    AsideList links = std::move(found->second);
    m_setAside.erase(found);
    PathId previous = kNoPath;
    for (AsideLink& link : links) {
        Count(0, 0, -AsideBytes(link));
        if (!HasRoom(link.text.size())) {
            continue;
        }
        if (link.bPath) {
            previous = m_state.parsed.Intern(link.text, script, previous);
            Keep({previous, {}});
        } else {
            Keep({kNoPath, std::move(link.text)});
        }
    }
    return false;
}

void CWalk::Keep(PendingLink link) {
    const std::size_t depth = m_stack.size() - 1;
    LinkList& links = m_stack.back().links;
    if (link.path == kNoPath) {
        CountWaiting(link, 1);
        links.push_back(std::move(link));
        return;
    }
    const auto [waiting, bNew] = m_waiting.try_emplace(link.path);
    if (bNew) {
        CountWaiting(link, 1);
        links.push_back(std::move(link));
        waiting->second = {depth, std::prev(links.end())};
        return;
    }
    auto& [at, place] = waiting->second;
    place->ways |= link.ways;
    if (at != depth) {
        // Followed from here, the page is met before the page above would reach it.
        links.splice(links.end(), m_stack[at].links, place);
        at = depth;
    }
}

// The next link of the frame's page that leads to a page to request now, or nullopt when the page
// has no more (or the run was cancelled).
std::optional<Child> CWalk::NextNewPage(Frame& frame) {
    while (!frame.links.empty()) {
        if (m_state.cancel.IsSet()) {
            return std::nullopt;
        }
        PendingLink link = std::move(frame.links.front());
        frame.links.pop_front();
        CountWaiting(link, -1);
        PathId id = link.path;
        if (id != kNoPath) {
            m_waiting.erase(id);
        } else {
            const std::string path = ResolveLinkPath(m_step, std::move(link.text), m_lookup);
            if (path.empty()) {
                continue;
            }
            id = m_state.parsed.Intern(path, frame.page);
        }
        const bool bTaken = Take(id, link.ways);
        CountGivenUp();  // a script's links kept aside, which did not fit
        if (bTaken) {
            return Child{id, link.ways};
        }
    }
    return std::nullopt;
}

// Lists a page whose turn has come, unless it is listed already, and answers whether to request
// it. A name only deep discovery found that suggests an action is listed and never requested; a
// link leading there later is followed still, as without deep discovery; so is a script whose
// links were not kept aside, read again (kReread added to `ways`).
bool CWalk::Take(PathId id, std::uint8_t& ways) {
    CParsedPageList& parsed = m_state.parsed;
    const bool bByLink = (ways & kByLink) != 0;
    if (!parsed.IsListed(id)) {
        if (!bByLink && (ways & kAction) != 0) {
            parsed.CheckParsedPage(id, PageOrigin::ScriptNotRequested);
            return false;
        }
        parsed.CheckParsedPage(id, bByLink ? PageOrigin::Link : PageOrigin::Script);
        return true;
    }
    if (bByLink && m_settings.bDeep) {
        const PageOrigin origin = parsed.Origin(id);
        parsed.SetOrigin(id, PageOrigin::Link);
        if (origin == PageOrigin::Script && FollowSetAside(id)) {
            ways |= kReread;
        }
        return origin == PageOrigin::ScriptNotRequested || (ways & kReread) != 0;
    }
    return false;
}

// Puts a page just read on the stack and takes its links. A script that deep discovery alone
// loaded is searched for names only, and names in any script resolve against its loader's folder.
void CWalk::Enter(PathId page, std::uint8_t ways, const std::string& text) {
    bool bScript = false;
    PathId base = page;
    if (m_settings.bDeep && !m_stack.empty() &&
        ((ways & kAsScript) != 0 || IsScriptPath(m_step.strPath))) {
        bScript = true;
        base = m_stack.back().base;
    }
    m_stack.push_back({page, base, {}});
    TakeLinks(text, !bScript || (ways & kByLink) != 0, bScript);
    CountGivenUp();
}

void CWalk::Run() {
    std::optional<std::string> text = FetchPage(kNoPath);
    if (!text) {
        return;
    }
    Enter(m_state.parsed.Intern(m_step.strPath), kByLink, *text);
    text.reset();
    while (!m_stack.empty()) {
        if (const std::optional<Child> child = NextNewPage(m_stack.back())) {
            if (std::optional<std::string> page =
                    FetchPage(child->page, (child->ways & kReread) != 0)) {
                Enter(child->page, child->ways, *page);
            }
            continue;
        }
        for (const PendingLink& left : m_stack.back().links) {
            CountWaiting(left, -1);
            m_waiting.erase(left.path);
        }
        m_stack.pop_back();
        m_state.sink.Post(WM_SPIDER_PARSED, {});
    }
    if (m_names.Skipped() > 0) {
        m_state.sink.NamesSkipped(m_names.Skipped());
    }
    if (m_nGivenUp > 0) {
        m_state.sink.LinksGivenUp(m_nGivenUp);
    }
}

}  // namespace

std::string NormalizePath(const std::string& path) {
    return ReplaceOnce(ReplaceOnce(path, "/../"), "/./");
}

std::string HttpsRouterText(const RouterAccess& asked, const RouterReached& reached) {
    std::string text;
    if (!reached.bHttps ||
        !ComposeRouterUrl(asked.nAddress, reached.nPort, "/", text, /*bHttps=*/true)) {
        return {};
    }
    return reached.bRedirected ? text + " (redirected from " + asked.Url("/") + ")" : text;
}

std::string ResolveLinkPath(const SpiderParams& params, std::string value,
                            const HostLookup& lookup) {
    value = std::string(Trimmed(value));
    if (value.empty() || value == "#" || StartsWithNoCase(value, "javascript:")) {
        return {};
    }
    std::string path;
    if (IsAbsoluteLink(value, params.router)) {
        std::string host;
        std::uint16_t port = 0;
        std::uint32_t address = 0;
        if (!StartsWithNoCase(value, params.router.bHttps ? "https://" : "http://") ||
            !CrackUrlHost(value, host, port) || !ResolveHost(host, &address, lookup) ||
            ntohl(address) != params.router.nAddress || port != params.router.nPort) {
            return {};
        }
        // After "http://" or "https://".
        const std::size_t start = value.find("://") + 3;
        const std::size_t slash = value.size() > start ? value.find('/', start) : std::string::npos;
        if (slash == std::string::npos) {
            return {};
        }
        path = value.substr(slash);
    } else if (value.front() == '/') {
        path = std::move(value);
    } else if (value.front() == '#') {
        return {};
    } else {
        path = params.strPath.substr(0, params.strPath.rfind('/') + 1) + value;
    }
    return NormalizePath(path);
}

void CrawlPage(const SpiderSettings& settings, CrawlState& state) {
    CWalk(settings, state).Run();
}
