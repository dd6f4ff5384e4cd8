// The deeper search's scanners over arbitrary text, and what the crawl makes of what they find.
//
// Input: byte 0 picks the scanner (even: FindScriptNames over script text; odd: FindDeepLinks over
// a page); the remaining bytes are the text, NULs included.
//
// Invariants: every text found stands in the scanned text, in order of position for page names of
// one script; every name has a page-like extension, holds only bytes a name may hold and is at
// most kMaxNameLength long; every name without a scheme resolves to a router path, and whatever
// resolves is a path on the router: "/" first, no fragment, no "." or ".." segment, and for a name
// no query; a scan hands out at most one text per byte.

#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/net/RouterUrl.h"
#include "core/net/ScriptScan.h"

namespace {

bool IsNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-_./~%:+@").find(c) != std::string_view::npos;
}

bool StandsIn(std::string_view text, std::string_view piece) {
    return piece.data() >= text.data() && piece.data() + piece.size() <= text.data() + text.size();
}

void CheckRouterPath(const std::string& path, bool bName) {
    FUZZ_CHECK(!path.empty() && path.front() == '/');
    FUZZ_CHECK(path.find('#') == std::string::npos);
    FUZZ_CHECK(!bName || path.find('?') == std::string::npos);
    const std::string_view part = std::string_view(path).substr(0, path.find('?'));
    for (std::size_t at = 0; at != std::string_view::npos;) {
        const std::size_t next = part.find('/', at + 1);
        const std::string_view segment = part.substr(
            at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1);
        FUZZ_CHECK(segment != "." && segment != "..");
        at = next;
    }
}

const RouterCheck kIsRouter = [](const std::string& url) {
    std::string host;
    std::uint16_t port = 0;
    return CrackUrlHost(url, host, port) && host == "127.0.0.1" && port == 80;
};

void CheckName(std::string_view text, std::string_view name) {
    FUZZ_CHECK(StandsIn(text, name));
    FUZZ_CHECK(!name.empty() && name.size() <= kMaxNameLength);
    FUZZ_CHECK(IsPageName(name));
    for (const char c : name) {
        FUZZ_CHECK(IsNameByte(c));
    }
    const std::string path = ResolveBrowserPath("/dir/page.htm", name, kIsRouter);
    const bool bMayLeave = name.find(':') != std::string_view::npos || name.starts_with("//");
    FUZZ_CHECK(bMayLeave || !path.empty());
    if (!path.empty()) {
        CheckRouterPath(path, true);
        NamesAnAction(path);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(AsText(data + 1, size - 1));
    std::size_t found = 0;
    if ((data[0] & 1) == 0) {
        const char* last = text.data();
        FindScriptNames(text, [&](std::string_view name) {
            FUZZ_CHECK(++found <= text.size());
            FUZZ_CHECK(name.data() >= last);
            last = name.data() + name.size();
            CheckName(text, name);
        });
        return 0;
    }
    FindDeepLinks(text, [&](DeepLinkKind kind, std::string_view link) {
        FUZZ_CHECK(++found <= text.size());
        if (kind == DeepLinkKind::Name) {
            CheckName(text, link);
            return;
        }
        FUZZ_CHECK(StandsIn(text, link));
        const std::string path = ResolveBrowserPath("/dir/page.htm", link, kIsRouter);
        if (!path.empty()) {
            CheckRouterPath(path, false);
        }
    });
    return 0;
}
