#include "core/spider/Crawl.h"

#include <arpa/inet.h>

#include <cstring>
#include <optional>
#include <vector>

#include "core/net/HttpFetch.h"
#include "core/net/LinkExtraction.h"
#include "core/net/RouterUrl.h"
#include "core/text/Ascii.h"

namespace {

struct LinkTag {
    const char* tag;
    const char* attribute;
};
constexpr LinkTag kLinkTags[] = {{"a", "href"}, {"frame", "src"}, {"form", "action"}};
constexpr int kLinkTagCount = 3;

constexpr char kWhiteSpace[] = " \t\r\n\v\f";

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

// One page whose links are being followed.
struct Frame {
    SpiderParams params;
    std::string text;
    int tagIndex = 0;
    std::size_t offset = 0;  // the link cursor, as an offset into text
};

void ReportFetchFailure(const SpiderParams& params, CrawlContext& context) {
    const std::string why = LastFetchFailure(*params.pInternet);
    context.sink.FetchFailed(params.strPath, why.empty() ? "empty page" : why);
}

// Requests and reads one page; posts WM_SPIDER_FOUND when it holds the external address.
std::optional<std::string> FetchPage(const SpiderParams& params, CrawlContext& context) {
    if (context.cancel.load()) {
        return std::nullopt;
    }
    context.sink.Fetching(params.strPath);
    PageRequest request = OpenPage(*params.pInternet, params.GetUrl(), params.strHeaders);
    if (!request) {
        ReportFetchFailure(params, context);
        return std::nullopt;
    }
    std::optional<std::string> text = ReadWholeResponse(*request);
    request.reset();
    if (!text) {
        ReportFetchFailure(params, context);
    }
    if (text && text->find(params.strExternalAddress) != std::string::npos) {
        context.sink.Post(WM_SPIDER_FOUND, params.strPath);
    }
    return text;
}

// The next link of the frame's page that leads to a page not met before, or nullopt when the page
// has no more (or the run was cancelled).
std::optional<SpiderParams> NextNewPage(Frame& frame, CrawlContext& context) {
    std::string value;
    while (frame.tagIndex < kLinkTagCount) {
        const LinkTag& link = kLinkTags[frame.tagIndex];
        const char* cursor = frame.text.c_str() + frame.offset;
        if (!FindNextLink(cursor, link.tag, link.attribute, value)) {
            ++frame.tagIndex;
            frame.offset = 0;
            continue;
        }
        frame.offset = static_cast<std::size_t>(cursor - frame.text.c_str());
        if (context.cancel.load()) {
            frame.tagIndex = kLinkTagCount;
            return std::nullopt;
        }
        std::string path = ResolveLinkPath(frame.params, std::move(value), context.lookup);
        if (path.empty() || context.parsed.CheckParsedPage(path)) {
            continue;
        }
        SpiderParams child = frame.params;
        child.strPath = std::move(path);
        return child;
    }
    return std::nullopt;
}

}  // namespace

std::string NormalizePath(const std::string& path) {
    return ReplaceOnce(ReplaceOnce(path, "/../"), "/./");
}

std::string ResolveLinkPath(const SpiderParams& params, std::string value,
                            const HostLookup& lookup) {
    value.erase(value.find_last_not_of(kWhiteSpace) + 1);
    value.erase(0, value.find_first_not_of(kWhiteSpace));
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
    std::optional<std::string> text = FetchPage(params, context);
    if (!text) {
        return;
    }
    std::vector<Frame> stack;
    stack.push_back({params, std::move(*text)});
    while (!stack.empty()) {
        std::optional<SpiderParams> child = NextNewPage(stack.back(), context);
        if (child) {
            if (std::optional<std::string> page = FetchPage(*child, context)) {
                stack.push_back({std::move(*child), std::move(*page)});
            }
            continue;
        }
        stack.pop_back();
        context.sink.Post(WM_SPIDER_PARSED, {});
    }
}
