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
#include <vector>

#include "core/net/HostNames.h"
#include "core/net/HttpFetch.h"
#include "core/net/InetAddr.h"
#include "core/net/LinkExtraction.h"
#include "core/net/RouterUrl.h"
#include "core/text/Ascii.h"

namespace {

struct LinkTag {
    const char* tag;
    const char* attribute;
};
constexpr LinkTag kLinkTags[] = {{"a", "href"}, {"frame", "src"}, {"form", "action"}};

constexpr char kWhiteSpace[] = " \t\r\n\v\f";

std::string Trimmed(std::string value) {
    value.erase(value.find_last_not_of(kWhiteSpace) + 1);
    value.erase(0, value.find_first_not_of(kWhiteSpace));
    return value;
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

// A link still to follow: a path kept in the parsed-page list, or, when its host name has not been
// looked up yet, the link text itself, resolved only when its turn comes.
struct PendingLink {
    PathId path = kNoPath;
    std::string text;
};
using LinkList = std::list<PendingLink>;

// One page whose links are being followed.
struct Frame {
    PathId page;
    LinkList links;
};

void ReportFetchFailure(const SpiderParams& params, CrawlContext& context) {
    const std::string why = LastFetchFailure(*params.pInternet);
    context.sink.FetchFailed(params.strPath, why.empty() ? "empty page" : why);
}

class CWalk {
public:
    CWalk(const SpiderParams& params, CrawlContext& context)
        : m_step(params),
          m_context(context),
          m_names(context.lookup, context.lookupLimit, context.lookupBudget,
                  CAbortSignal(&context.cancel)),
          m_lookup([this](const std::string& name, std::uint32_t& address) {
              return m_names.Lookup(name, address);
          }) {}

    void Run();

private:
    std::optional<std::string> FetchPage(PathId page);
    void TakeLinks(const std::string& text);
    void Keep(PendingLink link);
    std::optional<PathId> NextNewPage(Frame& frame);
    void Count(std::ptrdiff_t links, std::ptrdiff_t textBytes);

    SpiderParams m_step;  // the params of the page in hand; only the path changes
    CrawlContext& m_context;
    CHostNames m_names;
    HostLookup m_lookup;
    std::deque<Frame> m_stack;  // grows without moving the pages below
    // Where each kept path waits: its page's depth and its place in that page's list.
    std::unordered_map<PathId, std::pair<std::size_t, LinkList::iterator>> m_waiting;
};

void CWalk::Count(std::ptrdiff_t links, std::ptrdiff_t textBytes) {
    if (CrawlFootprint* footprint = m_context.footprint) {
        footprint->links =
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(footprint->links) + links);
        footprint->textBytes =
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(footprint->textBytes) + textBytes);
        footprint->peakLinks = std::max(footprint->peakLinks, footprint->links);
        footprint->peakTextBytes = std::max(footprint->peakTextBytes, footprint->textBytes);
    }
}

// Requests and reads one page; posts WM_SPIDER_FOUND when it holds the external address.
std::optional<std::string> CWalk::FetchPage(PathId page) {
    if (m_context.cancel.load()) {
        return std::nullopt;
    }
    if (page != kNoPath) {
        m_step.strPath = m_context.parsed.Text(page);
    }
    m_context.sink.Fetching(m_step.strPath);
    PageRequest request = OpenPage(*m_step.pInternet, m_step.GetUrl(), m_step.strHeaders);
    if (!request) {
        ReportFetchFailure(m_step, m_context);
        return std::nullopt;
    }
    m_context.sink.Answered(m_step.strPath, LastResponseStatus(*m_step.pInternet));
    std::optional<std::string> text = ReadWholeResponse(*request);
    request.reset();
    if (!text) {
        ReportFetchFailure(m_step, m_context);
    }
    if (text && m_context.pageText) {
        m_context.pageText(*text);
    }
    if (text && text->find(m_step.strExternalAddress) != std::string::npos) {
        m_context.sink.Post(WM_SPIDER_FOUND, m_step.strPath);
    }
    return text;
}

// Takes the links out of the text of the page on top of the stack, in the order they will be
// followed, keeping only those that may still lead to a new page.
void CWalk::TakeLinks(const std::string& text) {
    Count(0, static_cast<std::ptrdiff_t>(text.size()));
    std::unordered_set<std::string> waitingOnNames;
    PathId previous = kNoPath;
    std::string value;
    for (const LinkTag& link : kLinkTags) {
        const char* cursor = text.c_str();
        while (FindNextLink(cursor, link.tag, link.attribute, value)) {
            value = Trimmed(std::move(value));
            std::string host;
            std::uint16_t port = 0;
            if (StartsWithNoCase(value, "http://") && CrackUrlHost(value, host, port) &&
                ClassicInetAddr(host) == kAddressNone && !m_names.IsKnown(host)) {
                if (waitingOnNames.insert(value).second) {
                    Keep({kNoPath, value});
                }
                continue;
            }
            // Resolving costs no lookup here: the host is an address or its answer is kept.
            const std::string path = ResolveLinkPath(m_step, value, m_lookup);
            if (path.empty()) {
                continue;
            }
            const PathId id = m_context.parsed.Intern(path, m_stack.back().page, previous);
            previous = id;
            if (!m_context.parsed.IsListed(id)) {
                Keep({id, {}});
            }
        }
    }
    Count(0, -static_cast<std::ptrdiff_t>(text.size()));
}

void CWalk::Keep(PendingLink link) {
    const std::size_t depth = m_stack.size() - 1;
    LinkList& links = m_stack.back().links;
    if (link.path == kNoPath) {
        links.push_back(std::move(link));
        Count(1, 0);
        return;
    }
    const auto [waiting, bNew] = m_waiting.try_emplace(link.path);
    if (bNew) {
        links.push_back(std::move(link));
        waiting->second = {depth, std::prev(links.end())};
        Count(1, 0);
    } else if (waiting->second.first != depth) {
        // Followed from here, the page is met before the page above would reach it.
        auto& [at, place] = waiting->second;
        links.splice(links.end(), m_stack[at].links, place);
        at = depth;
    }
}

// The next link of the frame's page that leads to a page not met before, or nullopt when the page
// has no more (or the run was cancelled).
std::optional<PathId> CWalk::NextNewPage(Frame& frame) {
    while (!frame.links.empty()) {
        if (m_context.cancel.load()) {
            return std::nullopt;
        }
        PendingLink link = std::move(frame.links.front());
        frame.links.pop_front();
        Count(-1, 0);
        PathId id = link.path;
        if (id != kNoPath) {
            m_waiting.erase(id);
        } else {
            const std::string path = ResolveLinkPath(m_step, std::move(link.text), m_lookup);
            if (path.empty()) {
                continue;
            }
            id = m_context.parsed.Intern(path, frame.page);
        }
        if (!m_context.parsed.CheckParsedPage(id)) {
            return id;
        }
    }
    return std::nullopt;
}

void CWalk::Run() {
    std::optional<std::string> text = FetchPage(kNoPath);
    if (!text) {
        return;
    }
    m_stack.push_back({m_context.parsed.Intern(m_step.strPath), {}});
    TakeLinks(*text);
    text.reset();
    while (!m_stack.empty()) {
        if (const std::optional<PathId> child = NextNewPage(m_stack.back())) {
            if (std::optional<std::string> page = FetchPage(*child)) {
                m_stack.push_back({*child, {}});
                TakeLinks(*page);
            }
            continue;
        }
        Count(-static_cast<std::ptrdiff_t>(m_stack.back().links.size()), 0);
        for (const PendingLink& left : m_stack.back().links) {
            m_waiting.erase(left.path);
        }
        m_stack.pop_back();
        m_context.sink.Post(WM_SPIDER_PARSED, {});
    }
    if (m_names.Skipped() > 0) {
        m_context.sink.NamesSkipped(m_names.Skipped());
    }
}

}  // namespace

std::string NormalizePath(const std::string& path) {
    return ReplaceOnce(ReplaceOnce(path, "/../"), "/./");
}

std::string ResolveLinkPath(const SpiderParams& params, std::string value,
                            const HostLookup& lookup) {
    value = Trimmed(std::move(value));
    if (value.empty() || value == "#" || StartsWithNoCase(value, "javascript:")) {
        return {};
    }
    std::string path;
    if (StartsWithNoCase(value, "http://")) {
        std::string host;
        std::uint16_t port = 0;
        std::uint32_t address = 0;
        if (!CrackUrlHost(value, host, port) || !ResolveHost(host, &address, lookup) ||
            ntohl(address) != params.nRouterAddress || port != params.nRouterPort) {
            return {};
        }
        const std::size_t slash = value.size() > 7 ? value.find('/', 7) : std::string::npos;
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

void CrawlPage(const SpiderParams& params, CrawlContext& context) {
    CWalk(params, context).Run();
}
